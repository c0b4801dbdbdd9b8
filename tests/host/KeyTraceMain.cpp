// key_trace: a key test on simulated time, for checking the key tester's
// records with outside readers. The library (host build, over the simulator)
// is polled every 5 ms of simulated time while a key script works the key;
// the polls go through the tester's analysis, CSV log and VCD writer, and
// each event is printed the way the tester prints it.
//
// Usage: key_trace SCRIPT PARAMETERS SECONDS VCD_FILE CSV_FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "keytest/CsvLog.h"
#include "keytest/KeyAnalysis.h"
#include "keytest/KeyReport.h"
#include "keytest/ModemLines.h"
#include "keytest/PortPlan.h"
#include "keytest/VcdWriter.h"
#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"
#include "platform/Platform.h"
#include "sim/ScriptedKey.h"
#include "sim/World.h"

namespace {

constexpr int PollMs = 5;

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: key_trace SCRIPT PARAMETERS SECONDS VCD_FILE CSV_FILE\n");
        return 2;
    }
    std::vector<sim::KeyEvent> script;
    std::string error;
    if (!sim::ParseKeyScript(argv[1], script, error)) {
        std::fprintf(stderr, "key_trace: %s\n", error.c_str());
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
    ClearPortStateAsInANewProcess();
    LibraryLoad();
    const PortPlan plan = PlanPort(argv[2]);
    ZelbinStartListen(argv[2]);
    sim::ScriptedKey key(script);
    key.NoteWrite(world.machine(), plan.base);

    KeyAnalysis analysis(30);
    CsvLog log(csvFile);
    VcdWriter vcd(vcdFile, "2026-12-08T09:00:00.000");
    bool toggled = false;
    for (int ms = 0; ms <= totalMs; ms += PollMs) {
        key.Advance(world.machine(), static_cast<std::uint64_t>(ms));
        const double seconds = ms / 1000.0;
        const bool pressed = ZelbinIsZBToggle() != 0;
        if (pressed) {
            toggled = !toggled;
            ZelbinSetToggled(toggled ? 1 : 0);
        }
        const LineLevels lines = ReadModemLines(platform::GetPortBit, plan.base);
        vcd.Sample(seconds, lines.on[LineCts], lines.on[LineDtr], lines.on[LineRts], pressed);
        for (const KeyEvent &event : analysis.Poll(seconds, pressed, lines)) {
            const std::string state = std::string("toggled ") + (toggled ? "on, " : "off,") + " DTR " +
                                      (lines.on[LineDtr] ? "on" : "off");
            std::printf("%s\n", FormatEvent(event, state).c_str());
            const int at = 9 * 3600 * 1000 + ms;
            log.Write(event,
                      FormatWallClock(2026, 12, 8, at / 3600000, at / 60000 % 60, at / 1000 % 60, at % 1000),
                      lines.on[LineDtr]);
        }
    }
    ZelbinStopListen();
    vcd.Finish(totalMs / 1000.0);
    return vcdFile && csvFile ? 0 : 1;
}
