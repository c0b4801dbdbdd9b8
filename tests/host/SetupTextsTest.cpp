// Tests of the map writer, the port list, the status advice, the port plan
// and the options: each limit at and one past it, each error code and what
// it is called, and the texts a technician acts on.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "comdevices/ComDevices.h"
#include "commio/CommIo.h"
#include "commio/PortMap.h"
#include "keytest/IoStatus.h"
#include "portsetup/KeyFinder.h"
#include "keytest/KeyReport.h"
#include "keytest/KeyTestOptions.h"
#include "portsetup/MapWriter.h"
#include "portsetup/PortList.h"
#include "keytest/PortPlan.h"
#include "testsupport/RefusedOpens.h"
#include "testsupport/MapFolder.h"
#include "testsupport/KeyFindings.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code
using namespace portsetup; // the port set-up's own names too

namespace {

using portsetup::Finding;
using portsetup::PortAccess;
using portsetup::PortInfo;

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// ---- The map writer -------------------------------------------------------

Finding Found(int line, bool opens, const std::string &friendlyName = "USB Serial Port (COM5)")
{
    return testsupport::FoundOnCom5(line, opens, 3, friendlyName);
}

TEST(MapText, ItsCommentsSayThePolarityAndTheAdapter)
{
    Finding opens = Found(uart::LineDsr, true);
    opens.usb = {0x1A86, 0x7523, "A50285BI"};
    EXPECT_EQ(portsetup::PortMapText(opens),
              "# Which COM port carries the serial key, written by zelbin-keytest --find --write-map.\n"
              "# The file that was here before, if any, is io-ports.txt.bak.\n"
              "#\n"
              "# The key: COM5, USB Serial Port, line DSR, opens when pressed.\n"
              "# The adapter: USB 1A86:7523, serial A50285BI.\n"
              "any = COM5 usb=1A86:7523:A50285BI line=DSR invert\n");
    const std::vector<std::string> closes = Lines(portsetup::PortMapText(Found(uart::LineCts, false, "")));
    ASSERT_EQ(closes.size(), 5u) << "no adapter line without an adapter";
    EXPECT_EQ(closes[3], "# The key: COM5, line CTS, closes when pressed.");
    EXPECT_EQ(closes[4], "any = COM5");
}

// The io.dll's reader refuses a line longer than MaxPortMapLine and any
// byte outside printable ASCII: a device's name is cut and masked to fit.
TEST(MapText, ACommentIsCutToTheLongestLineTheReaderTakesAndMaskedToAscii)
{
    const std::string before = "# The key: COM5, ", after = ", line CTS, closes when pressed.";
    const std::string fits(commio::MaxPortMapLine - before.size() - after.size(), 'x');
    const struct {
        std::string device;
        std::string comment;
    } cases[] = {
        {fits, before + fits + after},
        {fits + "y", (before + fits + "y" + after).substr(0, commio::MaxPortMapLine)},
        {fits + "yz", (before + fits + "yz" + after).substr(0, commio::MaxPortMapLine)},
        {"a\x1F b~\x7F\xC3\xA9\t", before + "a? b~????" + after},
    };
    for (const auto &c : cases) {
        const std::string text = portsetup::PortMapText(Found(uart::LineCts, false, c.device + " (COM5)"));
        const std::vector<std::string> lines = Lines(text);
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[3], c.comment) << c.device.size();
        EXPECT_EQ(commio::ParsePortMap(text).error, "") << c.device.size();
    }
}

class MapFolder : public testsupport::MapFolderTest {};

// A map of exactly `size` bytes the io.dll reads: comment lines, then the
// mapping.
std::string MapOfSize(std::size_t size)
{
    const std::string mapping = "any = COM5\n";
    std::string text;
    while (size - text.size() - mapping.size() > 100)
        text += "#" + std::string(99, '-') + "\n";
    const std::size_t rest = size - text.size() - mapping.size();
    text += (rest > 1 ? "#" + std::string(rest - 2, '-') : std::string()) + "\n";
    return text + mapping;
}

TEST_F(MapFolder, TheListReadsAMapUpToTheIoDllsLimitAndNotAByteMore)
{
    commio::PortMapResult map;
    Write(path_, MapOfSize(commio::MaxPortMapBytes));
    ASSERT_EQ(Read(path_).size(), commio::MaxPortMapBytes);
    EXPECT_EQ(portsetup::ReadPortMapFile(path_, map), "");
    ASSERT_EQ(map.uarts.size(), 1u);
    EXPECT_EQ(map.uarts[0].path, "\\\\.\\COM5");

    Write(path_, MapOfSize(commio::MaxPortMapBytes + 1));
    EXPECT_EQ(portsetup::ReadPortMapFile(path_, map),
              "longer than 16384 bytes (the comm-port io.dll holds no port with it)");
    EXPECT_TRUE(map.uarts.empty());

    EXPECT_EQ(portsetup::ReadPortMapFile(folder_, map), "can't be read");
}

// An older io-ports.txt.bak makes way for the map being replaced: it is
// removed first, as renaming onto it fails on Windows. Here renaming onto a
// file works, so an empty folder of that name stands in for it.
TEST_F(MapFolder, AnOlderBackupInTheWayMakesRoomForTheMapBeingReplaced)
{
    Write(path_, "3F8 = COM3\n");
    std::filesystem::create_directory(path_ + ".bak");
    const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, Found(uart::LineCts, false));
    EXPECT_TRUE(result.done);
    EXPECT_TRUE(result.keptBackup);
    EXPECT_EQ(result.message, "Wrote " + path_ + " (the previous one is " + path_ +
                                  ".bak) and read it back as the comm-port io.dll reads it: COM5 carries the key.");
    EXPECT_EQ(Read(path_ + ".bak"), "3F8 = COM3\n");
    EXPECT_EQ(Lines(Read(path_)).back(), "any = COM5");
}

// An earlier backup that can't be moved aside (here: its place is taken by a
// folder that can't be removed) stops the write before anything changes: it
// is never overwritten by the present map.
TEST_F(MapFolder, AnEarlierBackupThatCantBeMovedAsideChangesNothing)
{
    Write(path_, "3F8 = COM3\n");
    Write(path_ + ".bak", "any = COM2\n");
    std::filesystem::create_directories(path_ + ".bak.old/kept");
    const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, Found(uart::LineCts, false));
    EXPECT_FALSE(result.done);
    EXPECT_FALSE(result.keptBackup);
    EXPECT_EQ(result.message, "can't move the earlier " + path_ + ".bak aside; nothing was changed");
    EXPECT_EQ(Read(path_), "3F8 = COM3\n");
    EXPECT_EQ(Read(path_ + ".bak"), "any = COM2\n");
    EXPECT_FALSE(std::filesystem::exists(path_ + ".new"));
}

TEST_F(MapFolder, AFreshMapSaysSoAndOneTheReaderWouldRefuseIsTakenBackWithWhy)
{
    portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, Found(uart::LineCts, true));
    EXPECT_TRUE(result.done);
    EXPECT_EQ(result.message,
              "Wrote " + path_ + " and read it back as the comm-port io.dll reads it: COM5 carries the key.");
    std::filesystem::remove(path_);

    // The reader takes the line but names the port otherwise than the finding.
    Finding lower = Found(uart::LineCts, false);
    lower.port = "com5";
    result = portsetup::WritePortMapFile(path_, lower);
    EXPECT_FALSE(result.done);
    EXPECT_EQ(result.message, "the port map reader would refuse the new map (it doesn't carry com5), so the "
                              "previous state is back. The line was 'any = com5'.");
    EXPECT_TRUE(std::filesystem::is_empty(folder_));

    Finding far = Found(uart::LineCts, false);
    far.port = "COM300";
    EXPECT_EQ(portsetup::WritePortMapFile(path_, far).message,
              "the port map reader would refuse the new map (line 5: unknown device 'COM300'; use COM1 to COM256 or a "
              "\\\\.\\ name), so the previous state is back. The line was 'any = COM300'.");
}

// ---- The port list --------------------------------------------------------

TEST(PortNames, OnlyComOneToTwoFiftySixInTheirPlainForm)
{
    const struct {
        const char *name, *com;
    } cases[] = {
        {"COM1", "COM1"},   {"com256", "COM256"}, {"\\\\.\\cOm9", "COM9"}, {"COM257", ""}, {"COM0", ""},
        {"COM05", ""},      {"COM", ""},          {"COM1000", ""},         {"COM12a", ""}, {"COM 5", ""},
        {"xCOM5", ""},      {"\\\\.\\", ""},      {"LPT1", ""},            {"\\\\?\\COM5", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(portsetup::ComName(c.name), c.com) << c.name;
}

// A device without its PortName value is known by the "(COMn)" that closes
// its friendly name, and only by a whole one.
TEST(PortNames, AFriendlyNameGivesThePortOnlyWithItsClosingBracket)
{
    const struct {
        portsetup::ClassPort device;
        std::string port; // empty: none
    } cases[] = {
        {{"", "USB Serial Port (COM12", "X", ""}, ""},
        {{"", "USB Serial Port (COM12)", "X", ""}, "COM12"},
        {{"", "Port (v2) (COM7)", "X", ""}, "COM7"},
        {{"", "Port (COM7))", "X", ""}, ""},
        {{"", "Port COM7)", "X", ""}, ""},
        {{"", "", "X", ""}, ""},
        {{"COM5", "Other Port (COM6)", "X", ""}, "COM5"}, // its PortName wins
    };
    for (const auto &c : cases) {
        const std::vector<PortInfo> ports = portsetup::MergePorts({c.device}, {}, {});
        EXPECT_EQ(ports.empty() ? "" : ports[0].name, c.port) << c.device.friendlyName;
        EXPECT_LE(ports.size(), 1u);
    }
}

// Each way an open fails, named as the technician can act on it.
TEST(PortProbe, EachOpenErrorIsNamedForWhatItMeans)
{
    const struct {
        std::uint32_t error;
        PortAccess access;
        const char *text;
    } cases[] = {
        {2, PortAccess::Missing, "missing: listed, but no such device now (unplugged?)"},
        {3, PortAccess::Missing, "missing: listed, but no such device now (unplugged?)"},
        {5, PortAccess::Held, "held by another program (a host or terminal has it open: close it first)"},
        {32, PortAccess::Held, "held by another program (a host or terminal has it open: close it first)"},
        {87, PortAccess::Failed, "can't be opened (error 87)"},
        {1167, PortAccess::Failed, "can't be opened (error 1167)"},
    };
    for (const auto &c : cases) {
        sim::ComDevices devices;
        devices.Plug("COM5");
        testsupport::RefusedOpens api(devices);
        api.refused = {{"COM5", c.error}};
        std::uint32_t error = 0;
        const PortAccess access = portsetup::ProbePort(api, "COM5", error);
        EXPECT_EQ(access, c.access) << c.error;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(portsetup::AccessText(access, error), c.text);
    }
    EXPECT_EQ(portsetup::AccessText(PortAccess::Free, 0), "free");
    EXPECT_EQ(portsetup::AccessText(PortAccess::Unknown, 0), "not tried");
    EXPECT_EQ(portsetup::AccessText(PortAccess::NotSerial, 1),
              "opens, but is not a serial port (error 1 at its settings)");
}

TEST(PortListReport, MarksOnlyWhatTheLatestMapMapsAndSaysWhenItMapsNone)
{
    std::vector<PortInfo> ports = portsetup::MergePorts(
        {{"COM3", "Communications Port (COM3)", "ACPI\\PNP0501\\1", ""},
         {"COM5", "USB Serial Port (COM5)", "USB\\VID_0403&PID_6001\\FT1", ""}},
        {{"\\Device\\Serial2", "COM3"}, {"\\Device\\VCP0", "COM5"}, {"\\Device\\Serial6", "COM7"}}, {});
    portsetup::MarkMappedPorts(ports, commio::ParsePortMap("any = COM5\n"));
    EXPECT_EQ(ports[1].mapLine, 1);
    // Read again after the file changed: the old line is no longer the map's.
    portsetup::MarkMappedPorts(ports, commio::ParsePortMap("# none of these\n"));
    for (const PortInfo &port : ports)
        EXPECT_EQ(port.mapLine, 0) << port.name;
    const std::vector<std::string> expected = {
        "COM3  Communications Port (COM3)", // the device's kernel name only where nothing better names it
        "  now     : not tried",
        "COM5  USB Serial Port (COM5)",
        "  identity: USB 0403:6001, serial FT1",
        "  now     : not tried",
        "COM7",
        "  device  : \\Device\\Serial6",
        "  now     : not tried",
        "C:\\Host\\io-ports.txt maps none of these ports.",
    };
    EXPECT_EQ(portsetup::FormatPortList(ports, "C:\\Host\\io-ports.txt", ""), expected);
}

// ---- The comm-port io.dll's status, explained -----------------------------

const std::string NoSuchPort = "no such port on this PC: see `zelbin-keytest --ports` for the ports it has, and name "
                               "one of them in io-ports.txt";
const std::string InUse = "the port is in use: close the other program that holds it (a terminal, a modem or device "
                          "tool); the io.dll takes the port at its next try";
const std::string Unplugged = "the device stopped answering, as an unplugged adapter does: plug it in again; the "
                              "io.dll tries again about twice a second";
const std::string LineFormat =
    "the adapter refuses the library's line format; the key lines still work, since no data flows";

std::string AccessDeniedText(unsigned long code) { return code == 5 ? "Access is denied" : ""; }

TEST(IoStatusAdvice, EachCodeGetsItsAdvice)
{
    const struct {
        unsigned long code;
        std::string advice; // empty: none
    } cases[] = {
        {2, NoSuchPort}, {3, NoSuchPort},   {123, NoSuchPort},  {6, Unplugged},     {22, Unplugged},
        {31, Unplugged}, {995, Unplugged},  {1167, Unplugged},  {1617, Unplugged},  {87, LineFormat},
        {1, ""},         {4, ""},           {124, ""},          {1618, ""},
    };
    for (const auto &c : cases) {
        const std::string status = "COM5 for any UART: not held, SetCommState failed (error " +
                                   std::to_string(c.code) + "); retrying";
        const ExplainedStatus explained = ExplainIoStatus(status, nullptr);
        EXPECT_EQ(explained.text, status);
        EXPECT_EQ(explained.advice, c.advice.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.advice})
            << c.code;
    }
}

// Access denied at the open is a port another program holds; from a later
// call, a device that went away. The call is the one named in the same
// UART's part of the text, wherever that part stands.
TEST(IoStatusAdvice, AccessDeniedIsReadFromItsOwnUartsCall)
{
    const struct {
        const char *status;
        std::vector<std::string> advice;
    } cases[] = {
        {"COM5 for any UART: not held, CreateFile failed (error 5); retrying", {InUse}},
        // A sharing violation says the same of the open, as the port list and
        // the search read it.
        {"COM5 for any UART: not held, CreateFile failed (error 32); retrying", {InUse}},
        {"COM5 for any UART: not held, SetCommState failed (error 32); retrying", {}},
        {"COM5 for any UART: held, GetCommState failed (error 5)", {Unplugged}},
        {"COM4 for 02F8h: not held, GetCommModemStatus failed (error 5); retrying; COM3 for 03F8h: not held, open "
         "failed (error 5); retrying",
         {Unplugged, InUse}},
        {"COM3 for 03F8h: not held, open failed (error 5); retrying; COM4 for 02F8h: not held, GetCommModemStatus "
         "failed (error 5)",
         {InUse, Unplugged}},
        {"COM2 for 02F8h: not held, CreateFile failed (error 2); retrying; COM4 for 02E8h: held, SetCommState failed "
         "(error 5); COM6 for 03E8h: not held, open failed (error 5)",
         {NoSuchPort, Unplugged, InUse}},
        // One line for each kind of advice, however many codes call for it.
        {"COM2 for 02F8h: not held, open failed (error 2); COM3 for 03F8h: not held, open failed (error 3); COM4 "
         "for 02E8h: not held, open failed (error 123)",
         {NoSuchPort}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExplainIoStatus(c.status, AccessDeniedText).advice, c.advice) << c.status;
}

// An adapter named by its identity and found, whose open then fails: the
// io.dll's own status text still names the call and its code, so the advice
// for that code follows, as it does for a port named by its COM name. And
// an identity that several ports carry, with a COM name beside it that is
// none of them: nothing is opened, and the text says to give the serial
// number, with no advice about a code.
TEST(IoStatusAdvice, FollowsTheIoDllsTextForAnAdapterNamedByItsIdentity)
{
    const struct {
        const char *map;
        std::vector<std::pair<const char *, const char *>> ports; // COM name, instance ID
        std::uint32_t refused;                                     // the open's code on COM9, 0: none
        std::string status;
        std::vector<std::string> advice;
    } cases[] = {
        {"any = usb=0403:6001:A1B2C3", {{"COM9", "USB\\VID_0403&PID_6001\\A1B2C3"}}, 5,
         "usb=0403:6001:A1B2C3 on COM9 for any UART: not held, CreateFile failed (error 5); retrying", {InUse}},
        {"any = usb=0403:6001:A1B2C3 COM5", {{"COM9", "USB\\VID_0403&PID_6001\\A1B2C3"}}, 32,
         "usb=0403:6001:A1B2C3 on COM9 for any UART: not held, CreateFile failed (error 32); retrying", {InUse}},
        {"any = usb=0403:6001:A1B2C3", {{"COM9", "USB\\VID_0403&PID_6001\\A1B2C3"}}, 2,
         "usb=0403:6001:A1B2C3 on COM9 for any UART: not held, CreateFile failed (error 2); retrying", {NoSuchPort}},
        {"any = usb=0403:6001 COM7",
         {{"COM9", "USB\\VID_0403&PID_6001\\A1"}, {"COM8", "USB\\VID_0403&PID_6001\\B2"},
          {"COM7", "USB\\VID_2341&PID_0043\\99"}},
         0, "usb=0403:6001 (2 ports carry it: give its serial number) for any UART: not held; retrying", {}},
    };
    for (const auto &c : cases) {
        sim::ComDevices devices;
        testsupport::RefusedOpens api(devices);
        if (c.refused)
            api.refused["COM9"] = c.refused;
        for (const auto &port : c.ports)
            devices.PlugAdapter(port.first, port.second);
        commio::CommIo io(api);
        const commio::PortMapResult map = commio::ParsePortMap(c.map);
        ASSERT_EQ(map.error, "") << c.map;
        io.Configure(map.uarts);
        EXPECT_EQ(io.IsDriverInstalled(), 0) << c.map;
        EXPECT_EQ(io.Status(), c.status) << c.map;
        EXPECT_EQ(ExplainIoStatus(io.Status(), nullptr).advice, c.advice) << c.map;
    }
}

TEST(IoStatusAdvice, OnlyAWholeCodeOfUpToNineDigitsIsExplained)
{
    const struct {
        const char *status, *text;
        bool advised;
    } cases[] = {
        {"open failed (error 000000005)", "open failed (error 000000005: Access is denied)", true},
        {"open failed (error 0000000005)", "open failed (error 0000000005)", false},
        {"open failed (error 5", "open failed (error 5", false},
        {"open failed (error 5) (error", "open failed (error 5: Access is denied) (error", true},
    };
    for (const auto &c : cases) {
        const ExplainedStatus explained = ExplainIoStatus(c.status, AccessDeniedText);
        EXPECT_EQ(explained.text, c.text);
        EXPECT_EQ(explained.advice, c.advised ? std::vector<std::string>{InUse} : std::vector<std::string>{})
            << c.status;
    }
}

// ---- The port plan ----------------------------------------------------------

struct PlanCase {
    const char *params;
    std::uint16_t base;
    bool accepted;
    std::vector<std::string> warnings; // whole
};

std::ostream &operator<<(std::ostream &os, const PlanCase &c) { return os << c.params; }

class PortPlanWarnings : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PortPlanWarnings, AreWhatTheLibraryWillDo)
{
    const PortPlan plan = PlanPort(GetParam().params);
    EXPECT_EQ(plan.base, GetParam().base);
    EXPECT_EQ(plan.baseAccepted, GetParam().accepted);
    EXPECT_EQ(plan.warnings, GetParam().warnings);
}

const std::string Outside = " lies outside 0100h to FFF9h: the library refuses it, opens nothing and reports no press.";

INSTANTIATE_TEST_SUITE_P(Cases, PortPlanWarnings, ::testing::Values(
    PlanCase{"COM9;0X3F8h", 0, false,
             {"The address text '0X3F8h' starts with 0x: the library takes no prefix, and the 'x' ends its reading at "
              "0000h. Write it as '3F8h'.",
              "The base 0000h" + Outside}},
    PlanCase{"COM9;0X2F8", 0, false,
             {"The address text '0X2F8' starts with 0x: the library takes no prefix, and the 'x' ends its reading at "
              "0000h. Write it as '2F8h'.",
              "The base 0000h" + Outside}},
    // Too short to be a prefix before digits: just a text that reads 0.
    PlanCase{"COM9;0x", 0, false, {"The base 0000h" + Outside}},
    PlanCase{"COM9;5", 0, false,
             {"The address text '5' ends in a hex digit: the library drops the last character as the suffix and "
              "reads 0000h. Write it with a suffix, such as '5h'.",
              "The base 0000h" + Outside}},
    PlanCase{"COM9;x", 0, false,
             {"The address text 'x' is only a suffix, with no digits before it: it reads 0000h. Write the base before "
              "the suffix, such as '2F8x'.",
              "The base 0000h" + Outside}},
    PlanCase{"COM9;100h", 0x100, true, {}},
    PlanCase{"COM9;FFh", 0xFF, false, {"The base 00FFh" + Outside}},
    PlanCase{"COM9;FFF9h", 0xFFF9, true, {}}),
    [](const ::testing::TestParamInfo<PlanCase> &param) {
        std::string name = std::to_string(param.index) + "_";
        for (const char *c = param.param.params; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

// ---- The options ------------------------------------------------------------

std::string Parse(const std::vector<std::string> &args, KeyTestOptions &options)
{
    options = KeyTestOptions{};
    return ParseKeyTestOptions(args, options);
}

const std::string ModesOwnPorts = " opens the ports itself: it takes no parameter text, --dtr, --log or --vcd";

TEST(KeyTestModes, RefuseWhatBelongsToAnotherMode)
{
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--find", "--vcd", "k.vcd"}, "--find" + ModesOwnPorts},
        {{"--find", "--dtr", "off"}, "--find" + ModesOwnPorts},
        {{"--find", ""}, "--find" + ModesOwnPorts},
        {{"--ports", "--log", "k.csv"}, "--ports" + ModesOwnPorts},
        {{"--ports", "--vcd", "k.vcd"}, "--ports" + ModesOwnPorts},
        {{"--ports", "--dtr=off"}, "--ports" + ModesOwnPorts},
        {{"COM2", "--ports"}, "--ports" + ModesOwnPorts},
        {{"--ports", "--write-map"}, "--write-map writes what --find finds: give both"},
        {{"--write-map", "--dtr", "on"}, "--write-map writes what --find finds: give both"},
        {{"--find", "--write-map", "--ports"}, "--ports or --find, one at a time"},
        {{"--write-map", "--find"}, ""},
        {{"--find", "--presses", "1", "--seconds", "0.5"}, ""},
    };
    for (const auto &c : cases) {
        KeyTestOptions options;
        EXPECT_EQ(Parse(c.args, options), c.error) << ::testing::PrintToString(c.args);
    }
}

// Every number option takes plain decimal digits only (seconds a fraction
// too), from its lowest value to its highest, and names a bad value whole.
TEST(KeyTestNumbers, TakeDigitsOnlyFromTheirLowestToTheirHighestValue)
{
    const std::string seconds = "--seconds needs a number of seconds above 0 and at most 1000000, in digits with an "
                                "optional fraction (30, 0.5)";
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
        {"--seconds", seconds, {"0.001", "1000000", "1000000.0", ".5", "5.", "007"}, {0.001, 1e6, 1e6, 0.5, 5, 7},
         {"1e3", "0x10", "+5", " 5", "5 ", "5x", "inf", ".", "-1", "0.0", "1000000.001", "1,5"}},
    };
    for (const auto &c : cases) {
        for (std::size_t i = 0; i < c.good.size(); ++i) {
            KeyTestOptions options;
            ASSERT_EQ(Parse({c.option, c.good[i]}, options), "") << c.option << " " << c.good[i];
            const double got = std::string(c.option) == "--interval" ? options.intervalMs
                               : std::string(c.option) == "--chatter" ? options.chatterMs
                               : std::string(c.option) == "--presses" ? options.presses
                                                                      : options.seconds;
            EXPECT_EQ(got, c.values[i]) << c.option << " " << c.good[i];
        }
        for (const std::string &value : c.bad) {
            KeyTestOptions options;
            EXPECT_EQ(Parse({c.option, value}, options), c.need + ", not '" + value + "'") << c.option;
            EXPECT_EQ(Parse({std::string(c.option) + "=" + value}, options), c.need + ", not '" + value + "'");
        }
    }
}

// A bad value is echoed whole, however long.
TEST(KeyTestNumbers, ABadValueIsQuotedWhole)
{
    for (const std::size_t length : {23u, 24u, 25u, 200u}) {
        const std::string value(length, 'q');
        KeyTestOptions options;
        EXPECT_EQ(Parse({"--interval", value}, options),
                  "--interval needs milliseconds from 1 to 10000, not '" + value + "'");
        EXPECT_EQ(Parse({"--dtr", value}, options), "--dtr needs on or off, not '" + value + "'");
        const std::string file = value.substr(0, length - 4) + ".dll";
        EXPECT_EQ(Parse({"--io", file}, options), "--io must name a file called io.dll (Zelbin_Serial.dll imports "
                                                  "it by that name), not '" + file + "'");
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

// ---- The summary's poll intervals -------------------------------------------

std::string PollIntervalLine(const std::vector<double> &pollsMs, std::uint32_t askedMs)
{
    KeyAnalysis analysis(30);
    PollTiming timing;
    for (double ms : pollsMs) {
        timing.Poll(ms / 1000.0);
        analysis.Poll(ms / 1000.0, false, LineLevels{});
    }
    for (const std::string &line : FormatSummary(analysis, timing, askedMs))
        if (line.rfind("  poll interval", 0) == 0)
            return line;
    return "(none)";
}

TEST(SummaryPollIntervals, GiveMinimumMedianAndMaximumOnceThereIsAnInterval)
{
    EXPECT_EQ(PollIntervalLine({}, 10), "  poll interval   - (fewer than two polls)");
    EXPECT_EQ(PollIntervalLine({0}, 10), "  poll interval   - (fewer than two polls)");
    EXPECT_EQ(PollIntervalLine({0, 12}, 25),
              "  poll interval   min 12.0 ms, median 12.0 ms, max 12.0 ms over 1 interval (asked: 25 ms)");
    EXPECT_EQ(PollIntervalLine({0, 12, 24}, 25),
              "  poll interval   min 12.0 ms, median 12.0 ms, max 12.0 ms over 2 intervals (asked: 25 ms)");
    EXPECT_EQ(PollIntervalLine({100, 110, 130.05, 170.05}, 7),
              "  poll interval   min 10.0 ms, median 20.1 ms, max 40.0 ms over 3 intervals (asked: 7 ms)");
}

} // namespace
