// The scripted device's scripts, random scripts and command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "ttydev/Options.h"
#include "ttydev/Script.h"

namespace {

using namespace ttydev;

struct ScriptCase {
    const char *text;
    std::size_t keyEvents;
    std::vector<std::string> plugs; // "u@MS", "r@MS" or "r@MS/NAME"; ignored when `error` is set
    std::vector<std::string> lines; // "DSR+US" (on), "DSR-US" (off); ignored when `error` is set
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
    std::vector<std::string> lines;
    for (const LineEvent &e : script.lines)
        lines.push_back(LineName(e.line) + std::string(e.on ? "+" : "-") + std::to_string(e.atUs));
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Cases, DeviceScripts, ::testing::Values(
    ScriptCase{"tap@300 bounce@500/20", 8, {}, {}, nullptr},
    ScriptCase{"replug@900/com12 press@10 unplug@200 release@50", 2, {"u@200", "r@900/com12"}, {}, nullptr},
    ScriptCase{"unplug@1 replug@2 unplug@3", 0, {"u@1", "r@2", "u@3"}, {}, nullptr},
    ScriptCase{"ri-off@9 dsr-pulse@5/0.5 press@5 dcd-on@7 cts-pulse@8", 1, {},
               {"DSR+5000", "DSR-5500", "DCD+7000", "CTS+8000", "RI-9000", "CTS-9000"}, nullptr},
    ScriptCase{"ri-pulse@1/2.25 dsr-pulse@2/0.001 dcd-pulse@3/60000", 0, {},
               {"RI+1000", "DSR+2000", "DSR-2001", "DCD+3000", "RI-3250", "DCD-60003000"}, nullptr},
    ScriptCase{"hold@5", 0, {}, {}, "the action is press, release, tap, bounce, unplug, replug, cts-on"},
    ScriptCase{"dtr-on@5", 0, {}, {}, "ri-off or ri-pulse"},
    ScriptCase{"DSR-on@5", 0, {}, {}, "the action is"},
    ScriptCase{"dsr-on@5/2", 0, {}, {}, "dsr-on takes no length"},
    ScriptCase{"dsr-pulse@5/0", 0, {}, {}, "a pulse lasts 0.001 to 60000 ms"},
    ScriptCase{"dsr-pulse@5/0.0004", 0, {}, {}, "a pulse lasts"},
    ScriptCase{"dcd-pulse@5/60000.001", 0, {}, {}, "a pulse lasts"},
    ScriptCase{"ri-pulse@5/1.", 0, {}, {}, "a pulse lasts"},
    ScriptCase{"ri-pulse@5/x", 0, {}, {}, "a pulse lasts"},
    ScriptCase{"ri-pulse@5/", 0, {}, {}, "a pulse lasts"},
    ScriptCase{"dsr-pulse@5.5", 0, {}, {}, "expected ACTION@MILLISECONDS"},
    ScriptCase{"replug@100", 0, {}, {}, "the device is not unplugged then"},
    ScriptCase{"unplug@1 unplug@2", 0, {}, {}, "unplugged already"},
    ScriptCase{"unplug@1 replug@2/LPT1", 0, {}, {}, "takes a COM name"},
    ScriptCase{"unplug@1/COM9", 0, {}, {}, "unplug takes no name"},
    ScriptCase{"unplug@x", 0, {}, {}, "expected ACTION@MILLISECONDS"},
    ScriptCase{"press@10/COM5", 0, {}, {}, "expected ACTION@MILLISECONDS"}));

struct WiringCase {
    const char *text;
    std::uint32_t keyLine;
    bool dsrFollowsDtr;
    const char *error; // a part of the message, or null
};

class ScriptWiring : public ::testing::TestWithParam<WiringCase> {};

TEST_P(ScriptWiring, LeavesTheKeysLineAndDsrFollowingDtrAlone)
{
    DeviceScript script;
    std::string error;
    ASSERT_TRUE(ParseDeviceScript(GetParam().text, script, error)) << error;
    const std::string why = CheckLines(script, GetParam().keyLine, GetParam().dsrFollowsDtr);
    if (!GetParam().error)
        EXPECT_EQ(why, "");
    else
        EXPECT_NE(why.find(GetParam().error), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptWiring, ::testing::Values(
    WiringCase{"tap@5 dsr-pulse@3 dcd-on@4 ri-off@5", LineCts, false, nullptr},
    WiringCase{"tap@5 cts-on@3 dcd-on@4", LineDsr, false, nullptr},
    WiringCase{"tap@5 dcd-on@4 ri-pulse@7", LineCts, true, nullptr},
    WiringCase{"tap@5 ri-on@4 cts-pulse@9/2", LineCts, false, "'cts-pulse@9/2': CTS is the key's line"},
    WiringCase{"dcd-off@4", LineDcd, true, "'dcd-off@4': DCD is the key's line"},
    WiringCase{"tap@5 dsr-pulse@9", LineCts, true, "'dsr-pulse@9': DSR follows DTR"}));

TEST(DeviceScript, InputChangesAreEachLinesChangesInTimeOrderTheOtherLinesFirstAtAnInstant)
{
    DeviceScript script;
    std::string error;
    ASSERT_TRUE(ParseDeviceScript("press@0 press@10 release@20 dsr-pulse@20/0.5 dcd-on@3 dcd-on@4 release@30 tap@40 "
                                  "ri-pulse@41/0.001",
                                  script, error));
    std::vector<std::string> made;
    for (const InputChange &c : InputChanges(script, LineCts, 5000))
        made.push_back(std::to_string(c.atNs - 5000) + " " + LineName(c.line) + " " + std::to_string(c.inputs));
    const auto at = [](std::int64_t ns, std::uint32_t line, std::uint32_t inputs) {
        return std::to_string(ns) + " " + LineName(line) + " " + std::to_string(inputs);
    };
    EXPECT_EQ(made, (std::vector<std::string>{
                        at(0, LineCts, LineCts), at(3000000, LineDcd, LineCts | LineDcd),
                        at(20000000, LineDsr, LineCts | LineDcd | LineDsr), at(20000000, LineCts, LineDcd | LineDsr),
                        at(20500000, LineDsr, LineDcd), at(40000000, LineCts, LineDcd | LineCts),
                        at(41000000, LineRi, LineDcd | LineCts | LineRi), at(41001000, LineRi, LineDcd | LineCts),
                        at(140000000, LineCts, LineDcd)}));
}

TEST(DeviceScript, KeyChangesAreChangesOfLevelFromTheOrigin)
{
    DeviceScript script;
    std::string error;
    ASSERT_TRUE(ParseDeviceScript("press@0 press@10 release@20 release@30 tap@40 dsr-on@25", script, error));
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
    std::vector<InputChange> changes = InputChanges(script, LineCts, 0);
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

RandomPlan PlanOf(const char *activity, std::uint32_t keyLine, std::uint32_t seed = 11, std::uint32_t presses = 150)
{
    RandomPlan plan;
    plan.seed = seed;
    plan.presses = presses;
    plan.pollMs = 20;
    plan.keyLine = keyLine;
    EXPECT_TRUE(ParseActivity(activity, plan.activity)) << activity;
    return plan;
}

// The words of `text` whose action begins with one of `prefixes`.
std::vector<std::string> WordsOf(const std::string &text, std::vector<std::string> prefixes)
{
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        if (std::any_of(prefixes.begin(), prefixes.end(),
                        [&word](const std::string &prefix) { return word.rfind(prefix, 0) == 0; }))
            words.push_back(word);
    return words;
}

const std::vector<std::string> KeyWords = {"press@", "release@", "unplug@", "replug@"};

struct ActivityCase {
    const char *activity;
    std::uint32_t keyLine;
    std::uint32_t pulses, ring, flap; // each kind's line, 0 for none
    const char *error;                // a part of LinesOf's message, or null
};

std::ostream &operator<<(std::ostream &os, const ActivityCase &c)
{
    return os << c.activity << " with the key on " << LineName(c.keyLine);
}

class RandomActivity : public ::testing::TestWithParam<ActivityCase> {};

TEST_P(RandomActivity, TakesALineOfItsOwnForEachKindAndMakesARunnableScript)
{
    const ActivityCase &c = GetParam();
    const RandomPlan plan = PlanOf(c.activity, c.keyLine);
    ActivityLines lines;
    const std::string error = LinesOf(plan, lines);
    if (c.error) {
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        return;
    }
    ASSERT_EQ(error, "");
    EXPECT_EQ(lines.pulses, c.pulses);
    EXPECT_EQ(lines.ring, c.ring);
    EXPECT_EQ(lines.flap, c.flap);

    const std::string text = RandomScript(plan);
    DeviceScript script;
    std::string bad;
    ASSERT_TRUE(ParseDeviceScript(text, script, bad)) << bad;
    EXPECT_EQ(CheckLines(script, c.keyLine, (plan.activity & ActivityDsrFollowsDtr) != 0), "");
    std::uint32_t worked = 0;
    for (const LineEvent &event : script.lines)
        worked |= event.line;
    EXPECT_EQ(worked, c.pulses | c.ring | c.flap) << "each kind's line, and no other";
    const std::uint64_t lastUs = script.key.back().atMs * 1000ull;
    EXPECT_LE(script.lines.empty() ? 0 : script.lines.back().atUs, lastUs + 2000000) << "about until the last press";

    // The key's presses are the same whatever the activity.
    EXPECT_EQ(WordsOf(text, KeyWords), WordsOf(RandomScript(PlanOf("none", c.keyLine)), KeyWords));
}

INSTANTIATE_TEST_SUITE_P(Cases, RandomActivity, ::testing::Values(
    ActivityCase{"none", LineCts, 0, 0, 0, nullptr},
    ActivityCase{"dsr-follows-dtr", LineCts, 0, 0, 0, nullptr},
    ActivityCase{"pulses", LineCts, LineDsr, 0, 0, nullptr},
    ActivityCase{"pulses", LineDsr, LineDcd, 0, 0, nullptr},
    ActivityCase{"pulses,dsr-follows-dtr", LineCts, LineDcd, 0, 0, nullptr},
    ActivityCase{"ring", LineDsr, 0, LineRi, 0, nullptr},
    ActivityCase{"flap", LineCts, 0, 0, LineDcd, nullptr},
    ActivityCase{"flap", LineDcd, 0, 0, LineDsr, nullptr},
    ActivityCase{"pulses,ring,flap", LineCts, LineDsr, LineRi, LineDcd, nullptr},
    ActivityCase{"flap,dsr-follows-dtr,pulses", LineCts, LineRi, 0, LineDcd, nullptr},
    ActivityCase{"ring,flap,pulses", LineDsr, 0, 0, 0, "pulses: DSR, DCD and RI are all taken"},
    ActivityCase{"dsr-follows-dtr", LineDsr, 0, 0, 0, "the key is wired to DSR"},
    ActivityCase{"ring", LineRi, 0, 0, 0, "ring: the key is wired to RI"},
    ActivityCase{"flap,dsr-follows-dtr", LineDcd, 0, 0, 0, "flap: the key is wired to DCD"}));

TEST(RandomScripts, EachKindOfActivityHasWordsOfItsOwnWhateverTheOthers)
{
    const std::string all = RandomScript(PlanOf("pulses,ring,flap", LineCts));
    EXPECT_EQ(all, RandomScript(PlanOf("pulses,ring,flap", LineCts)));
    EXPECT_NE(all, RandomScript(PlanOf("pulses,ring,flap", LineCts, 12)));
    for (const auto &[kind, prefix] : std::vector<std::pair<const char *, std::string>>{
             {"pulses", "dsr-"}, {"ring", "ri-"}, {"flap", "dcd-"}}) {
        const std::vector<std::string> alone = WordsOf(RandomScript(PlanOf(kind, LineCts)), {prefix});
        EXPECT_GT(alone.size(), 10u) << kind;
        EXPECT_EQ(WordsOf(all, {prefix}), alone) << kind;
    }
    // The same words on any machine: mt19937's numbers, cut here, never a
    // library's distribution.
    EXPECT_EQ(RandomScript(PlanOf("pulses", LineCts, 5, 2)),
              "dsr-pulse@292/2.942 press@300 dsr-pulse@341/0.852 release@345 dsr-pulse@408/1.274 press@415 "
              "dsr-pulse@423/1.978 release@427");
}

// The other lines' levels as (time in us, on) per line, from a script.
std::map<std::uint32_t, std::vector<std::pair<std::uint64_t, bool>>> LevelsOf(const DeviceScript &script)
{
    std::map<std::uint32_t, std::vector<std::pair<std::uint64_t, bool>>> levels;
    for (const InputChange &c : InputChanges(script, LineCts, 0))
        if (c.line != LineCts)
            levels[c.line].emplace_back(static_cast<std::uint64_t>(c.atNs / 1000), (c.inputs & c.line) != 0);
    return levels;
}

TEST(RandomScripts, PulsesFallShortlyBeforeKeyEdgesRingsAndFlapsComeInBursts)
{
    DeviceScript script;
    std::string error;
    ASSERT_TRUE(ParseDeviceScript(RandomScript(PlanOf("pulses,ring,flap", LineCts, 21, 400)), script, error)) << error;
    std::vector<std::uint64_t> edges;
    for (const sim::KeyEvent &e : script.key)
        edges.push_back(e.atMs * 1000ull);
    auto levels = LevelsOf(script);

    // Pulses: 0.5 to 3 ms, each falling 0 to 6 ms before a key edge, apart
    // from the one before; nearly every edge has one.
    const auto &dsr = levels[LineDsr];
    ASSERT_EQ(dsr.size() % 2, 0u);
    for (std::size_t i = 0; i < dsr.size(); i += 2) {
        ASSERT_TRUE(dsr[i].second && !dsr[i + 1].second);
        EXPECT_GE(dsr[i + 1].first - dsr[i].first, MinPulseUs);
        EXPECT_LE(dsr[i + 1].first - dsr[i].first, MaxPulseUs);
        const auto edge = std::lower_bound(edges.begin(), edges.end(), dsr[i + 1].first);
        ASSERT_NE(edge, edges.end());
        EXPECT_LE(*edge - dsr[i + 1].first, MaxPulseLeadUs) << "falls at " << dsr[i + 1].first;
    }
    EXPECT_GT(dsr.size() / 2, edges.size() * 9 / 10);

    // Rings: RI on 25 ms of every 50 in bursts of 0.8 to 2 s, 2 to 4 s apart.
    const auto &ri = levels[LineRi];
    ASSERT_GT(ri.size(), 40u);
    std::uint64_t burstStart = ri[0].first;
    for (std::size_t i = 1; i < ri.size(); ++i) {
        const std::uint64_t gap = ri[i].first - ri[i - 1].first;
        if (gap == 25000)
            continue;
        EXPECT_TRUE(!ri[i - 1].second && ri[i].second) << "a burst ends with RI off, at " << ri[i].first;
        EXPECT_GT(gap, 1975000u);
        EXPECT_LE(gap, 4025000u);
        EXPECT_GE(ri[i - 1].first - burstStart, 800000u - 50000u);
        EXPECT_LE(ri[i - 1].first - burstStart, 2000000u);
        burstStart = ri[i].first;
    }

    // Flaps: changes 1 to 20 ms apart within a burst, bursts 100 to 620 ms apart.
    const auto &dcd = levels[LineDcd];
    ASSERT_GT(dcd.size(), 40u);
    std::size_t bursts = 0;
    for (std::size_t i = 1; i < dcd.size(); ++i) {
        const std::uint64_t gap = dcd[i].first - dcd[i - 1].first;
        EXPECT_TRUE(gap >= 1000 && gap <= 620000) << gap;
        bursts += gap > 20000 ? 1 : 0;
    }
    EXPECT_GT(bursts, dcd.size() / 13);
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
    CommandLine{RunWith({"--line", "dcd", "--dsr-follows-dtr", "--script", "ri-pulse@3/0.5 cts-on@4 tap@5", "--", "x"}),
                nullptr},
    CommandLine{RunWith({"--dsr-follows-dtr", "--line", "DSR", "--", "x"}), "DSR can't carry the key and DTR looped back"},
    CommandLine{RunWith({"--dsr-follows-dtr", "--script", "tap@1 dsr-on@5", "--", "x"}), "DSR follows DTR"},
    CommandLine{RunWith({"--script", "cts-pulse@5", "--", "x"}), "'cts-pulse@5': CTS is the key's line"},
    CommandLine{RunWith({"--script-file", "/nonexistent/script.txt", "--", "x"}), "can't read"},
    CommandLine{RunWith({"--script", "tap@1", "--script-file", "f", "--", "x"}), "one script only"},
    CommandLine{RunWith({"--script-file", "f", "--script", "tap@1", "--", "x"}), "one script only"},
    CommandLine{{"random", "--seed", "3", "--presses", "5", "--poll", "20", "--line", "DSR", "--activity",
                 "pulses,ring"}, nullptr},
    CommandLine{{"random", "--seed", "3", "--presses", "5", "--poll", "20", "--activity", "none"}, nullptr},
    CommandLine{{"random", "--seed", "3", "--presses", "5", "--poll", "20", "--activity", "spin"},
                "activity 'spin' unknown"},
    CommandLine{{"random", "--seed", "3", "--presses", "5", "--poll", "20", "--activity", "ring,"},
                "activity 'ring,' unknown"},
    CommandLine{{"random", "--seed", "3", "--presses", "5", "--poll", "20", "--line", "RI", "--activity", "ring"},
                "--activity ring: the key is wired to RI"},
    CommandLine{{"random", "--seed", "3", "--presses", "5", "--poll", "20", "--line", "DTR"}, "line 'DTR' unknown"},
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

TEST(Commands, ReadALongScriptFromAFile)
{
    const std::string path = ::testing::TempDir() + "ttydev-script.txt";
    std::ofstream(path) << "tap@5\ndsr-pulse@3/0.5\n";
    Options options;
    EXPECT_EQ(ParseOptions(RunWith({"--script-file", path, "--", "x"}), options), "");
    EXPECT_EQ(options.script.key.size(), 2u);
    EXPECT_EQ(options.script.lines.size(), 2u);
    std::remove(path.c_str());
}

} // namespace
