// The console's --find after its search: its exit status, and whether it
// writes the map and says why not.
#include <gtest/gtest.h>

#include "keytest/FindEnding.h"
#include "keytest/KeyTestOptions.h"
#include "comdevices/ComDevices.h"
#include "portsetup/KeyFinder.h"
#include "portsetup/KeySearch.h"

using portsetup::Finding;

namespace {

// What the console's --find does after its search: a map is written only
// for a key found by a search that ran to its end, with --write-map.
TEST(FindEnding, WritesTheMapOnlyForAKeyFoundByAWholeSearch)
{
    const struct {
        Finding::Kind kind;
        bool writeMap, interrupted;
        int status;
        bool written, said;
    } cases[] = {
        {Finding::Kind::Found, true, false, keytest::KeyTestOk, true, false},
        {Finding::Kind::Found, false, false, keytest::KeyTestOk, false, true},
        {Finding::Kind::Found, true, true, keytest::KeyTestNoKeyFound, false, true},
        {Finding::Kind::Found, false, true, keytest::KeyTestOk, false, true},
        {Finding::Kind::NoneChanged, true, false, keytest::KeyTestNoKeyFound, false, false},
        {Finding::Kind::SeveralPorts, true, true, keytest::KeyTestNoKeyFound, false, false},
    };
    for (const auto &c : cases) {
        Finding finding;
        finding.kind = c.kind;
        const keytest::FindEnding ending = keytest::EndOfFind(finding, c.writeMap, c.interrupted);
        EXPECT_EQ(ending.status, c.status);
        EXPECT_EQ(ending.writeMap, c.written);
        EXPECT_EQ(!ending.said.empty(), c.said);
    }
}

// The console's search from its start to its status, with a key on COM5's
// DSR pressed three times: Ctrl+C, whenever it comes, is no finding to
// write; a search that runs to its end writes the map with --write-map.
TEST(FindOnTheConsole, CtrlCMeansNoMapWrittenWhenever)
{
    const struct {
        const char *name;
        int ctrlCAt;  // ms; -1: never
        bool writeMap;
        int status;
        bool written;
    } cases[] = {
        {"to its end", -1, true, keytest::KeyTestOk, true},
        {"to its end, no --write-map", -1, false, keytest::KeyTestOk, false},
        {"Ctrl+C after the third press", 1950, true, keytest::KeyTestNoKeyFound, false},
        {"Ctrl+C before any press", 200, true, keytest::KeyTestNoKeyFound, false},
    };
    for (const auto &c : cases) {
        sim::ComDevices devices;
        devices.Plug("COM5");
        std::vector<std::string> lines;
        const auto print = [&lines](const std::string &line) { lines.push_back(line); };
        portsetup::KeySearch search(devices, {3, 30}, "Ctrl+C stops it.", print);
        std::uint32_t now = 0;
        bool written = false;
        keytest::FindConsole console;
        console.ticks = [&now] { return now; };
        console.interrupted = [&](std::uint32_t ms) {
            for (std::uint32_t press = 500; press <= 1700; press += 600) {
                if (now == press)
                    devices.SetInput("COM5", uart::ModemLine::Dsr, true);
                if (now == press + 200)
                    devices.SetInput("COM5", uart::ModemLine::Dsr, false);
            }
            now += ms;
            devices.Advance(ms);
            return c.ctrlCAt >= 0 && now >= static_cast<std::uint32_t>(c.ctrlCAt);
        };
        console.writeMap = [&written](const Finding &) { return written = true; };
        console.print = print;
        portsetup::PortInfo com5;
        com5.name = "COM5";
        EXPECT_EQ(keytest::RunFind(search, {com5}, c.writeMap, console), c.status) << c.name;
        EXPECT_EQ(written, c.written) << c.name;
        EXPECT_EQ(devices.HandlesHeld(), 0u) << c.name;
    }
}

} // namespace
