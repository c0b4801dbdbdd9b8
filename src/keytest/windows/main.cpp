// zelbin-keytest: tests a key on a serial port through Zelbin_Serial.dll,
// behaving like a careful host. With the real io.dll it is a field
// instrument; with the stand-in it is a demonstration.
//
// Everything that can run without Windows (the command line, the analysis
// of the polls, the texts, the records, the port plan) lives in the files
// beside this one and is tested on the build machine; this file binds them
// to the DLLs, the console and the clock.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "keytest/CsvLog.h"
#include "keytest/IoStatus.h"
#include "keytest/KeyTestOptions.h"
#include "keytest/KeyTestSession.h"
#include "keytest/PortPlan.h"
#include "ConsoleFind.h"
#include "ConsoleStop.h"
#include "WinClock.h"
#include "WinConsole.h"
#include "WinLibraries.h"
#include "WinPreflight.h"
#include "portsetup/WinErrors.h"
#include "portsetup/WinPaths.h"
#include "portsetup/WinPorts.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code
using portsetup::ErrorText;
using portsetup::FolderExists;
using portsetup::FullPath;

namespace {

int Fail(const std::string &message)
{
    std::fprintf(stderr, "zelbin-keytest: %s\n", message.c_str());
    return KeyTestCannotRun;
}

int BadCommandLine(const std::string &message)
{
    std::fprintf(stderr, "zelbin-keytest: %s\n(--help explains the options)\n", message.c_str());
    return KeyTestBadCommandLine;
}

// Polls at the interval asked for until the presses asked for, the time or
// Ctrl+C; says which.
KeyTestEnd PollUntilOver(KeyTestSession &session, HANDLE stop)
{
    while (true) {
        session.Poll();
        if (session.PressesReached())
            return KeyTestEnd::PressesReached;
        // A wait may end a little early: the rest of the interval is
        // waited again, so that polls keep the interval asked for.
        for (std::uint32_t wait = 1; wait != 0;) {
            if (session.TimeUp())
                return KeyTestEnd::TimeUp;
            wait = session.WaitMs();
            if (wait != 0 && WaitForSingleObject(stop, wait) == WAIT_OBJECT_0)
                return KeyTestEnd::Interrupted;
        }
    }
}

// A record's file, opened (emptied) before listening starts so that a bad
// path ends the test before the library claims the port. Empty, or why not.
std::string OpenRecord(std::ofstream &file, const std::string &path, const char *what)
{
    if (path.empty())
        return {};
    // The writers end each line as a Windows text file does; binary, so
    // that nothing is added to that.
    file.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
    return file ? std::string() : std::string("cannot write the ") + what + " " + FullPath(path);
}

// A test through the DLL: the preflight, the polls, the summary.
int RunTest(const KeyTestOptions &options)
{
    Libraries libraries;
    const std::string loadError = LoadLibraries(options, libraries);
    if (!loadError.empty())
        return Fail(loadError);
    const PortPlan plan = PlanPort(options.hasParameters ? options.parameters.c_str() : nullptr);
    PrintPreflight(libraries, plan);

    std::ofstream logFile, vcdFile;
    std::string recordError = OpenRecord(logFile, options.logPath, "log");
    if (recordError.empty()) // a trace already there stays as it is when the log can't be written
        recordError = OpenRecord(vcdFile, options.vcdPath, "trace");
    if (!recordError.empty())
        return Fail(recordError);

    // The library takes no lock, so Ctrl+C only wakes the polling loop and
    // lets it stop listening. Without the events the poll couldn't wait and
    // Ctrl+C couldn't end it.
    ConsoleStop stop;
    if (!stop.Ready())
        return Fail("cannot create an event: " + ErrorText(GetLastError(), "event"));
    const TimerResolution timer;
    Clock clock;
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string startedAt = FormatWallClock(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                                  now.wSecond, now.wMilliseconds);
    Screen screen;
    LoadedTarget target(libraries);
    KeyTestSession session(options, plan, target, clock, screen, logFile.is_open() ? &logFile : nullptr,
                           vcdFile.is_open() ? &vcdFile : nullptr, startedAt);

    KeyTestEnd end = KeyTestEnd::TimeUp;
    if (session.Start()) {
        const std::string resolution = timer.Period() ? std::to_string(timer.Period()) + " ms" : "not raised";
        screen.Line("Polling every " + std::to_string(options.intervalMs) + " ms (timer resolution " + resolution +
                    "); press the key. Ctrl+C ends.");
        end = PollUntilOver(session, stop.Event());
    }
    session.Stop(end);
    stop.Done();
    screen.Finish();
    const int status = session.Report();
    UnloadLibraries(libraries);
    if ((logFile.is_open() && !logFile) || (vcdFile.is_open() && !vcdFile))
        return Fail("writing the log or the trace failed (disk full?): it is incomplete");
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    KeyTestOptions options;
    const std::string usageError = ParseKeyTestOptions(std::vector<std::string>(argv + 1, argv + argc), options,
                                                       [](const std::string &path) { return FolderExists(FullPath(path)); });
    if (!usageError.empty())
        return BadCommandLine(usageError);
    if (options.help) {
        std::fputs(KeyTestUsage, stdout);
        return KeyTestOk;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (options.listPorts) {
        portsetup::PrintPortList(PortMapPathFor(options));
        return KeyTestOk;
    }
    if (options.find)
        return FindKeyOnConsole(options);
    return RunTest(options);
}
