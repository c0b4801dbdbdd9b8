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
#include "commio/PortMap.h"
#include "portsetup/KeyFinder.h"
#include "portsetup/MapWriter.h"
#include "portsetup/PortList.h"
#include "testsupport/RefusedOpens.h"
#include "testsupport/MapFolder.h"
#include "testsupport/KeyFindings.h"

using namespace portsetup; // the port set-up's own names, unqualified as in its own code

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

} // namespace
