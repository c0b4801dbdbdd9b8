// The scripted device's scripts, random scripts and command line.
#include <gtest/gtest.h>

#include <algorithm>

#include "ttydev/Options.h"
#include "ttydev/Script.h"

namespace {

using namespace ttydev;

struct ScriptCase {
    const char *text;
    std::size_t keyEvents;
    std::vector<std::string> plugs; // "u@MS", "r@MS" or "r@MS/NAME"; ignored when `error` is set
    const char *error;              // a part of the message, or null when the script is good
};

std::ostream &operator<<(std::ostream &os, const ScriptCase &c) { return os << "'" << c.text << "'"; }

class DeviceScripts : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(DeviceScripts, ParseIntoKeyEventsAndPlugEvents)
{
    DeviceScript script;
    std::string error;
    const bool ok = ParseDeviceScript(GetParam().text, script, error);
    if (GetParam().error) {
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
        return;
    }
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(script.key.size(), GetParam().keyEvents);
    std::vector<std::string> plugs;
    for (const PlugEvent &e : script.plugs)
        plugs.push_back(std::string(e.plugged ? "r@" : "u@") + std::to_string(e.atMs) +
                        (e.port.empty() ? "" : "/" + e.port));
    EXPECT_EQ(plugs, GetParam().plugs);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceScripts, ::testing::Values(
    ScriptCase{"tap@300 bounce@500/20", 8, {}, nullptr},
    ScriptCase{"replug@900/com12 press@10 unplug@200 release@50", 2, {"u@200", "r@900/com12"}, nullptr},
    ScriptCase{"unplug@1 replug@2 unplug@3", 0, {"u@1", "r@2", "u@3"}, nullptr},
    ScriptCase{"hold@5", 0, {}, "the action is press, release, tap, bounce, unplug or replug"},
    ScriptCase{"replug@100", 0, {}, "the device is not unplugged then"},
    ScriptCase{"unplug@1 unplug@2", 0, {}, "unplugged already"},
    ScriptCase{"unplug@1 replug@2/LPT1", 0, {}, "takes a COM name"},
    ScriptCase{"unplug@1/COM9", 0, {}, "unplug takes no name"},
    ScriptCase{"unplug@x", 0, {}, "expected ACTION@MILLISECONDS"},
    ScriptCase{"press@10/COM5", 0, {}, "expected ACTION@MILLISECONDS"}));

TEST(DeviceScript, KeyChangesAreChangesOfLevelFromTheOrigin)
{
    DeviceScript script;
    std::string error;
    ASSERT_TRUE(ParseDeviceScript("press@0 press@10 release@20 release@30 tap@40", script, error));
    const std::vector<Change> changes = KeyChanges(script.key, 5000);
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[0].atNs, 5000);
    EXPECT_EQ(changes[1].atNs, 5000 + 20000000);
    EXPECT_EQ(changes[1].down, 0u);
    EXPECT_EQ(changes[3].atNs, 5000 + 140000000);
}

TEST(DeviceScript, ComNamesAreCom1ToCom256)
{
    for (const auto &[name, number] : std::vector<std::pair<const char *, unsigned>>{
             {"COM1", 1}, {"com12", 12}, {"CoM256", 256}, {"COM257", 0}, {"COM0", 0}, {"COM05", 0}, {"COM", 0},
             {"LPT1", 0}, {"COM1x", 0}, {"COM1000", 0}})
        EXPECT_EQ(ComNumber(name), number) << name;
}

TEST(RandomScripts, AreTheSameForTheSameSeedAndKeepTheirPromises)
{
    RandomPlan plan;
    plan.seed = 7;
    plan.presses = 300;
    plan.pollMs = 20;
    plan.removals = 2;
    const std::string text = RandomScript(plan);
    EXPECT_EQ(text, RandomScript(plan));
    plan.seed = 8;
    EXPECT_NE(text, RandomScript(plan));

    DeviceScript script;
    std::string error;
    ASSERT_TRUE(ParseDeviceScript(text, script, error)) << error;
    const std::vector<Change> changes = KeyChanges(script.key, 0);
    ASSERT_EQ(changes.size(), 600u) << "every press its own, even a close one";
    ASSERT_EQ(script.plugs.size(), 4u);
    std::size_t close = 0;
    for (std::size_t i = 0; i < changes.size(); i += 2) {
        const std::int64_t length = (changes[i + 1].atNs - changes[i].atNs) / 1000000;
        EXPECT_GE(length, MinPressMs);
        EXPECT_LE(length, MaxPressMs);
        if (i > 0 && changes[i].atNs - changes[i - 1].atNs <= 2 * 20 * 1000000)
            ++close;
        for (std::size_t p = 0; p < script.plugs.size(); p += 2) {
            const std::int64_t out = script.plugs[p].atMs * 1000000LL;
            const std::int64_t back = (script.plugs[p + 1].atMs + 500 + 20) * 1000000LL;
            EXPECT_FALSE(changes[i + 1].atNs >= out && changes[i].atNs <= back)
                << "a press while the device is out or not yet opened again";
        }
    }
    EXPECT_GT(close, 20u);
    EXPECT_LT(close, 80u);
}

struct CommandLine {
    std::vector<std::string> args;
    const char *error; // a part of the message, or null
};

class Commands : public ::testing::TestWithParam<CommandLine> {};

TEST_P(Commands, AreTakenOrRefusedSayingWhy)
{
    Options options;
    const std::string error = ParseOptions(GetParam().args, options);
    if (!GetParam().error)
        EXPECT_EQ(error, "");
    else
        EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

const std::vector<std::string> Run = {"run", "--prefix", "p", "--port", "COM10", "--record", "r"};
std::vector<std::string> RunWith(std::vector<std::string> more)
{
    std::vector<std::string> args = Run;
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

INSTANTIATE_TEST_SUITE_P(Cases, Commands, ::testing::Values(
    CommandLine{RunWith({"--behaviour", "stale", "--line", "DSR", "--script", "tap@5", "--", "x.exe", "--a"}),
                nullptr},
    CommandLine{{"random", "--seed", "0", "--presses", "5", "--poll", "500", "--removals", "1"}, nullptr},
    CommandLine{{"judge", "--record", "r", "--polls", "p", "--unseen", "--quiet-from", "500"}, nullptr},
    CommandLine{{}, "a command is needed"},
    CommandLine{{"walk"}, "unknown command 'walk'"},
    CommandLine{RunWith({}), "needs a program to run"},
    CommandLine{RunWith({"--behaviour", "lazy", "--", "x"}), "behaviour 'lazy' unknown"},
    CommandLine{RunWith({"--line", "RTS", "--", "x"}), "line 'RTS' unknown"},
    CommandLine{RunWith({"--script", "tap@x", "--", "x"}), "script: 'tap@x'"},
    CommandLine{RunWith({"--script", "unplug@1 replug@2/COM3", "--", "x"}), "COM1 to COM4 are the prefix's own"},
    CommandLine{RunWith({"--timeout", "-1", "--", "x"}), "not a number of seconds"},
    CommandLine{RunWith({"--script", "--", "x"}), "--script needs a value"},
    CommandLine{{"run", "--prefix", "p", "--port", "COM2", "--record", "r", "--", "x"}, "prefix's own"},
    CommandLine{{"run", "--port", "COM9", "--", "x"}, "needs --prefix, --port and --record"},
    CommandLine{{"random", "--seed", "1", "--presses", "0", "--poll", "20"}, "--presses takes a whole number"},
    CommandLine{{"random", "--seed", "1", "--presses", "3", "--poll", "20", "--removals", "3"}, "fewer than"},
    CommandLine{{"judge", "--record", "r"}, "needs --record and --polls"},
    CommandLine{{"judge", "--record", "r", "--polls", "p", "--quiet-from", "soon"}, "not a number"}));

} // namespace
