// A host of the key library for runs over the scripted device under Wine:
// loads the comm-port io.dll it is given (its port map beside it), then
// Zelbin_Serial.dll from this program's folder, which binds to the io.dll
// already loaded; starts listening and polls ZelbinIsZBToggle every
// INTERVAL ms for DURATION ms, turning its output line (DTR) over with
// ZelbinSetToggled at each reported press, as a host does.
//
// It prints "listening" once listening (the script's start), then, at the
// end, the io.dll's status text. Each poll goes to LOG as
//     poll START_NS END_NS ANSWER TOGGLED
// in CLOCK_REALTIME nanoseconds (Wine's precise system time), the device's
// own clock. The polls are kept in memory and written at the end, so that
// no file write delays one.
//
// Usage: scripted_port_host IO_DLL PARAMETER INTERVAL_MS DURATION_MS LOG
// Exit status: 0 done, 2 bad command line, 3 a library or the log failed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "CommPortIo.h"
#include "Zelbin_SerialLoader.h"

namespace {

struct Poll {
    long long startNs, endNs;
    bool answer, toggled;
};

long long NowNs()
{
    FILETIME time;
    GetSystemTimePreciseAsFileTime(&time);
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    constexpr unsigned long long UnixEpoch = 116444736000000000ULL; // 1970 in 100 ns from 1601
    return static_cast<long long>(ticks.QuadPart - UnixEpoch) * 100;
}

bool Milliseconds(const char *text, unsigned long low, unsigned long high, unsigned long &value)
{
    char *end = nullptr;
    value = std::strtoul(text, &end, 10);
    return *text >= '0' && *text <= '9' && *end == '\0' && value >= low && value <= high;
}

std::string FolderOfProgram()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

int Fail(const char *what, const char *detail)
{
    std::fprintf(stderr, "scripted_port_host: %s %s (error %lu)\n", what, detail, GetLastError());
    return 3;
}

} // namespace

int main(int argc, char **argv)
{
    unsigned long interval = 0, duration = 0;
    if (argc != 6 || !Milliseconds(argv[3], 1, 10000, interval) || !Milliseconds(argv[4], 1, 86400000, duration)) {
        std::fprintf(stderr, "Usage: scripted_port_host IO_DLL PARAMETER INTERVAL_MS(1-10000) DURATION_MS LOG\n");
        return 2;
    }
    HMODULE io = LoadLibraryA(argv[1]);
    if (!io)
        return Fail("can't load", argv[1]);
    const std::string library = FolderOfProgram() + "Zelbin_Serial.dll";
    HMODULE key = LoadLibraryA(library.c_str());
    ZelbinFunctions zelbin{};
    if (!key || ZelbinLoadFunctions(key, &zelbin) != nullptr)
        return Fail("can't load", library.c_str());
    const auto status = ZELBIN_PROC_CAST(CommIoStatusFn, GetProcAddress(io, "CommIoStatus"));
    if (!status)
        return Fail("no CommIoStatus in", argv[1]);

    timeBeginPeriod(1);
    zelbin.StartListen(argv[2]);
    std::printf("listening\n");
    std::fflush(stdout);

    std::vector<Poll> polls;
    polls.reserve(duration / interval + 16);
    const long long step = static_cast<long long>(interval) * 1000000;
    const long long start = NowNs(), end = start + static_cast<long long>(duration) * 1000000;
    bool toggled = false;
    for (long long due = start; due < end; due += step) {
        long long now = NowNs();
        if (now > due + step)
            due += (now - due) / step * step; // behind: the next poll due, not every one missed
        while ((now = NowNs()) < due)
            Sleep(static_cast<DWORD>((due - now) / 1000000));
        Poll poll{NowNs(), 0, false, false};
        poll.answer = zelbin.IsZBToggle() != 0;
        poll.endNs = NowNs();
        if (poll.answer) {
            toggled = !toggled;
            zelbin.SetToggled(toggled ? 1 : 0);
        }
        poll.toggled = toggled;
        polls.push_back(poll);
    }
    zelbin.StopListen();
    timeEndPeriod(1);
    std::printf("status %s\n", status());

    FILE *log = std::fopen(argv[5], "w");
    if (!log)
        return Fail("can't write", argv[5]);
    for (const Poll &poll : polls)
        std::fprintf(log, "poll %lld %lld %d %d\n", poll.startNs, poll.endNs, poll.answer ? 1 : 0,
                     poll.toggled ? 1 : 0);
    if (std::fclose(log) != 0)
        return Fail("can't write", argv[5]);
    return 0;
}
