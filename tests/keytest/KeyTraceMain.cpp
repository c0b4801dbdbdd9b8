// key_trace: a key test on simulated time, for checking the key tester's
// records with outside readers. The library (host build, over the simulator)
// is polled every 5 ms of simulated time while a key script works the key;
// the polls go through the tester's own test session, so the events, the
// CSV log, the VCD trace and the summary are the tester's.
//
// Usage: key_trace SCRIPT PARAMETERS SECONDS VCD_FILE CSV_FILE [OFF_MS-ON_MS]
// The last argument takes the driver away at OFF_MS and back at ON_MS.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "keytest/CsvLog.h"
#include "keytest/KeyTestSession.h"
#include "uart/ModemLines.h"
#include "keytest/PortPlan.h"
#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"
#include "platform/Platform.h"
#include "sim/ScriptedKey.h"
#include "sim/World.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

constexpr int PollMs = 5;

class SimulatedTarget : public KeyTestTarget {
public:
    void StartListen(const char *params) override { ZelbinStartListen(params); }
    bool IsZBToggle() override { return ZelbinIsZBToggle() != 0; }
    void SetToggled(bool on) override { ZelbinSetToggled(on ? 1 : 0); }
    void StopListen() override { ZelbinStopListen(); }
    bool DriverAnswers() override { return platform::IsDriverInstalled() != 0; }
    LineLevels ReadLines(std::uint16_t base) override { return uart::ReadModemLines(platform::GetPortBit, base); }
    bool UartAnswers(std::uint16_t base) override { return uart::UartAnswersAt(platform::GetPortBit, base); }
};

// Simulated time from 09:00:00.000 on the day of the trace.
class SimulatedClock : public KeyTestClock {
public:
    int ms = 0;
    double Seconds() override { return ms / 1000.0; }
    std::string WallClock(double seconds) override
    {
        const long at = 9L * 3600 * 1000 + std::lround(seconds * 1000);
        return FormatWallClock(2026, 12, 8, static_cast<int>(at / 3600000), static_cast<int>(at / 60000 % 60),
                               static_cast<int>(at / 1000 % 60), static_cast<int>(at % 1000));
    }
};

class PrintedOutput : public KeyTestOutput {
public:
    void Line(const std::string &text) override { std::printf("%s\n", text.c_str()); }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: key_trace SCRIPT PARAMETERS SECONDS VCD_FILE CSV_FILE [OFF_MS-ON_MS]\n");
        return 2;
    }
    std::vector<sim::KeyEvent> script;
    std::string error;
    if (!sim::ParseKeyScript(argv[1], script, error)) {
        std::fprintf(stderr, "key_trace: %s\n", error.c_str());
        return 2;
    }
    int offMs = -1, onMs = -1;
    if (argc == 7 && std::sscanf(argv[6], "%d-%d", &offMs, &onMs) != 2) {
        std::fprintf(stderr, "key_trace: the driver's outage is OFF_MS-ON_MS, not '%s'\n", argv[6]);
        return 2;
    }
    const int totalMs = static_cast<int>(std::atof(argv[3]) * 1000);
    std::ofstream vcdFile(argv[4]), csvFile(argv[5]);
    if (!vcdFile || !csvFile) {
        std::fprintf(stderr, "key_trace: cannot write the records\n");
        return 1;
    }

    sim::World &world = sim::TheWorld();
    world.Reset();
    library::portState = library::PortState{};
    library::Load();
    KeyTestOptions options;
    options.hasParameters = true;
    options.parameters = argv[2];
    options.intervalMs = PollMs;
    options.seconds = totalMs / 1000.0;
    const PortPlan plan = PlanPort(argv[2]);
    SimulatedTarget target;
    SimulatedClock clock;
    PrintedOutput output;
    KeyTestSession session(options, plan, target, clock, output, &csvFile, &vcdFile, "2026-12-08T09:00:00.000");
    sim::ScriptedKey key(script);

    if (session.Start()) {
        key.NoteWrite(world.machine(), plan.base);
        for (; clock.ms <= totalMs; clock.ms += PollMs) {
            if (clock.ms == offMs || clock.ms == onMs)
                world.SetDriverInstalled(clock.ms == onMs);
            key.Advance(world.machine(), static_cast<std::uint64_t>(clock.ms));
            session.Poll();
        }
        clock.ms = totalMs;
    }
    session.Stop(KeyTestEnd::TimeUp);
    const int status = session.Report();
    return vcdFile && csvFile ? status : 1;
}
