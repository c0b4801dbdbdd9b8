// zelbin-keytest: tests a key on a serial port through Zelbin_Serial.dll,
// behaving like a careful host. With the real io.dll it is a field
// instrument; with the stand-in it is a demonstration.
//
// Everything that can run without Windows (the command line, the analysis
// of the polls, the texts, the records, the port plan) lives in the files
// beside this one and is tested on the build machine; this file binds them
// to the DLLs, the console and the clock.
#include <windows.h>

#include <mmsystem.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "CsvLog.h"
#include "KeyAnalysis.h"
#include "KeyReport.h"
#include "KeyTestOptions.h"
#include "ModemLines.h"
#include "PollTiming.h"
#include "PortPlan.h"
#include "SystemMessage.h"
#include "VcdWriter.h"
#include "Zelbin_Serial.h"

namespace {

HANDLE stopEvent = nullptr;        // set to end the test: Ctrl+C, Ctrl+Break, closing
HANDLE stoppedListening = nullptr; // set once the main loop has stopped listening

// Runs on a thread of its own. The library takes no lock, so the handler
// only wakes the polling loop and lets it stop listening. For Ctrl+C and
// Ctrl+Break that is all; when the console is closing, Windows ends the
// process as soon as the handler returns, so the handler waits for the loop.
BOOL WINAPI OnConsoleControl(DWORD event)
{
    SetEvent(stopEvent);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        WaitForSingleObject(stoppedListening, 4000);
    return TRUE;
}

std::string ErrorText(DWORD error, const std::string &subject)
{
    char *text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    const std::string raw = length ? std::string(text, length) : std::string();
    LocalFree(text);
    return TidySystemMessage(raw, subject, error);
}

std::string FullPath(const std::string &path)
{
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::string(full, length) : path;
}

std::string FileName(const std::string &path) { return path.substr(path.find_last_of("\\/") + 1); }

std::string BesideThisProgram(const char *name)
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder(self, length);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + name;
}

bool FileExists(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int Fail(const std::string &message)
{
    std::fprintf(stderr, "zelbin-keytest: %s\n", message.c_str());
    return KeyTestCannotRun;
}

template <typename Fn> Fn Export(HMODULE module, const char *name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

// io.dll's operations that the tester calls itself, to read the lines.
using IsDriverInstalledFn = BYTE(WINAPI *)(void);
using GetPortBitFn = WORD(WINAPI *)(WORD, BYTE);
using CommIoStatusFn = const char *(WINAPI *)(void);

// Time since the start, from the performance counter.
class Clock {
public:
    Clock()
    {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
        GetSystemTimeAsFileTime(&wallStart_);
    }
    double Seconds() const
    {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
    }
    // The local wall-clock time `seconds` after the start.
    std::string WallClock(double seconds) const
    {
        ULARGE_INTEGER utc;
        utc.LowPart = wallStart_.dwLowDateTime;
        utc.HighPart = wallStart_.dwHighDateTime;
        utc.QuadPart += static_cast<ULONGLONG>(seconds * 1e7);
        FILETIME at{utc.LowPart, utc.HighPart}, local;
        SYSTEMTIME t;
        if (!FileTimeToLocalFileTime(&at, &local) || !FileTimeToSystemTime(&local, &t))
            return "?";
        return FormatWallClock(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    }

private:
    LARGE_INTEGER frequency_, start_;
    FILETIME wallStart_;
};

// Prints events line by line and, on a console, keeps one status line below
// them rewritten in place.
class Screen {
public:
    Screen()
    {
        DWORD mode;
        console_ = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    }
    void Line(const std::string &text)
    {
        Clear();
        std::printf("%s\n", text.c_str());
        Status(status_);
    }
    void Status(const std::string &text)
    {
        if (!console_)
            return;
        // Kept within 79 columns: a wrapped line can't be rewritten in place.
        const std::string shown = text.substr(0, 79);
        if (shownLength_ != 0 && shown == status_)
            return;
        std::printf("\r%s", shown.c_str());
        if (shown.size() < shownLength_)
            std::printf("%*s", static_cast<int>(shownLength_ - shown.size()), "");
        shownLength_ = shown.size() > shownLength_ ? shown.size() : shownLength_;
        status_ = shown;
    }
    void Clear()
    {
        if (console_ && shownLength_)
            std::printf("\r%-*s\r", static_cast<int>(shownLength_), "");
        shownLength_ = 0;
    }
    void Finish()
    {
        Clear();
        status_.clear();
    }

private:
    bool console_ = false;
    std::string status_;
    std::size_t shownLength_ = 0;
};

// Raises the system timer's resolution for the life of the test, so that a
// wait of a few milliseconds lasts about that long instead of a 15.6 ms tick.
class TimerResolution {
public:
    TimerResolution()
    {
        TIMECAPS caps;
        if (timeGetDevCaps(&caps, sizeof caps) == MMSYSERR_NOERROR) {
            period_ = caps.wPeriodMin < 1 ? 1 : caps.wPeriodMin;
            if (timeBeginPeriod(period_) != TIMERR_NOERROR)
                period_ = 0;
        }
    }
    ~TimerResolution()
    {
        if (period_)
            timeEndPeriod(period_);
    }
    TimerResolution(const TimerResolution &) = delete;
    TimerResolution &operator=(const TimerResolution &) = delete;
    UINT Period() const { return period_; }

private:
    UINT period_ = 0;
};

const char *const OperationNames[] = {"IsDriverInstalled", "PortOut", "GetPortBit", "SetPortBit", "ClrPortBit"};

// Loads the io.dll given with --io, before Zelbin_Serial.dll looks for one.
std::string LoadIo(const std::string &given)
{
    const std::string io = FullPath(given);
    if (!FileExists(io))
        return "io.dll not found: " + io;
    // Windows binds Zelbin_Serial.dll's imports by module name: a library
    // loaded under any other name would be passed over for another io.dll.
    if (_stricmp(FileName(io).c_str(), "io.dll") != 0)
        return "--io must name a file called io.dll (Zelbin_Serial.dll imports it by that name): " + io;
    HMODULE module = LoadLibraryA(io.c_str());
    if (!module)
        return "cannot load " + io + " as io.dll: " + ErrorText(GetLastError(), io);
    for (const char *name : OperationNames)
        if (!GetProcAddress(module, name))
            return io + " was loaded as io.dll but has no " + name + "; it is not a port-I/O library";
    return {};
}

std::string DescribeIo(HMODULE io, bool &commio)
{
    commio = false;
    if (const auto status = Export<CommIoStatusFn>(io, "CommIoStatus")) {
        commio = true;
        const char *text = status();
        return std::string("commio io.dll, over the Windows serial driver: ") + (text ? text : "(no status)");
    }
    if (GetProcAddress(io, "SimGetModemControl"))
        return "stand-in io.dll: a simulated PC, no hardware";
    return "another io.dll (a port-I/O library with its own driver)";
}

} // namespace

int main(int argc, char **argv)
{
    KeyTestOptions options;
    const std::string usageError = ParseKeyTestOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    if (!usageError.empty()) {
        std::fprintf(stderr, "zelbin-keytest: %s\n(--help explains the options)\n", usageError.c_str());
        return KeyTestBadCommandLine;
    }
    if (options.help) {
        std::fputs(KeyTestUsage, stdout);
        return KeyTestOk;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);

    if (!options.ioPath.empty()) {
        const std::string error = LoadIo(options.ioPath);
        if (!error.empty())
            return Fail(error);
    }

    const std::string dll = FullPath(options.dllPath.empty() ? BesideThisProgram("Zelbin_Serial.dll") : options.dllPath);
    if (!FileExists(dll))
        return Fail("Zelbin_Serial.dll not found: " + dll);
    HMODULE module = LoadLibraryExA(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        const DWORD error = GetLastError();
        std::string message = "cannot load " + dll + ": " + ErrorText(error, dll);
        if (error == ERROR_MOD_NOT_FOUND)
            message += "\nIt needs io.dll beside it, beside this program or on PATH (or name one with --io).";
        else if (error == ERROR_PROC_NOT_FOUND)
            message += "\nThe io.dll that Windows found lacks an operation the library imports.";
        return Fail(message);
    }
    ZelbinFunctions lib;
    if (const char *missing = ZelbinLoadFunctions(module, &lib))
        return Fail(dll + " has no export " + missing + "; is it Zelbin_Serial.dll?");

    HMODULE io = GetModuleHandleA("io.dll");
    const auto isDriverInstalled = io ? Export<IsDriverInstalledFn>(io, "IsDriverInstalled") : nullptr;
    const auto getPortBit = io ? Export<GetPortBitFn>(io, "GetPortBit") : nullptr;
    if (!isDriverInstalled || !getPortBit)
        return Fail("the io.dll Zelbin_Serial.dll uses has no IsDriverInstalled or GetPortBit");
    char ioName[MAX_PATH] = "";
    GetModuleFileNameA(io, ioName, MAX_PATH);
    bool commio = false;
    const std::string ioKind = DescribeIo(io, commio);

    const PortPlan plan = PlanPort(options.hasParameters ? options.parameters.c_str() : nullptr);
    const bool driver = isDriverInstalled() != 0;

    // Preflight: what is in use and what the start will do.
    std::printf("Key tester for Zelbin_Serial.dll\n");
    std::printf("  library: %s\n", dll.c_str());
    // (The library's version line goes here.)
    std::printf("  io.dll : %s\n           %s\n", ioName, ioKind.c_str());
    std::printf("  driver : %s\n", driver ? "answers (IsDriverInstalled -> 1)"
                                          : "does not answer (IsDriverInstalled -> 0): the library will stay idle");
    std::printf("  port   : device \"%s\", UART at %s (address text \"%s\")\n", plan.portName.c_str(),
                HexBase(plan.base).c_str(), plan.addressText.c_str());
    std::vector<std::string> warnings = plan.warnings;
    if (commio) {
        std::printf("  device : not checked: the commio io.dll holds it\n");
    } else {
        // The library opens the device for exclusive use; try the same now
        // and let it go, so that a missing or busy port is named before the
        // test rather than silently ignored by the library.
        HANDLE device = CreateFileA(plan.portName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    0, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            std::printf("  device : cannot be opened\n");
            warnings.push_back("Windows can't open the device \"" + plan.portName +
                               "\": " + ErrorText(error, plan.portName) +
                               ". The library listens on the UART all the same, but doesn't hold the port.");
        } else {
            CloseHandle(device);
            std::printf("  device : opens (tried exclusively and closed again)\n");
        }
    }
    std::printf("ZelbinIsCustom -> %d\n", lib.IsCustom());
    for (const std::string &warning : warnings)
        std::printf("Warning: %s\n", warning.c_str());

    // The records, opened before listening starts so that a bad path ends
    // the test before it touches the port.
    std::ofstream logFile, vcdFile;
    if (!options.logPath.empty()) {
        logFile.open(options.logPath, std::ios::out | std::ios::trunc);
        if (!logFile)
            return Fail("cannot write the log " + FullPath(options.logPath));
    }
    if (!options.vcdPath.empty()) {
        vcdFile.open(options.vcdPath, std::ios::out | std::ios::trunc);
        if (!vcdFile)
            return Fail("cannot write the trace " + FullPath(options.vcdPath));
    }

    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    stoppedListening = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const TimerResolution timer;
    const Clock clock;
    SYSTEMTIME now;
    GetLocalTime(&now);
    const std::string startedAt = FormatWallClock(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                                                  now.wSecond, now.wMilliseconds);
    std::optional<CsvLog> log;
    std::optional<VcdWriter> vcd;
    if (logFile.is_open())
        log.emplace(logFile);
    if (vcdFile.is_open())
        vcd.emplace(vcdFile, startedAt);

    if (options.hasParameters) {
        std::printf("ZelbinStartListen(\"%s\")\n", options.parameters.c_str());
        lib.StartListen(options.parameters.c_str());
    } else {
        std::printf("ZelbinStartListen(NULL): the library's default, COM1 at 3F8h\n");
        lib.StartListen(nullptr);
    }
    bool toggled = options.dtr == DtrHold::On;
    if (options.dtr != DtrHold::None) {
        lib.SetToggled(toggled ? 1 : 0);
        std::printf("ZelbinSetToggled(%d): DTR held %s for the whole test\n", toggled ? 1 : 0, toggled ? "on" : "off");
    }
    // Lines are read only at a base the library accepts: another base may
    // belong to the motherboard's own devices.
    const auto read = [&] { return plan.baseAccepted ? ReadModemLines(getPortBit, plan.base) : LineLevels{}; };
    const LineLevels atStart = read();
    if (atStart.on[LineCts])
        std::printf("Warning: The key is already closed at start (CTS on): the first poll counts it as a press. "
                    "A key held down, or a CTS line stuck on, looks like this.\n");
    const std::string resolution = timer.Period() ? std::to_string(timer.Period()) + " ms" : "not raised";
    std::printf("Polling every %u ms (timer resolution %s); press the key. Ctrl+C ends.\n", options.intervalMs,
                resolution.c_str());

    // The lines as the start left them are where "never changed" counts from.
    KeyAnalysis analysis(options.chatterMs);
    analysis.Poll(clock.Seconds(), false, atStart);
    PollTiming timing;
    Screen screen;
    const auto state = [&](bool dtr) {
        if (options.dtr != DtrHold::None)
            return std::string("DTR held ") + (toggled ? "on" : "off");
        return std::string("toggled ") + (toggled ? "on, " : "off,") + " DTR " + (dtr ? "on" : "off");
    };
    bool timeUp = false, interrupted = false;
    double seconds = 0;
    while (true) {
        seconds = clock.Seconds();
        const bool pressed = lib.IsZBToggle() != 0;
        if (pressed && options.dtr == DtrHold::None) {
            toggled = !toggled;
            lib.SetToggled(toggled ? 1 : 0);
        }
        const LineLevels lines = read();
        timing.Poll(seconds);
        if (vcd)
            vcd->Sample(seconds, lines.on[LineCts], lines.on[LineDtr], lines.on[LineRts], pressed);
        for (const KeyEvent &event : analysis.Poll(seconds, pressed, lines)) {
            screen.Line(FormatEvent(event, state(lines.on[LineDtr])));
            if (log)
                log->Write(event, clock.WallClock(event.seconds), lines.on[LineDtr]);
        }
        const std::string shortState =
            options.dtr != DtrHold::None ? state(false) : std::string("toggled ") + (toggled ? "on" : "off");
        screen.Status(FormatStatusLine(lines, analysis.Presses(), shortState));
        if (options.presses && analysis.Presses() >= options.presses)
            break;
        const std::uint32_t wait = WaitBeforeNextPoll(options.intervalMs, clock.Seconds(), options.seconds);
        if (options.seconds > 0 && wait == 0) {
            timeUp = true;
            break;
        }
        if (WaitForSingleObject(stopEvent, wait) == WAIT_OBJECT_0) {
            interrupted = true;
            break;
        }
    }
    lib.StopListen();
    SetEvent(stoppedListening);
    seconds = clock.Seconds();
    screen.Finish();
    if (vcd)
        vcd->Finish(seconds);

    std::printf("ZelbinStopListen after %.2f s: %u press%s, toggled %s%s\n", seconds, analysis.Presses(),
                analysis.Presses() == 1 ? "" : "es", toggled ? "on" : "off",
                interrupted ? " (Ctrl+C)" : timeUp ? " (time up)" : "");
    for (const std::string &line : FormatSummary(analysis, timing, options.intervalMs))
        std::printf("%s\n", line.c_str());
    for (const std::string &hint : LineHints(analysis, options.dtr))
        std::printf("Hint: %s\n", hint.c_str());
    FreeLibrary(module);
    if ((log && !logFile) || (vcd && !vcdFile))
        return Fail("writing the log or the trace failed (disk full?): it is incomplete");
    if (options.presses && analysis.Presses() < options.presses) {
        std::printf("Fewer than the %u presses asked for.\n", options.presses);
        return KeyTestPressesNotReached;
    }
    return KeyTestOk;
}
