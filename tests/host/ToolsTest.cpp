// The parts of the tools that run anywhere: key scripts and the key
// tester's command line.
#include <gtest/gtest.h>

#include "KeyTestOptions.h"
#include "sim/KeyScript.h"

namespace {

struct ScriptCase {
    const char *text;
    std::vector<std::pair<std::uint32_t, bool>> events; // empty with ok false: rejected
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
    std::vector<std::pair<std::uint32_t, bool>> got;
    for (const sim::KeyEvent &e : events)
        got.emplace_back(e.atMs, e.down);
    if (ok)
        EXPECT_EQ(got, GetParam().events) << GetParam().text;
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
    ScriptCase{"tap@9999999999", {}, false}));

TEST(KeyScriptPlayer, PlaysEachEventOnceWhenItsTimeHasCome)
{
    std::vector<sim::KeyEvent> events;
    std::string error;
    ASSERT_TRUE(sim::ParseKeyScript("tap@100 press@300", events, error));
    sim::KeyScriptPlayer player(events);
    sim::Uart16550 uart = sim::Uart16550::PowerOn(0x3F8);

    EXPECT_EQ(player.Advance(99, uart), 0u);
    EXPECT_EQ(player.Advance(100, uart), 1u);
    EXPECT_TRUE(uart.Cts());
    EXPECT_EQ(player.Advance(250, uart), 1u);
    EXPECT_FALSE(uart.Cts());
    uart.SetCts(true); // someone else presses; the script doesn't replay
    EXPECT_EQ(player.Advance(250, uart), 0u);
    EXPECT_FALSE(player.Finished());
    EXPECT_EQ(player.Advance(10000, uart), 1u);
    EXPECT_TRUE(player.Finished());
}

struct OptionsCase {
    std::vector<std::string> args;
    std::string error; // a fragment of the complaint; empty: accepted
};

std::ostream &operator<<(std::ostream &os, const OptionsCase &c)
{
    for (const std::string &arg : c.args)
        os << "'" << arg << "' ";
    return os;
}

class KeyTestCommandLine : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(KeyTestCommandLine, AcceptsOrNamesTheProblem)
{
    KeyTestOptions options;
    const std::string error = ParseKeyTestOptions(GetParam().args, options);
    if (GetParam().error.empty())
        EXPECT_EQ(error, "");
    else
        EXPECT_NE(error.find(GetParam().error), std::string::npos) << "got: " << error;
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyTestCommandLine, ::testing::Values(
    OptionsCase{{}, ""},
    OptionsCase{{"COM2", "--interval", "1", "--presses", "3", "--seconds", "0.5"}, ""},
    OptionsCase{{"--interval", "0"}, "--interval"},
    OptionsCase{{"--interval", "10001"}, "--interval"},
    OptionsCase{{"--interval"}, "--interval"},
    OptionsCase{{"--presses", "0"}, "--presses"},
    OptionsCase{{"--presses", "-1"}, "--presses"},
    OptionsCase{{"--seconds", "0"}, "--seconds"},
    OptionsCase{{"--seconds", "nan"}, "--seconds"},
    OptionsCase{{"--seconds", "1.5.2"}, "--seconds"},
    OptionsCase{{"--dll"}, "--dll"},
    OptionsCase{{"--verbose"}, "unknown option --verbose"},
    OptionsCase{{"COM1", "COM2"}, "only one parameter text"}));

TEST(KeyTestCommandLine, KeepsTheParameterTextAsGivenAndTellsNoneFromEmpty)
{
    KeyTestOptions none, empty, given;
    ASSERT_EQ(ParseKeyTestOptions({}, none), "");
    ASSERT_EQ(ParseKeyTestOptions({""}, empty), "");
    ASSERT_EQ(ParseKeyTestOptions({"COM9;2E8h", "--dll", "x.dll", "--io", "sim\\io.dll"}, given), "");
    EXPECT_FALSE(none.hasParameters);
    EXPECT_TRUE(empty.hasParameters);
    EXPECT_EQ(empty.parameters, "");
    EXPECT_EQ(given.parameters, "COM9;2E8h");
    EXPECT_EQ(given.dllPath, "x.dll");
    EXPECT_EQ(given.ioPath, "sim\\io.dll");
    EXPECT_EQ(none.intervalMs, 10u);
}

} // namespace
