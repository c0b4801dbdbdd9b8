// The parts of the tools that run anywhere: key scripts, the scripted key
// of the stand-in, and the command lines of the key tester and the virtual
// key.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "keytest/KeyTestOptions.h"
#include "virtualkey/VirtualKeyOptions.h"
#include "sim/KeyScript.h"
#include "sim/ScriptedKey.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

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
    EXPECT_TRUE(uart.Cts());
    EXPECT_EQ(player.Advance(250, uart), 1u);
    EXPECT_FALSE(uart.Cts());
    uart.SetCts(true); // someone else presses; the script doesn't replay
    EXPECT_EQ(player.Advance(250, uart), 0u);
    EXPECT_FALSE(player.Finished());
    EXPECT_EQ(player.Advance(10000, uart), 1u);
    EXPECT_TRUE(player.Finished());
}

TEST(ScriptedKey, PressesTheKeyOfThePortTheHostStartsOnEvenAtTimeZero)
{
    sim::Machine machine;
    sim::Machine::PowerOn(machine);
    std::vector<sim::KeyEvent> events;
    std::string error;
    ASSERT_TRUE(sim::ParseKeyScript("press@0 release@200", events, error));
    sim::ScriptedKey key(events);

    key.Advance(machine, 0); // the host's driver check: no UART chosen yet
    EXPECT_FALSE(machine.UartAt(0x3F8)->Cts());
    key.NoteWrite(machine, 0x1234); // no UART there: still none chosen
    key.Advance(machine, 5);
    EXPECT_FALSE(machine.UartAt(0x3F8)->Cts());
    key.NoteWrite(machine, 0x2FB); // COM2's line control register
    key.Advance(machine, 10);
    EXPECT_TRUE(machine.UartAt(0x2F8)->Cts());
    EXPECT_FALSE(machine.UartAt(0x3F8)->Cts());
    key.Advance(machine, 200);
    EXPECT_FALSE(machine.UartAt(0x2F8)->Cts());
    EXPECT_TRUE(key.Finished());
}

// Every field of the key tester's options, so that a row can't pass with
// one of them parsed wrong.
std::string Describe(const KeyTestOptions &o)
{
    std::ostringstream text;
    text << "help=" << o.help << " params=" << (o.hasParameters ? "'" + o.parameters + "'" : "none") << " dll='"
         << o.dllPath << "' io='" << o.ioPath << "' log='" << o.logPath << "' vcd='" << o.vcdPath
         << "' interval=" << o.intervalMs << " chatter=" << o.chatterMs << " presses=" << o.presses
         << " seconds=" << o.seconds << " dtr=" << static_cast<int>(o.dtr);
    return text.str();
}

struct OptionsCase {
    std::vector<std::string> args;
    std::string error;                          // the whole complaint; empty: accepted
    std::function<void(KeyTestOptions &)> want = {}; // accepted: what the defaults become
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
    EXPECT_EQ(error, GetParam().error);
    if (GetParam().error.empty()) {
        KeyTestOptions want;
        if (GetParam().want)
            GetParam().want(want);
        EXPECT_EQ(Describe(options), Describe(want));
    }
}

const std::string SecondsNeed = "--seconds needs a number of seconds above 0 and at most 1000000, in digits with an "
                                "optional fraction (30, 0.5)";

INSTANTIATE_TEST_SUITE_P(Cases, KeyTestCommandLine, ::testing::Values(
    OptionsCase{{}, ""},
    OptionsCase{{"COM2", "--interval", "1", "--presses", "3", "--seconds", "0.5"}, "",
                [](KeyTestOptions &o) { o.hasParameters = true; o.parameters = "COM2"; o.intervalMs = 1;
                                        o.presses = 3; o.seconds = 0.5; }},
    OptionsCase{{"--interval", "10000", "--chatter", "10000", "--presses", "999999999", "--seconds", "1000000"}, "",
                [](KeyTestOptions &o) { o.intervalMs = 10000; o.chatterMs = 10000; o.presses = 999999999;
                                        o.seconds = 1e6; }},
    OptionsCase{{"--interval", "0"}, "--interval needs milliseconds from 1 to 10000, not '0'"},
    OptionsCase{{"--interval", "10001"}, "--interval needs milliseconds from 1 to 10000, not '10001'"},
    OptionsCase{{"--interval", "abc"}, "--interval needs milliseconds from 1 to 10000, not 'abc'"},
    OptionsCase{{"--interval"}, "--interval needs milliseconds from 1 to 10000"},
    OptionsCase{{"--presses", "0"}, "--presses needs a count from 1 to 999999999, not '0'"},
    OptionsCase{{"--presses", "1000000000"}, "--presses needs a count from 1 to 999999999, not '1000000000'"},
    OptionsCase{{"--presses", "-1"}, "--presses needs a count from 1 to 999999999, not '-1'"},
    OptionsCase{{"--seconds", "0"}, SecondsNeed + ", not '0'"},
    OptionsCase{{"--seconds", "nan"}, SecondsNeed + ", not 'nan'"},
    OptionsCase{{"--seconds", "1.5.2"}, SecondsNeed + ", not '1.5.2'"},
    OptionsCase{{"--seconds", "1e7"}, SecondsNeed + ", not '1e7'"},
    OptionsCase{{"--seconds", "1000000.5"}, SecondsNeed + ", not '1000000.5'"},
    OptionsCase{{"--dll"}, "--dll needs a path"},
    OptionsCase{{"--verbose"}, "unknown option --verbose"},
    OptionsCase{{"--verbose=2"}, "unknown option --verbose"},
    OptionsCase{{"COM1", "COM2"}, "only one parameter text, please (quote it if it has spaces): COM2"},
    // An option never takes the next option as its value.
    OptionsCase{{"--dll", "--io", "x"}, "--dll needs a path"},
    OptionsCase{{"--io", "--seconds", "1"}, "--io needs a path"},
    OptionsCase{{"--log", "--vcd", "t.vcd"}, "--log needs a file name"},
    OptionsCase{{"--vcd"}, "--vcd needs a file name"},
    OptionsCase{{"--log", "same.txt", "--vcd", "same.txt"}, "--log and --vcd need different files"},
    OptionsCase{{"--chatter", "0"}, "--chatter needs milliseconds from 1 to 10000, not '0'"},
    OptionsCase{{"--chatter", "--presses", "2"}, "--chatter needs milliseconds from 1 to 10000"},
    OptionsCase{{"--dtr", "yes"}, "--dtr needs on or off, not 'yes'"},
    OptionsCase{{"--dtr"}, "--dtr needs on or off"},
    OptionsCase{{"--dtr", "on", "--chatter", "50", "--log", "k.csv", "--vcd", "k.vcd", "COM2"}, "",
                [](KeyTestOptions &o) { o.dtr = DtrHold::On; o.chatterMs = 50; o.logPath = "k.csv";
                                        o.vcdPath = "k.vcd"; o.hasParameters = true; o.parameters = "COM2"; }},
    // --option=value is --option value, the value taken as written.
    OptionsCase{{"--seconds=1", "--interval=20", "--dtr=off", "--io=C:\\keys\\io.dll", "--log=--x.csv"}, "",
                [](KeyTestOptions &o) { o.seconds = 1; o.intervalMs = 20; o.dtr = DtrHold::Off;
                                        o.ioPath = "C:\\keys\\io.dll"; o.logPath = "--x.csv"; }},
    OptionsCase{{"--seconds="}, SecondsNeed + ", not ''"},
    OptionsCase{{"--dll="}, "--dll needs a path"},
    OptionsCase{{"--help=yes"}, "--help takes no value"},
    OptionsCase{{"--help"}, "", [](KeyTestOptions &o) { o.help = true; }},
    OptionsCase{{"--dll", "x.dll", "--io", "sim\\io.dll", "COM9;2E8h"}, "",
                [](KeyTestOptions &o) { o.dllPath = "x.dll"; o.ioPath = "sim\\io.dll"; o.hasParameters = true;
                                        o.parameters = "COM9;2E8h"; }},
    OptionsCase{{""}, "", [](KeyTestOptions &o) { o.hasParameters = true; }},
    // Zelbin_Serial.dll imports io.dll by that name: another name, or a
    // folder, is a mistake on the command line.
    OptionsCase{{"--io", "Zelbin_Serial.dll"},
                "--io must name a file called io.dll (Zelbin_Serial.dll imports it by that name), not "
                "'Zelbin_Serial.dll'"},
    OptionsCase{{"--io", "C:\\keys\\IO.DLL"}, "", [](KeyTestOptions &o) { o.ioPath = "C:\\keys\\IO.DLL"; }},
    OptionsCase{{"--io", "dist\\sim\\"}, "--io names a folder, 'dist\\sim\\': name the io.dll in it, such as "
                                          "'dist\\sim\\io.dll'"},
    // --ports and --find open the ports themselves; --write-map goes with --find.
    OptionsCase{{"--ports"}, "", [](KeyTestOptions &o) { o.listPorts = true; }},
    OptionsCase{{"--find", "--write-map", "--presses", "5", "--seconds", "60", "--io", "C:\\Host\\io.dll"}, "",
                [](KeyTestOptions &o) { o.find = true; o.writeMap = true; o.presses = 5; o.seconds = 60;
                                        o.ioPath = "C:\\Host\\io.dll"; }},
    OptionsCase{{"--write-map"}, "--write-map writes what --find finds: give both"},
    OptionsCase{{"--ports", "--find"}, "--ports or --find, one at a time"},
    OptionsCase{{"--find", "COM5"}, "--find opens the ports itself: it takes no parameter text, --dtr, --log or --vcd"},
    OptionsCase{{"--ports", "--dtr", "on"}, "--ports opens the ports itself: it takes no parameter text, --dtr, --log or --vcd"},
    OptionsCase{{"--find", "--log", "k.csv"}, "--find opens the ports itself: it takes no parameter text, --dtr, --log or --vcd"},
    OptionsCase{{"--io=keys/"}, "--io names a folder, 'keys/': name the io.dll in it, such as 'keys/io.dll'"}));

// A folder that doesn't end in a separator is known only to the file
// system: the tester asks it and passes the answer.
TEST(KeyTestCommandLine, AnIoPathThatIsAFolderIsNamedAsOne)
{
    EXPECT_EQ(CheckIoPath("C:\\keys", true), "--io names a folder, 'C:\\keys': name the io.dll in it, such as "
                                             "'C:\\keys\\io.dll'");
    EXPECT_EQ(CheckIoPath("C:\\keys\\io.dll", false), "");
    EXPECT_EQ(CheckIoPath("io.dll.bak", false), "--io must name a file called io.dll (Zelbin_Serial.dll imports it "
                                                "by that name), not 'io.dll.bak'");
    // The parser asks the file system's answer before it judges the name:
    // a folder is named as one whatever it is called, io.dll included.
    for (const char *folder : {"adir", "keys\\io.dll"}) {
        KeyTestOptions options;
        EXPECT_EQ(ParseKeyTestOptions({"--io", folder}, options, [](const std::string &) { return true; }),
                  CheckIoPath(folder, true));
    }
    KeyTestOptions file;
    EXPECT_EQ(ParseKeyTestOptions({"--io", "keys\\io.dll"}, file, [](const std::string &) { return false; }), "");
}

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
    EXPECT_EQ(none.chatterMs, 30u);
    EXPECT_EQ(none.dtr, DtrHold::None);
}

TEST(KeyTestCommandLine, TakesTheRecordsAndTheOutputLine)
{
    KeyTestOptions options;
    ASSERT_EQ(ParseKeyTestOptions({"--dtr", "off", "--chatter", "45", "--log", "k.csv", "--vcd", "k.vcd"}, options), "");
    EXPECT_EQ(options.dtr, DtrHold::Off);
    EXPECT_EQ(options.chatterMs, 45u);
    EXPECT_EQ(options.logPath, "k.csv");
    EXPECT_EQ(options.vcdPath, "k.vcd");
    EXPECT_FALSE(options.hasParameters);
}

struct VirtualKeyCase {
    std::vector<std::string> args;
    std::string error; // a fragment of the complaint; empty: accepted
    VirtualKeyCommand command = VirtualKeyCommand::Help;
    std::uint16_t port = 0;
};

std::ostream &operator<<(std::ostream &os, const VirtualKeyCase &c)
{
    for (const std::string &arg : c.args)
        os << "'" << arg << "' ";
    return os;
}

class VirtualKeyCommandLine : public ::testing::TestWithParam<VirtualKeyCase> {};

TEST_P(VirtualKeyCommandLine, AcceptsOrNamesTheProblem)
{
    VirtualKeyOptions options;
    const std::string error = ParseVirtualKeyOptions(GetParam().args, options);
    if (!GetParam().error.empty()) {
        EXPECT_NE(error.find(GetParam().error), std::string::npos) << "got: " << error;
        return;
    }
    ASSERT_EQ(error, "");
    EXPECT_EQ(options.command, GetParam().command);
    EXPECT_EQ(options.port, GetParam().port);
}

using VK = VirtualKeyCommand;
INSTANTIATE_TEST_SUITE_P(Cases, VirtualKeyCommandLine, ::testing::Values(
    VirtualKeyCase{{}, "a command is needed"},
    VirtualKeyCase{{"--help"}, "", VK::Help},
    VirtualKeyCase{{"hold"}, "unknown command 'hold'"},
    VirtualKeyCase{{"press"}, "", VK::Press, 0},
    VirtualKeyCase{{"press", "com2"}, "", VK::Press, 0x2F8},
    VirtualKeyCase{{"release", "2E8h"}, "", VK::Release, 0x2E8},
    VirtualKeyCase{{"press", "COM9"}, "bad argument 'COM9'"},
    VirtualKeyCase{{"press", "0"}, "bad argument '0'"},
    VirtualKeyCase{{"press", "12345"}, "bad argument"},
    VirtualKeyCase{{"press", "COM1", "COM2"}, "bad argument 'COM2'"},
    VirtualKeyCase{{"press", "--ms", "50"}, "not an option of press"},
    VirtualKeyCase{{"tap", "COM3", "--ms", "150", "--bounce", "3", "--bounce-ms", "20"}, "", VK::Tap, 0x3E8},
    VirtualKeyCase{{"tap", "--ms", "0"}, "--ms"},
    VirtualKeyCase{{"tap", "--bounce", "101"}, "--bounce"},
    VirtualKeyCase{{"tap", "--bounce-ms"}, "--bounce-ms"},
    VirtualKeyCase{{"tap", "--ms", "--bounce", "2"}, "--ms"},
    VirtualKeyCase{{"script", "tap@0 bounce@300", "COM4", "--ms", "80"}, "", VK::Script, 0x2E8},
    VirtualKeyCase{{"script"}, "script needs a script text"},
    VirtualKeyCase{{"script", "hold@5"}, "bad script"},
    VirtualKeyCase{{"script", "tap@0", "--bounce", "2"}, "not an option of script"},
    VirtualKeyCase{{"show", "3F8"}, "", VK::Show, 0x3F8},
    VirtualKeyCase{{"watch", "--seconds", "2.5", "--interval", "20"}, "", VK::Watch, 0},
    VirtualKeyCase{{"watch", "--seconds", "0"}, "--seconds"},
    VirtualKeyCase{{"watch", "--interval", "--seconds", "1"}, "--interval"},
    VirtualKeyCase{{"driver"}, "driver needs on or off"},
    VirtualKeyCase{{"driver", "maybe"}, "bad argument 'maybe'"},
    VirtualKeyCase{{"driver", "on", "off"}, "bad argument 'off'"},
    VirtualKeyCase{{"driver", "COM1", "on"}, "bad argument 'COM1'"},
    VirtualKeyCase{{"driver", "off"}, "", VK::Driver, 0}));

TEST(VirtualKeyCommandLine, BuildsWhatTapAndScriptPlay)
{
    VirtualKeyOptions tap, script, driver;
    ASSERT_EQ(ParseVirtualKeyOptions({"tap", "--bounce", "1", "--bounce-ms", "20", "--ms", "50"}, tap), "");
    const std::vector<std::pair<std::uint32_t, bool>> tapEvents = {{0, true}, {20, false}, {40, true}, {90, false}};
    std::vector<std::pair<std::uint32_t, bool>> got;
    for (const sim::KeyEvent &e : tap.events)
        got.emplace_back(e.atMs, e.down);
    EXPECT_EQ(got, tapEvents);

    // --ms after the script text still sets its taps' length.
    ASSERT_EQ(ParseVirtualKeyOptions({"script", "tap@10", "--ms", "30"}, script), "");
    ASSERT_EQ(script.events.size(), 2u);
    EXPECT_EQ(script.events[1].atMs, 40u);

    ASSERT_EQ(ParseVirtualKeyOptions({"driver", "on"}, driver), "");
    EXPECT_TRUE(driver.driverOn);
}

} // namespace
