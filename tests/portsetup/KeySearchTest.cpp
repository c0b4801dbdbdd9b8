// The search for the key as the console and the window both run it: what it
// prints, when it ends, and that it gives every port back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "PortSetupTest.h"
#include "comdevices/ComDevices.h"
#include "portsetup/KeySearch.h"

using namespace portsetup; // the port set-up's own names, unqualified as in its own code

namespace {

using portsetup::PortInfo;

struct SearchRun {
    sim::ComDevices devices;
    std::vector<std::string> lines;
    std::vector<PortInfo> listed;

    void List(const char *name)
    {
        devices.Plug(name);
        listed.push_back(UsbPort(name));
    }
    portsetup::KeySearch Search(double seconds)
    {
        return portsetup::KeySearch(devices, SearchLimits{3, seconds}, "Esc stops it.",
                                  [this](const std::string &line) { lines.push_back(line); });
    }
    bool Printed(const std::string &line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
};

// Three presses of a key on DSR: every port watched is named, the presses
// asked for, each press printed as it comes with its running count, and
// the search ends a second after the third press with every port given
// back and the finding told.
TEST(KeySearch, PrintsWhatTheConsoleAndTheWindowShow)
{
    SearchRun run;
    run.List("COM3");
    run.List("COM5");
    portsetup::KeySearch search = run.Search(30);
    search.Begin(run.listed, 0);
    std::uint32_t now = 0;
    bool over = false;
    for (; now <= 6000 && !over; now += 10) {
        for (std::uint32_t press = 500; press <= 1700; press += 600) {
            if (now == press)
                run.devices.SetInput("COM5", uart::ModemLine::Dsr, true);
            if (now == press + 200)
                run.devices.SetInput("COM5", uart::ModemLine::Dsr, false);
        }
        over = search.Poll(now);
        run.devices.Advance(10);
    }
    EXPECT_TRUE(over);
    EXPECT_LT(now, 4000u) << "a second after the third press, not at the time limit";
    const portsetup::Finding finding = search.End();
    EXPECT_EQ(finding.kind, portsetup::Finding::Kind::Found);
    const std::vector<std::string> start(run.lines.begin(), run.lines.begin() + 4);
    EXPECT_EQ(start, (std::vector<std::string>{
                         "Finding the key on 2 serial ports.", "  watching COM3 (USB Serial Port (COM3))",
                         "  watching COM5 (USB Serial Port (COM5))",
                         "Press the key 3 times now, briefly, with a pause between. The search ends a second after "
                         "press 3, or after 30 s; Esc stops it."}));
    // A count of presses seen on the line, each printed once.
    for (const char *change : {"  COM5 DSR changed (1)", "  COM5 DSR changed (2)", "  COM5 DSR changed (3)"})
        EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), change), 1) << change;
    EXPECT_FALSE(run.Printed("  COM5 DSR changed (4)"));
    EXPECT_FALSE(run.Printed("  COM3 DSR changed (1)"));
    EXPECT_TRUE(run.Printed("Every port searched is closed, its lines off."));
    EXPECT_EQ(run.devices.HandlesHeld(), 0u);
    EXPECT_EQ(run.devices.Opens(), run.devices.Closes());
}

// The line the finding says carries the key is the one the map there takes
// (a key beside another key's line gets its own UART's), not a line for a
// map of this key alone; where the map can't tell, or nobody asks, that is
// the line said.
TEST(KeySearch, SaysTheMapLineTheMapThereTakes)
{
    const struct {
        const char *name;
        bool asked;          // a map line is asked for
        const char *theMaps; // what the map there takes; empty: it can't tell
        const char *said;
    } cases[] = {
        {"nobody asks", false, "", "  any = COM5 line=DSR"},
        {"beside another key's line", true, "2F8 = COM5 line=DSR", "  2F8 = COM5 line=DSR"},
        {"a map that can't tell", true, "", "  any = COM5 line=DSR"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SearchRun run;
        run.List("COM5");
        portsetup::KeySearch search = run.Search(30);
        if (c.asked)
            search.MapLineFrom([&](const portsetup::Finding &finding) {
                EXPECT_EQ(finding.port, "COM5");
                return std::string(c.theMaps);
            });
        search.Begin(run.listed, 0);
        bool over = false;
        for (std::uint32_t now = 0; now <= 6000 && !over; now += 10) {
            for (std::uint32_t press = 500; press <= 1700; press += 600) {
                if (now == press)
                    run.devices.SetInput("COM5", uart::ModemLine::Dsr, true);
                if (now == press + 200)
                    run.devices.SetInput("COM5", uart::ModemLine::Dsr, false);
            }
            over = search.Poll(now);
            run.devices.Advance(10);
        }
        ASSERT_EQ(search.End().kind, portsetup::Finding::Kind::Found);
        const auto at = std::find_if(run.lines.begin(), run.lines.end(), [](const std::string &line) {
            return line.find("carries it with the line:") != std::string::npos;
        });
        ASSERT_NE(at, run.lines.end());
        ASSERT_NE(at + 1, run.lines.end());
        EXPECT_EQ(*(at + 1), c.said);
    }
}

// The time limit counts on a 32-bit tick that wraps during the search.
TEST(KeySearch, EndsOnTimeAcrossTheTicksWrap)
{
    SearchRun run;
    run.List("COM5");
    portsetup::KeySearch search = run.Search(2);
    const std::uint32_t start = 0xFFFFFC18u; // a second before the wrap
    search.Begin(run.listed, start);
    EXPECT_FALSE(search.Poll(start + 1999u));
    EXPECT_TRUE(search.Poll(start + 2000u));
    const portsetup::Finding finding = search.End("Stopped (Ctrl+C). ");
    EXPECT_EQ(finding.kind, portsetup::Finding::Kind::NoneChanged);
    EXPECT_TRUE(run.Printed("Stopped (Ctrl+C). Every port searched is closed, its lines off."));
}

// Limits left at 0 are the defaults: three presses, and 30 s, not none.
TEST(KeySearch, LimitsNotGivenAreTheDefaults)
{
    SearchRun run;
    run.List("COM5");
    portsetup::KeySearch search(run.devices, SearchLimits{}, "", [&run](const std::string &line) {
        run.lines.push_back(line);
    });
    EXPECT_EQ(search.Presses(), portsetup::FindDefaultPresses);
    search.Begin(run.listed, 1000);
    EXPECT_FALSE(search.Poll(1000));
    EXPECT_FALSE(search.Poll(1000 + 29999));
    EXPECT_TRUE(search.Poll(1000 + 30000));
    search.End();
    EXPECT_TRUE(std::any_of(run.lines.begin(), run.lines.end(), [](const std::string &line) {
        return line.find("after press 3, or after 30 s") != std::string::npos;
    }));
}

// Nothing to watch: no instruction to press, over at the first poll.
TEST(KeySearch, WithNoPortSaysSoAndEndsAtOnce)
{
    SearchRun run;
    portsetup::KeySearch search = run.Search(30);
    search.Begin({}, 0);
    EXPECT_TRUE(search.Poll(10));
    EXPECT_EQ(search.End().kind, portsetup::Finding::Kind::NothingToWatch);
    EXPECT_TRUE(run.Printed("Finding the key on 0 serial ports."));
    EXPECT_FALSE(std::any_of(run.lines.begin(), run.lines.end(),
                             [](const std::string &line) { return line.rfind("Press the key", 0) == 0; }));
}

} // namespace
