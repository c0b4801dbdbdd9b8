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
#include <optional>
#include <string>
#include <vector>

#include "keytest/CsvLog.h"
#include "keytest/KeyAnalysis.h"
#include "keytest/KeyReport.h"
#include "keytest/KeyTestOptions.h"
#include "keytest/ModemLines.h"
#include "keytest/PollTiming.h"
#include "keytest/PortPlan.h"
#include "keytest/VcdWriter.h"
#include "WinClock.h"
#include "WinConsole.h"
#include "WinFinder.h"
#include "WinLibraries.h"
#include "WinPorts.h"
#include "WinPreflight.h"
#include "WinSupport.h"

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

int Fail(const std::string &message)
{
    std::fprintf(stderr, "zelbin-keytest: %s\n", message.c_str());
    return KeyTestCannotRun;
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
    if (options.listPorts)
        return ListPorts(options);
    if (options.find)
        return FindKey(options);

    Libraries libraries;
    const std::string loadError = LoadLibraries(options, libraries);
    if (!loadError.empty())
        return Fail(loadError);
    const ZelbinFunctions &lib = libraries.zelbin;
    const PortPlan plan = PlanPort(options.hasParameters ? options.parameters.c_str() : nullptr);
    PrintPreflight(libraries, plan);

    // The records, opened before listening starts so that a bad path ends
    // the test before the library claims the port.
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
    // Without them the poll couldn't wait and Ctrl+C couldn't end it.
    if (!stopEvent || !stoppedListening)
        return Fail("cannot create an event: " + ErrorText(GetLastError(), "event"));
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
    const auto read = [&] {
        return plan.baseAccepted ? ReadModemLines(libraries.getPortBit, plan.base) : LineLevels{};
    };
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
    FreeLibrary(libraries.dll);
    if ((log && !logFile) || (vcd && !vcdFile))
        return Fail("writing the log or the trace failed (disk full?): it is incomplete");
    if (options.presses && analysis.Presses() < options.presses) {
        std::printf("Fewer than the %u presses asked for.\n", options.presses);
        return KeyTestPressesNotReached;
    }
    return KeyTestOk;
}
