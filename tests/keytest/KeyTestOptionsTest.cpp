// The key tester's command line: every option at its limits and one past
// them, each mode with what belongs to another, and each complaint whole.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "keytest/KeyTestOptions.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

// Every field of the key tester's options, so that a row can't pass with
// one of them parsed wrong.
std::string Describe(const KeyTestOptions &o)
{
    std::ostringstream text;
    text << "help=" << o.help << " params=" << (o.hasParameters ? "'" + o.parameters + "'" : "none") << " dll='"
         << o.dllPath << "' io='" << o.ioPath << "' log='" << o.logPath << "' vcd='" << o.vcdPath
         << "' interval=" << o.intervalMs << " chatter=" << o.chatterMs << " presses=" << o.presses
         << " seconds=" << o.seconds << " dtr=" << static_cast<int>(o.dtr) << " ports=" << o.listPorts
         << " find=" << o.find << " write-map=" << o.writeMap;
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

// A switch takes no value, whatever is written after it: --write-map=no
// must not write the map, nor --find=no search.
TEST(KeyTestSwitches, TakeNoValue)
{
    const struct {
        std::vector<std::string> before; // what makes the rest of the line valid
        const char *name;
    } switches[] = {{{}, "--help"}, {{}, "--ports"}, {{}, "--find"}, {{"--find"}, "--write-map"}};
    for (const auto &each : switches) {
        for (const char *value : {"=no", "=yes", "=", "=0", "=--find"}) {
            std::vector<std::string> args = each.before;
            args.push_back(each.name + std::string(value));
            KeyTestOptions options;
            EXPECT_EQ(ParseKeyTestOptions(args, options), each.name + std::string(" takes no value")) << args.back();
        }
    }
}

const std::string SecondsNeed = "--seconds needs a number of seconds above 0 and at most 1000000, in digits with an "
                                "optional fraction (30, 0.5)";
const std::string OwnPorts = " opens the ports itself: it takes no --dtr, --log or --vcd, and a parameter text only "
                             "with --write-map (the host's, for the key to map)";
const std::string WriteMapAlone = "--write-map writes what --find finds: give both";

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
    OptionsCase{{"--write-map"}, WriteMapAlone},
    OptionsCase{{"--ports", "--find"}, "--ports or --find, one at a time"},
    OptionsCase{{"--find", "COM5"}, "--find" + OwnPorts},
    OptionsCase{{"--ports", "--dtr", "on"}, "--ports" + OwnPorts},
    OptionsCase{{"--find", "--log", "k.csv"}, "--find" + OwnPorts},
    OptionsCase{{"--find", "--vcd", "k.vcd"}, "--find" + OwnPorts},
    OptionsCase{{"--find", "--dtr", "off"}, "--find" + OwnPorts},
    OptionsCase{{"--find", ""}, "--find" + OwnPorts},
    OptionsCase{{"--ports", "--log", "k.csv"}, "--ports" + OwnPorts},
    OptionsCase{{"--ports", "--vcd", "k.vcd"}, "--ports" + OwnPorts},
    OptionsCase{{"--ports", "--dtr=off"}, "--ports" + OwnPorts},
    OptionsCase{{"COM2", "--ports"}, "--ports" + OwnPorts},
    OptionsCase{{"--ports", "--write-map"}, WriteMapAlone},
    OptionsCase{{"--write-map", "--dtr", "on"}, WriteMapAlone},
    OptionsCase{{"--find", "--write-map", "--ports"}, "--ports or --find, one at a time"},
    OptionsCase{{"--write-map", "--find"}, "", [](KeyTestOptions &o) { o.find = true; o.writeMap = true; }},
    // With --write-map, the host's parameters say which UART the key is for;
    // a base the library refuses can be no UART of the host's.
    OptionsCase{{"--find", "--write-map", "COM12;2F8h"}, "",
                [](KeyTestOptions &o) { o.find = true; o.writeMap = true; o.hasParameters = true;
                                        o.parameters = "COM12;2F8h"; }},
    OptionsCase{{"--find", "--write-map", "COM12;2F8"},
                "--write-map maps the key for the UART the parameters select, and the library refuses the base of "
                "'COM12;2F8': give the host's parameters, such as \"COM5;2F8h\""},
    OptionsCase{{"--find", "--presses", "1", "--seconds", "0.5"}, "",
                [](KeyTestOptions &o) { o.find = true; o.presses = 1; o.seconds = 0.5; }},
    // The parameter text may come first, the records and the output line
    // in any order.
    OptionsCase{{"COM9;2E8h", "--dll", "x.dll", "--io", "sim\\io.dll"}, "",
                [](KeyTestOptions &o) { o.hasParameters = true; o.parameters = "COM9;2E8h"; o.dllPath = "x.dll";
                                        o.ioPath = "sim\\io.dll"; }},
    OptionsCase{{"--dtr", "off", "--chatter", "45", "--log", "k.csv", "--vcd", "k.vcd"}, "",
                [](KeyTestOptions &o) { o.dtr = DtrHold::Off; o.chatterMs = 45; o.logPath = "k.csv";
                                        o.vcdPath = "k.vcd"; }},
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

// The rows above compare with the options as they start out: what they
// start out as is the tester's documented behaviour without options.
TEST(KeyTestCommandLine, WithoutOptionsPollsEveryTenMsAndCountsChatterWithinThirty)
{
    KeyTestOptions none;
    ASSERT_EQ(ParseKeyTestOptions({}, none), "");
    EXPECT_FALSE(none.hasParameters);
    EXPECT_EQ(none.intervalMs, 10u);
    EXPECT_EQ(none.chatterMs, 30u);
    EXPECT_EQ(none.presses, 0u);
    EXPECT_EQ(none.seconds, 0);
    EXPECT_EQ(none.dtr, DtrHold::None);
}

std::string Complaint(const std::vector<std::string> &args)
{
    KeyTestOptions options;
    return ParseKeyTestOptions(args, options);
}

// Every number option takes plain decimal digits only (seconds a fraction
// too), from its lowest value to its highest, and names a bad value whole.
TEST(KeyTestNumbers, TakeDigitsOnlyFromTheirLowestToTheirHighestValue)
{
    const struct {
        const char *option;
        std::string need;
        std::vector<std::string> good; // each read as the value below
        std::vector<double> values;
        std::vector<std::string> bad;
    } cases[] = {
        {"--interval", "--interval needs milliseconds from 1 to 10000", {"1", "10000", "010"}, {1, 10000, 10},
         {"10001", "1e3", "0x10", "+5", " 5", "5 ", "5x", "", "-0", "5.0"}},
        {"--chatter", "--chatter needs milliseconds from 1 to 10000", {"1", "10000", "0030"}, {1, 10000, 30},
         {"0", "10001", "1e3", "0x10", "+5", " 5", "5 ", "5x", ""}},
        {"--presses", "--presses needs a count from 1 to 999999999", {"1", "999999999", "08", "000000001"},
         {1, 999999999, 8, 1}, {"1e3", "0x10", "+5", " 5", "5 ", "5x", "", "4294967297", "0000000001"}},
        {"--seconds", SecondsNeed, {"0.001", "1000000", "1000000.0", ".5", "5.", "007"}, {0.001, 1e6, 1e6, 0.5, 5, 7},
         {"1e3", "0x10", "+5", " 5", "5 ", "5x", "inf", ".", "-1", "0.0", "1000000.001", "1,5"}},
    };
    for (const auto &c : cases) {
        for (std::size_t i = 0; i < c.good.size(); ++i) {
            KeyTestOptions options;
            ASSERT_EQ(ParseKeyTestOptions({c.option, c.good[i]}, options), "") << c.option << " " << c.good[i];
            const double got = std::string(c.option) == "--interval" ? options.intervalMs
                               : std::string(c.option) == "--chatter" ? options.chatterMs
                               : std::string(c.option) == "--presses" ? options.presses
                                                                      : options.seconds;
            EXPECT_EQ(got, c.values[i]) << c.option << " " << c.good[i];
        }
        for (const std::string &value : c.bad) {
            EXPECT_EQ(Complaint({c.option, value}), c.need + ", not '" + value + "'") << c.option;
            EXPECT_EQ(Complaint({std::string(c.option) + "=" + value}), c.need + ", not '" + value + "'");
        }
    }
}

// A bad value is echoed whole, however long.
TEST(KeyTestNumbers, ABadValueIsQuotedWhole)
{
    for (const std::size_t length : {23u, 24u, 25u, 200u}) {
        const std::string value(length, 'q');
        EXPECT_EQ(Complaint({"--interval", value}),
                  "--interval needs milliseconds from 1 to 10000, not '" + value + "'");
        EXPECT_EQ(Complaint({"--dtr", value}), "--dtr needs on or off, not '" + value + "'");
        const std::string file = value.substr(0, length - 4) + ".dll";
        EXPECT_EQ(Complaint({"--io", file}), "--io must name a file called io.dll (Zelbin_Serial.dll imports it by "
                                             "that name), not '" + file + "'");
        EXPECT_EQ(CheckIoPath(value, true),
                  "--io names a folder, '" + value + "': name the io.dll in it, such as '" + value + "\\io.dll'");
    }
    // The io.dll in a folder is named with the folder's own separator; a
    // path that mixes them gets Windows' own.
    EXPECT_EQ(CheckIoPath("C:/keys\\", true),
              "--io names a folder, 'C:/keys\\': name the io.dll in it, such as 'C:/keys\\io.dll'");
    EXPECT_EQ(CheckIoPath("keys//", true),
              "--io names a folder, 'keys//': name the io.dll in it, such as 'keys/io.dll'");
}

} // namespace
