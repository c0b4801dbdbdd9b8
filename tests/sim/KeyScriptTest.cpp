// Key scripts: the text a test or the virtual key plays ("tap@300
// bounce@900/40"), read into events in time order, and played onto a UART
// once each when its time has come.
#include <gtest/gtest.h>

#include "SimTest.h"
#include "sim/KeyScript.h"
#include "sim/SimUart.h"

namespace {

struct ScriptCase {
    const char *text;
    Timeline events; // empty with ok false: rejected
    bool ok;
};

std::ostream &operator<<(std::ostream &os, const ScriptCase &c) { return os << "'" << c.text << "'"; }

class KeyScriptParsing : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(KeyScriptParsing, GivesEventsInTimeOrder)
{
    std::vector<sim::KeyEvent> events;
    std::string error;
    const bool ok = sim::ParseKeyScript(GetParam().text, events, error, 50);
    ASSERT_EQ(ok, GetParam().ok) << GetParam().text << ": " << error;
    if (ok)
        EXPECT_EQ(TimelineOf(events), GetParam().events) << GetParam().text;
    else
        EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyScriptParsing, ::testing::Values(
    ScriptCase{"", {}, true},
    ScriptCase{"tap@300", {{300, true}, {350, false}}, true},
    ScriptCase{"press@200,release@450", {{200, true}, {450, false}}, true},
    ScriptCase{" tap@100 ,, tap@120 ", {{100, true}, {120, true}, {150, false}, {170, false}}, true},
    ScriptCase{"release@900 press@100", {{100, true}, {900, false}}, true},
    ScriptCase{"tap", {}, false},
    ScriptCase{"tap@", {}, false},
    ScriptCase{"tap@-5", {}, false},
    ScriptCase{"hold@100", {}, false},
    ScriptCase{"tap@1e3", {}, false},
    ScriptCase{"tap@9999999999", {}, false},
    // A bounce closes, opens and closes again (twice by default, every 15
    // ms), then holds the tap length before the release.
    ScriptCase{"bounce@100", {{100, true}, {115, false}, {130, true}, {145, false}, {160, true}, {210, false}}, true},
    ScriptCase{"bounce@0/40 tap@500", {{0, true}, {40, false}, {80, true}, {120, false}, {160, true}, {210, false},
                                       {500, true}, {550, false}}, true},
    ScriptCase{"bounce@999999999/60000", {{999999999, true}, {1000059999, false}, {1000119999, true},
                                          {1000179999, false}, {1000239999, true}, {1000240049, false}}, true},
    ScriptCase{"bounce@100/0", {}, false},
    ScriptCase{"bounce@100/", {}, false},
    ScriptCase{"bounce@100/60001", {}, false},
    ScriptCase{"tap@100/40", {}, false}));

TEST(KeyScriptPlayer, PlaysEachEventOnceWhenItsTimeHasCome)
{
    std::vector<sim::KeyEvent> events;
    std::string error;
    ASSERT_TRUE(sim::ParseKeyScript("tap@100 press@300", events, error));
    sim::KeyScriptPlayer player(events);
    uart::Uart16550 uart = uart::Uart16550::PowerOn(0x3F8);

    EXPECT_EQ(player.Advance(99, uart), 0u);
    EXPECT_EQ(player.Advance(100, uart), 1u);
    EXPECT_TRUE(sim::LineOn(uart, uart::ModemLine::Cts));
    EXPECT_EQ(player.Advance(250, uart), 1u);
    EXPECT_FALSE(sim::LineOn(uart, uart::ModemLine::Cts));
    sim::SetCts(uart, true); // someone else presses; the script doesn't replay
    EXPECT_EQ(player.Advance(250, uart), 0u);
    EXPECT_FALSE(player.Finished());
    EXPECT_EQ(player.Advance(10000, uart), 1u);
    EXPECT_TRUE(player.Finished());
}

} // namespace
