// Setting a key up in one step: the port list merged from Windows' three
// sources, the key found by pressing it over simulated COM devices, and the
// port map written and read back by the comm-port io.dll's parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "comdevices/ComDevices.h"
#include "commio/PortMap.h"
#include "portsetup/KeyFinder.h"
#include "portsetup/MapWriter.h"
#include "portsetup/PortList.h"
#include "testsupport/MapFolder.h"
#include "testsupport/KeyFindings.h"

using namespace portsetup; // the port set-up's own names, unqualified as in its own code

namespace {

using portsetup::ClassPort;
using portsetup::DosPort;
using portsetup::Finding;
using portsetup::PortAccess;
using portsetup::PortInfo;
using portsetup::RegistryPort;

// ---- The port list --------------------------------------------------------

struct MergeCase {
    const char *name;
    std::vector<ClassPort> classPorts;
    std::vector<RegistryPort> registry;
    std::vector<DosPort> dos;
    // "COM5|friendly name|VID:PID:serial|sources|kernel device" per port, in order
    std::vector<std::string> expected;
};

std::ostream &operator<<(std::ostream &os, const MergeCase &c) { return os << c.name; }

std::string Row(const PortInfo &port)
{
    std::string usb = port.usb.Known() ? commio::FormatUsbIdentity(port.usb) + (port.usb.serial.empty() ? ":" : "") : "";
    return port.name + "|" + port.friendlyName + "|" + usb + "|" + std::to_string(port.sources) + "|" +
           port.kernelDevice;
}

class PortMerging : public ::testing::TestWithParam<MergeCase> {};

TEST_P(PortMerging, GivesOneEntryPerComNameInNumberOrder)
{
    const MergeCase &c = GetParam();
    std::vector<std::string> rows;
    for (const PortInfo &port : portsetup::MergePorts(c.classPorts, c.registry, c.dos))
        rows.push_back(Row(port));
    EXPECT_EQ(rows, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Sources, PortMerging, ::testing::Values(
    // What Wine gives: no device class, the registry and the DOS names.
    MergeCase{"registry and dos devices only",
        {},
        {{"\\Device\\Serial0", "COM1"}, {"\\Device\\Serial1", "COM2"}},
        {{"COM1", "/dev/ttyS0"}, {"COM2", "/dev/ttyS1"}, {"LPT1", "/dev/lp0"}, {"AUX", "\\DosDevices\\COM1"}},
        {"COM1|||6|\\Device\\Serial0", "COM2|||6|\\Device\\Serial1"}},
    MergeCase{"all three agree on one port",
        {{"COM5", "USB Serial Port (COM5)", "USB\\VID_1A86&PID_7523\\A50285BI", ""}},
        {{"\\Device\\VCP0", "COM5"}},
        {{"COM5", "\\Device\\VCP0"}},
        {"COM5|USB Serial Port (COM5)|1A86:7523:A50285BI|7|\\Device\\VCP0"}},
    // Sorted as numbers: COM10 after COM3, not before it as text would be.
    MergeCase{"gaps: each source knows another port",
        {{"COM10", "PCIe Serial Port (COM10)", "PCI\\VEN_1C00&DEV_3253\\4&1", ""}},
        {{"\\Device\\Serial0", "COM1"}},
        {{"COM3", "\\Device\\Serial2"}},
        {"COM1|||2|\\Device\\Serial0", "COM3|||4|\\Device\\Serial2", "COM10|PCIe Serial Port (COM10)||1|"}},
    // One port under different spellings, and a second device claiming a
    // name: the first device's details stay.
    MergeCase{"duplicates in and across sources",
        {{"com5", "USB Serial Port (COM5)", "USB\\VID_0403&PID_6001\\FT1", ""},
         {"COM5", "Other Port (COM5)", "USB\\VID_10C4&PID_EA60\\0001", ""}},
        {{"\\Device\\VCP0", "\\\\.\\COM5"}, {"\\Device\\VCP9", "COM5"}},
        {{"COM5", "\\Device\\VCP0"}, {"COM5", "\\Device\\VCP0"}},
        {"COM5|USB Serial Port (COM5)|0403:6001:FT1|7|\\Device\\VCP0"}},
    MergeCase{"names that are no COM port are left out",
        {{"", "Printer Port", "ACPI\\PNP0400\\1", ""}, {"LPT1", "Printer Port (LPT1)", "ACPI\\PNP0400\\1", ""}},
        {{"\\Device\\X", "COM0"}, {"\\Device\\Y", "COM257"}, {"\\Device\\Z", "COMX"}},
        {{"COM05", "x"}, {"COM256", "\\Device\\Serial9"}},
        {"COM256|||4|\\Device\\Serial9"}},
    MergeCase{"a device without its PortName value",
        {{"", "USB Serial Port (COM7)", "USB\\VID_0403&PID_6015\\DK0", ""}, {"", "Odd Port (COM", "X", ""},
         {"", "(COM8", "X", ""}, {"", ")", "X", ""}},
        {}, {},
        {"COM7|USB Serial Port (COM7)|0403:6015:DK0|1|"}},
    MergeCase{"nothing anywhere", {}, {}, {}, {}}));

struct IdentityCase {
    const char *instanceId;
    const char *vendor, *product, *serial; // empty vendor: none
};

std::ostream &operator<<(std::ostream &os, const IdentityCase &c) { return os << c.instanceId; }

class InstanceIds : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(InstanceIds, GiveTheUsbIdentity)
{
    const portsetup::UsbIdentity usb = portsetup::IdentityFromInstanceId(GetParam().instanceId);
    const std::string expected = *GetParam().vendor ? std::string(GetParam().vendor) + ":" + GetParam().product : "";
    EXPECT_EQ(usb.Known() ? commio::FormatUsbIdentity(usb).substr(0, 9) : "", expected);
    EXPECT_EQ(usb.serial, GetParam().serial);
}

INSTANTIATE_TEST_SUITE_P(Cases, InstanceIds, ::testing::Values(
    IdentityCase{"USB\\VID_0403&PID_6001\\A50285BI", "0403", "6001", "A50285BI"},
    IdentityCase{"usb\\vid_1a86&pid_7523\\AB12", "1A86", "7523", "AB12"},
    // No serial of its own: Windows makes the instance part up.
    IdentityCase{"USB\\VID_1A86&PID_7523\\5&2B3C1A&0&2", "1A86", "7523", ""},
    IdentityCase{"USB\\VID_2341&PID_0043&MI_00\\6&3A2B&0&0000", "2341", "0043", ""},
    // A driver's own bus with the serial in the hardware part.
    IdentityCase{"VCPBUS\\VID_0403+PID_6001+A50285BIA\\0000", "0403", "6001", "A50285BIA"},
    IdentityCase{"VCPBUS\\VID_0403+PID_6001\\0000", "0403", "6001", ""},
    IdentityCase{"VCPBUS\\VID_0403+PID_6001+5&1A2B\\0000", "0403", "6001", ""},
    IdentityCase{"ACPI\\PNP0501\\1", "", "", ""},
    IdentityCase{"USB\\VID_04&PID_6001\\X", "", "", ""},
    IdentityCase{"", "", "", ""}));

struct ProbeCase {
    const char *name;
    void (*setUp)(sim::ComDevices &devices);
    PortAccess access;
};

std::ostream &operator<<(std::ostream &os, const ProbeCase &c) { return os << c.name; }

class PortProbe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(PortProbe, TellsWhetherThePortOpensAndLeavesItsLinesOff)
{
    sim::ComDevices devices;
    GetParam().setUp(devices);
    const std::uint64_t heldBefore = devices.HandlesHeld();
    std::uint32_t error = 0;
    EXPECT_EQ(portsetup::ProbePort(devices, "COM5", error), GetParam().access);
    EXPECT_EQ(error != 0, GetParam().access != PortAccess::Free);
    EXPECT_EQ(devices.HandlesHeld(), heldBefore) << "the probe keeps no handle";
    for (const std::string &call : devices.Calls())
        EXPECT_EQ(call.find("SETRTS"), std::string::npos) << call;
    if (const sim::ComDevices::Device *device = devices.Find("COM5"); device && !device->held) {
        EXPECT_FALSE(device->dtr || device->rts);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PortProbe, ::testing::Values(
    ProbeCase{"free", [](sim::ComDevices &d) { d.Plug("COM5"); }, PortAccess::Free},
    ProbeCase{"held by another program",
        [](sim::ComDevices &d) {
            d.Plug("COM5");
            commio::DeviceHandle other = nullptr;
            d.Open("\\\\.\\COM5", other);
        },
        PortAccess::Held},
    ProbeCase{"a COM name linked to a file", [](sim::ComDevices &d) { d.Plug("COM5").serial = false; },
        PortAccess::NotSerial},
    ProbeCase{"unplugged", [](sim::ComDevices &d) { d.Plug("COM5"); d.Unplug("COM5"); }, PortAccess::Missing},
    ProbeCase{"never there", [](sim::ComDevices &) {}, PortAccess::Missing}));

// The library's standard names that no list holds are added when they open
// (a Wine prefix's COM1 to COM4, links to a file), in number order among the
// listed ones; a listed name is not opened again, a name with no device not
// added, and a held one is added as held.
TEST(UnlistedStandardPorts, AreAddedWhereTheyExistAndProbed)
{
    sim::ComDevices devices;
    devices.Plug("COM1").serial = false;
    devices.Plug("COM2"); // listed below: not probed here
    devices.Plug("COM4");
    commio::DeviceHandle other = nullptr;
    devices.Open("\\\\.\\COM4", other);
    devices.Plug("COM7").serial = false; // not a standard name
    std::vector<PortInfo> ports = portsetup::MergePorts({}, {{"\\Device\\Serial1", "COM2"}, {"\\Device\\X", "COM9"}}, {});
    portsetup::AddUnlistedStandardPorts(ports, devices);
    std::vector<std::string> seen;
    for (const PortInfo &port : ports)
        seen.push_back(port.name + " " + std::to_string(port.sources) + " " +
                       portsetup::AccessText(port.access, 0).substr(0, 6));
    EXPECT_EQ(seen, (std::vector<std::string>{"COM1 8 opens,", "COM2 2 not tr", "COM4 8 held b", "COM9 2 not tr"}));
    const std::vector<std::string> report = portsetup::FormatPortList(ports, "io-ports.txt", "");
    EXPECT_NE(std::find(report.begin(), report.end(),
                        "  device  : in none of Windows' lists; opened by its name, as the key library opens it"),
              report.end());
    for (const std::string &call : devices.Calls())
        EXPECT_EQ(call.find("COM2"), std::string::npos) << "a listed port is left to the caller: " << call;
}

TEST(PortListReport, NamesTheMapLineOfEachPortAndWhatIsKnown)
{
    std::vector<PortInfo> ports = portsetup::MergePorts(
        {{"COM5", "USB Serial Port (COM5)", "USB\\VID_1A86&PID_7523\\5&1&0&2", ""}}, {{"\\Device\\Serial0", "COM1"}},
        {{"COM3", "\\Device\\Serial2"}});
    ports[0].access = PortAccess::NotSerial;
    ports[0].accessError = 1;
    ports[2].access = PortAccess::Held;
    portsetup::MarkMappedPorts(ports, commio::ParsePortMap("# keys\n3F8 = com3\n\nany = \\\\.\\COM5\n"));
    EXPECT_EQ(ports[0].mapLine, 0);
    EXPECT_EQ(ports[1].mapLine, 2);
    EXPECT_EQ(ports[2].mapLine, 4);
    const std::vector<std::string> expected = {
        "COM1",
        "  device  : \\Device\\Serial0",
        "  now     : opens, but is not a serial port (error 1 at its settings)",
        "COM3",
        "  device  : \\Device\\Serial2",
        "  now     : not tried",
        "  map     : line 2 of io-ports.txt",
        "COM5  USB Serial Port (COM5)",
        "  identity: USB 1A86:7523, no serial number",
        "  now     : held by another program (a host or terminal has it open: close it first)",
        "  map     : line 4 of io-ports.txt",
    };
    EXPECT_EQ(portsetup::FormatPortList(ports, "C:\\Host\\io-ports.txt", ""), expected);
    EXPECT_EQ(portsetup::FriendlyNameOf(ports, "\\\\.\\COM5"), "USB Serial Port (COM5)");
    EXPECT_EQ(portsetup::FriendlyNameOf(ports, "COM3"), "");

    const std::vector<std::string> none = portsetup::FormatPortList({}, "io-ports.txt", "line 1: unknown device");
    ASSERT_EQ(none.size(), 2u);
    EXPECT_NE(none[0].find("no serial port"), std::string::npos);
    EXPECT_EQ(none[1], "io-ports.txt: line 1: unknown device");
}

TEST(PortListReport, TakesTheDeviceTheCommIoDllUsesForABase)
{
    const commio::PortMapResult both = commio::ParsePortMap("any = com5\n3F8 = COM3\n");
    const commio::PortMapResult explicitOnly = commio::ParsePortMap("2F8 = \\\\.\\COM12\n");
    const struct {
        const commio::PortMapResult &map;
        std::uint16_t base;
        const char *device;
    } cases[] = {
        {both, 0x3F8, "COM3"}, // the explicit line, though `any` was written first
        {both, 0x2F8, "COM5"},
        {explicitOnly, 0x2F8, "COM12"},
        {explicitOnly, 0x3F8, ""},
        {commio::PortMapResult{}, 0x3F8, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(portsetup::MappedDevice(c.map, c.base), c.device) << std::hex << c.base;
}

// ---- Finding the key ------------------------------------------------------

constexpr std::uint8_t Cts = commio::ModemCts, Dsr = commio::ModemDsr, Dcd = commio::ModemDcd;

// A line's level from a time on.
struct LineEvent {
    std::uint32_t at;
    const char *port;
    std::uint8_t line;
    bool level;
};

// `count` presses of `line` on `port`, `every` ms apart, each held `held`
// ms, from `from`; `restOn` for a key that opens the line when pressed.
std::vector<LineEvent> Presses(const char *port, std::uint8_t line, int count, bool restOn = false,
                               std::uint32_t from = 300, std::uint32_t every = 200, std::uint32_t held = 80)
{
    std::vector<LineEvent> events;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t at = from + every * static_cast<std::uint32_t>(i);
        events.push_back({at, port, line, !restOn});
        events.push_back({at + held, port, line, restOn});
    }
    return events;
}

std::vector<LineEvent> operator+(std::vector<LineEvent> a, const std::vector<LineEvent> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct FinderCase {
    const char *name;
    std::vector<const char *> plugged;   // simulated devices, all listed to the finder
    std::vector<LineEvent> events;       // at 0: the levels before the search
    const char *heldElsewhere;           // a port another program holds, or null
    const char *notSerial;               // a port that is no serial port, or null
    const char *vanishes;                // unplugged at 500 ms, or null
    Finding::Kind kind;
    const char *port;                    // Found: where
    int line;
    bool opens;
    const char *mapLine;                 // Found: the line for io-ports.txt
    std::vector<std::string> skipped, lost;
    bool endsEarly;                      // presses reached before the time limit
    unsigned presses = 3;                // Found: of the key's line
};

std::ostream &operator<<(std::ostream &os, const FinderCase &c) { return os << c.name; }

class Finder : public ::testing::TestWithParam<FinderCase> {};

TEST_P(Finder, NamesTheKeyAndGivesEveryPortBack)
{
    const FinderCase &c = GetParam();
    sim::ComDevices devices;
    std::vector<PortInfo> listed;
    for (const char *name : c.plugged) {
        devices.Plug(name);
        PortInfo info;
        info.name = name;
        info.friendlyName = std::string("USB Serial Port (") + name + ")";
        listed.push_back(info);
    }
    commio::DeviceHandle other = nullptr;
    if (c.heldElsewhere) {
        ASSERT_EQ(devices.Open(c.heldElsewhere, other), 0u);
    }
    if (c.notSerial)
        devices.Find(c.notSerial)->serial = false;
    for (const LineEvent &e : c.events)
        if (e.at == 0)
            devices.SetInput(e.port, e.line, e.level);
    const std::uint64_t opensBefore = devices.Opens();
    devices.TakeCalls();

    constexpr std::uint32_t limitMs = 6000, stepMs = 10;
    bool done = false;
    {
        portsetup::KeyFinder finder(devices);
        finder.Open(listed);
        // Every claim: open, both lines off in one step, then RTS on; DTR never.
        const std::vector<std::string> calls = devices.TakeCalls();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].find(" -> c") == std::string::npos)
                continue;
            const std::string handle = calls[i].substr(calls[i].rfind("c"));
            ASSERT_LT(i + 1, calls.size());
            // (A port that is no serial port fails already at reading its settings.)
            EXPECT_TRUE(calls[i + 1].rfind("SetCommState(" + handle + ", dtr off, rts off)", 0) == 0 ||
                        calls[i + 1].rfind("GetCommState(" + handle + ") fails", 0) == 0)
                << calls[i + 1];
            if (calls[i + 1].find("fails") == std::string::npos && i + 2 < calls.size() &&
                calls[i + 2].find("CloseHandle") == std::string::npos) {
                EXPECT_EQ(calls[i + 2], "EscapeCommFunction(" + handle + ", SETRTS)");
            }
        }
        std::uint32_t now = 0;
        while (now < limitMs && !done) {
            for (const LineEvent &e : c.events)
                if (e.at > 0 && e.at > now - stepMs && e.at <= now)
                    devices.SetInput(e.port, e.line, e.level);
            if (c.vanishes && now == 500)
                devices.Unplug(c.vanishes);
            done = finder.Poll(3);
            devices.Advance(stepMs);
            now += stepMs;
        }
        const Finding finding = finder.Result();
        EXPECT_EQ(finding.kind, c.kind);
        EXPECT_EQ(finding.skipped, c.skipped);
        EXPECT_EQ(finding.lost, c.lost);
        if (c.kind == Finding::Kind::Found) {
            EXPECT_EQ(finding.port, c.port);
            EXPECT_EQ(finding.line, c.line);
            EXPECT_EQ(finding.opensWhenPressed, c.opens);
            EXPECT_EQ(portsetup::MapLineFor(finding), c.mapLine);
            EXPECT_EQ(finding.presses, c.presses);
        }
        EXPECT_EQ(done, c.endsEarly);
        // The finder goes out of scope here without CloseAll, as when the
        // search is cut short: its ports are given back all the same.
    }
    for (const std::string &call : devices.Calls())
        EXPECT_EQ(call.find("SETDTR"), std::string::npos) << call;
    EXPECT_EQ(devices.HandlesHeld(), c.heldElsewhere ? 1u : 0u);
    EXPECT_EQ(devices.Opens() - opensBefore, devices.Closes()) << "every port opened is closed once";
    EXPECT_EQ(devices.BadCloses(), 0u);
    for (const char *name : c.plugged) {
        const sim::ComDevices::Device *device = devices.Find(name);
        if (c.heldElsewhere && std::string(name) == c.heldElsewhere)
            continue;
        EXPECT_FALSE(device->dtr || device->rts) << name << " left with a line on";
    }
}

const std::vector<std::string> None;

INSTANTIATE_TEST_SUITE_P(Cases, Finder, ::testing::Values(
    FinderCase{"the key on COM5 CTS", {"COM1", "COM3", "COM5"}, Presses("COM5", Cts, 3), nullptr, nullptr,
        nullptr, Finding::Kind::Found, "COM5", uart::LineCts, false, "any = COM5", None, None, true},
    FinderCase{"the key on DSR", {"COM1", "COM5"}, Presses("COM5", Dsr, 3), nullptr, nullptr, nullptr,
        Finding::Kind::Found, "COM5", uart::LineDsr, false, "any = COM5 line=DSR", None, None, true},
    // On at rest, off while pressed: a normally closed key.
    FinderCase{"an inverted key", {"COM5"}, std::vector<LineEvent>{{0, "COM5", Cts, true}} +
        Presses("COM5", Cts, 3, true), nullptr, nullptr, nullptr,
        Finding::Kind::Found, "COM5", uart::LineCts, true, "any = COM5 invert", None, None, true},
    FinderCase{"an inverted key on DCD", {"COM2"}, std::vector<LineEvent>{{0, "COM2", Dcd, true}} +
        Presses("COM2", Dcd, 3, true), nullptr, nullptr, nullptr,
        Finding::Kind::Found, "COM2", uart::LineDcd, true, "any = COM2 line=DCD invert", None, None, true},
    // A line that is on from the start and stays on is no key.
    FinderCase{"a line on throughout beside the key", {"COM5"}, std::vector<LineEvent>{{0, "COM5", Dsr, true}} +
        Presses("COM5", Cts, 3), nullptr, nullptr, nullptr,
        Finding::Kind::Found, "COM5", uart::LineCts, false, "any = COM5", None, None, true},
    FinderCase{"two ports changing", {"COM3", "COM5"}, Presses("COM5", Cts, 3) + Presses("COM3", Dsr, 1, false, 350),
        nullptr, nullptr, nullptr, Finding::Kind::SeveralPorts, "", 0, false, "", None, None, true},
    FinderCase{"none changing", {"COM1", "COM5"}, {}, nullptr, nullptr, nullptr,
        Finding::Kind::NoneChanged, "", 0, false, "", None, None, false},
    FinderCase{"a port held by another program", {"COM3", "COM5"}, Presses("COM5", Cts, 3), "COM3", nullptr,
        nullptr, Finding::Kind::Found, "COM5", uart::LineCts, false, "any = COM5",
        {"COM3: held by another program"}, None, true},
    FinderCase{"a port that is no serial port", {"COM1", "COM5"}, Presses("COM5", Cts, 3), nullptr, "COM1",
        nullptr, Finding::Kind::Found, "COM5", uart::LineCts, false, "any = COM5",
        {"COM1: not a serial port (error 1 at its settings)"}, None, true},
    FinderCase{"a port that vanishes mid-search", {"COM5", "COM7"}, Presses("COM5", Cts, 3), nullptr, nullptr,
        "COM7", Finding::Kind::Found, "COM5", uart::LineCts, false, "any = COM5", None,
        {"COM7: stopped answering during the search (error 22): unplugged?"}, true},
    // Unplugged at the second press: what was seen before still names it.
    FinderCase{"the key's own port vanishes at the second press", {"COM5"}, Presses("COM5", Cts, 2), nullptr,
        nullptr, "COM5", Finding::Kind::Found, "COM5", uart::LineCts, false, "any = COM5", None,
        {"COM5: stopped answering during the search (error 22): unplugged?"}, false, 1},
    // Held down as the search begins, let go at 150 ms, then pressed: the
    // level the line holds longer is its level at rest, not the first one.
    FinderCase{"a key held down as the search begins", {"COM5"},
        std::vector<LineEvent>{{0, "COM5", Dsr, true}, {150, "COM5", Dsr, false}} + Presses("COM5", Dsr, 3, false, 400),
        nullptr, nullptr, nullptr, Finding::Kind::Found, "COM5", uart::LineDsr, false, "any = COM5 line=DSR", None,
        None, true},
    FinderCase{"a normally closed key held open as the search begins", {"COM5"},
        std::vector<LineEvent>{{150, "COM5", Cts, true}} + Presses("COM5", Cts, 3, true, 400), nullptr, nullptr,
        nullptr, Finding::Kind::Found, "COM5", uart::LineCts, true, "any = COM5 invert", None, None, true},
    // Presses held longer than the pauses between them: the key still rests
    // released before the first and after the last.
    FinderCase{"long presses with short pauses", {"COM5"}, Presses("COM5", Dsr, 3, false, 300, 1500, 1000), nullptr,
        nullptr, nullptr, Finding::Kind::Found, "COM5", uart::LineDsr, false, "any = COM5 line=DSR", None, None,
        true},
    // Pressed once more before the search had ended: four presses.
    FinderCase{"a fourth press before the end", {"COM5"}, Presses("COM5", Cts, 4, false, 300, 600, 300), nullptr,
        nullptr, nullptr, Finding::Kind::Found, "COM5", uart::LineCts, false, "any = COM5", None, None, true, 4},
    // Pressed and held to the end: a line that went and stayed is no press.
    FinderCase{"a key pressed and held to the end", {"COM5"}, std::vector<LineEvent>{{500, "COM5", Dsr, true}},
        nullptr, nullptr, nullptr, Finding::Kind::NoPress, "", 0, false, "", None, None, false},
    FinderCase{"every port held", {"COM3"}, Presses("COM3", Cts, 3), "COM3", nullptr, nullptr,
        Finding::Kind::NothingToWatch, "", 0, false, "", {"COM3: held by another program"}, None, false}));

TEST(FinderSettling, TakesTheLevelAtRestOnlyOnceThePortHasSettled)
{
    // A passive key's line follows RTS a moment after the claim; that rise
    // is no press, and the level after it is the one at rest.
    sim::ComDevices devices;
    devices.Plug("COM5");
    PortInfo info;
    info.name = "COM5";
    portsetup::KeyFinder finder(devices);
    finder.Open({info});
    EXPECT_EQ(finder.Watching(), 1u);
    finder.Poll(1);
    devices.Advance(40);
    devices.SetInput("COM5", Dsr, true); // settles on
    finder.Poll(1);
    devices.Advance(portsetup::KeyFinder::SettleMs);
    finder.Poll(1);
    EXPECT_FALSE(finder.Ports()[0].Changed());
    devices.SetInput("COM5", Dsr, false);
    finder.Poll(1);
    devices.SetInput("COM5", Dsr, true);
    EXPECT_FALSE(finder.Poll(1)) << "the search ends only once the line has rested";
    devices.Advance(portsetup::KeyFinder::QuietMs);
    EXPECT_TRUE(finder.Poll(1));
    const Finding finding = finder.Result();
    EXPECT_EQ(finding.line, uart::LineDsr);
    EXPECT_TRUE(finding.opensWhenPressed);
    finder.CloseAll();
    finder.CloseAll();
    EXPECT_EQ(devices.Closes(), 1u);
    EXPECT_EQ(devices.Calls().end()[-2], "EscapeCommFunction(c1, CLRRTS)");
}

struct DescribeCase {
    const char *name;
    Finding finding;
    std::vector<std::string> fragments; // each in the text, in this order
};

std::ostream &operator<<(std::ostream &os, const DescribeCase &c) { return os << c.name; }

Finding Found(int line, bool opens, std::vector<int> also = {})
{
    return testsupport::FoundOnCom5(line, opens, 3, "USB Serial Port (COM5)", std::move(also));
}

Finding Other(Finding::Kind kind)
{
    Finding f;
    f.kind = kind;
    f.watched = {"COM1", "COM5"};
    f.skipped = {"COM3: held by another program"};
    f.changedPorts = {"COM1 (CTS 1 time)", "COM5 (DSR 3 times)"};
    f.stuckLines = {"COM5 DSR"};
    return f;
}

class FindingText : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(FindingText, SaysWhatToDo)
{
    std::string text;
    for (const std::string &line : portsetup::DescribeFinding(GetParam().finding))
        text += line + "\n";
    std::size_t at = 0;
    for (const std::string &fragment : GetParam().fragments) {
        const std::size_t found = text.find(fragment, at);
        EXPECT_NE(found, std::string::npos) << "'" << fragment << "' in order in:\n" << text;
        at = found == std::string::npos ? at : found + fragment.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FindingText, ::testing::Values(
    DescribeCase{"cts closing", Found(uart::LineCts, false),
        {"The key is on COM5, USB Serial Port, line CTS, closes when pressed (3 presses seen).",
         "the wiring the key library reads", "\n  any = COM5\n"}},
    DescribeCase{"dsr", Found(uart::LineDsr, false),
        {"line DSR, closes when pressed", "this key is on DSR.", "\n  any = COM5 line=DSR\n"}},
    DescribeCase{"normally closed on RI", Found(uart::LineRi, true),
        {"line RI, opens when pressed", "on RI and normally closed", "\n  any = COM5 line=RI invert\n"}},
    DescribeCase{"two lines of one port", Found(uart::LineCts, false, {uart::LineDsr, uart::LineDcd}),
        {"any = COM5\n", "DSR and DCD changed too", "CTS changed most"}},
    DescribeCase{"several ports", Other(Finding::Kind::SeveralPorts),
        {"more than one port: COM1 (CTS 1 time) and COM5 (DSR 3 times).", "Unplug the other devices",
         "Not searched: COM3: held by another program.", "free that port"}},
    DescribeCase{"none", Other(Finding::Kind::NoneChanged),
        {"No line changed on COM1 and COM5.", "--ports", "RTS", "Not searched: COM3"}},
    DescribeCase{"a line that went and stayed", Other(Finding::Kind::NoPress),
        {"didn't change back: COM5 DSR.", "a key held down", "press it briefly", "Not searched: COM3"}},
    DescribeCase{"nothing to watch", Other(Finding::Kind::NothingToWatch),
        {"No port could be watched.", "close any program that holds the port"}}));

// ---- Writing the map ------------------------------------------------------

class MapFiles : public testsupport::MapFolderTest {};

TEST_F(MapFiles, AFreshMapIsReadBackByTheIoDllsParser)
{
    Finding finding = Found(uart::LineCts, false);
    finding.usb = {0x1A86, 0x7523, "A50285BI"};
    const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, finding);
    EXPECT_TRUE(result.done) << result.message;
    EXPECT_FALSE(result.keptBackup);
    EXPECT_EQ(Files(), std::vector<std::string>{"io-ports.txt"});
    const std::string text = Read(path_);
    EXPECT_NE(text.find("# The adapter: USB 1A86:7523, serial A50285BI.\n"), std::string::npos) << text;
    const commio::PortMapResult map = commio::ParsePortMap(text);
    ASSERT_EQ(map.error, "");
    ASSERT_EQ(map.uarts.size(), 1u);
    EXPECT_TRUE(map.uarts[0].any);
    EXPECT_EQ(map.uarts[0].path, "\\\\.\\COM5");
    // The adapter is named on the mapping line itself, so the io.dll finds
    // it again after Windows gives it another COM number.
    ASSERT_TRUE(map.uarts[0].hasUsb);
    EXPECT_EQ(commio::FormatUsbIdentity(map.uarts[0].usb), "1A86:7523:A50285BI");
}

TEST_F(MapFiles, DeviceNamesInAnyLanguageStillGiveAMapTheParserReads)
{
    // Windows names devices in the user's language and code page; a long
    // name or a serial with odd bytes must not make the map unreadable.
    const std::string names[] = {"P\xC3\xA9riph\xC3\xA9rique s\xC3\xA9rie USB (COM5)",
                                 "Serieller USB-Anschlu\xDF (COM5)", std::string(300, 'x'), "tab\tand\rreturn"};
    for (const std::string &name : names) {
        Finding finding = Found(uart::LineCts, false);
        finding.friendlyName = name;
        finding.usb = {0x1A86, 0x7523, "\x01\xFF"};
        const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, finding);
        EXPECT_TRUE(result.done) << name << ": " << result.message;
        const commio::PortMapResult map = commio::ParsePortMap(Read(path_));
        ASSERT_EQ(map.error, "") << name;
        // A serial the map can't hold is left out; the IDs still find the adapter.
        ASSERT_EQ(map.uarts.size(), 1u);
        EXPECT_TRUE(map.uarts[0].hasUsb);
        EXPECT_EQ(map.uarts[0].usb.serial, "");
    }
}

TEST_F(MapFiles, AnExistingMapIsKeptAsBak)
{
    Write(path_, "3F8 = COM3\n");
    Write(path_ + ".bak", "an older backup\n");
    const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, Found(uart::LineCts, false));
    EXPECT_TRUE(result.done) << result.message;
    EXPECT_TRUE(result.keptBackup);
    EXPECT_EQ(Read(path_ + ".bak"), "3F8 = COM3\n");
    EXPECT_EQ(Files(), (std::vector<std::string>{"io-ports.txt", "io-ports.txt.bak"}));
    EXPECT_NE(result.message.find("io-ports.txt.bak"), std::string::npos);
}

TEST_F(MapFiles, AMapTheParserRefusesIsTakenBackAndTheOldOneRestored)
{
    // A port name the io.dll can't open: whatever the parser learns, it
    // refuses this line, and the technician's file must come back intact,
    // and so must the backup of an earlier map, where there is one.
    for (const bool earlierBackup : {false, true}) {
        Write(path_, "any = COM3  # by hand\n");
        if (earlierBackup)
            Write(path_ + ".bak", "any = COM2  # the map before\n");
        Finding finding = Found(uart::LineCts, false);
        finding.port = "COM300";
        const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, finding);
        EXPECT_FALSE(result.done);
        EXPECT_FALSE(result.keptBackup);
        EXPECT_NE(result.message.find("would refuse"), std::string::npos) << result.message;
        EXPECT_EQ(Read(path_), "any = COM3  # by hand\n");
        if (earlierBackup) {
            EXPECT_EQ(Read(path_ + ".bak"), "any = COM2  # the map before\n");
            EXPECT_EQ(Files(), (std::vector<std::string>{"io-ports.txt", "io-ports.txt.bak"}));
        } else {
            EXPECT_EQ(Files(), std::vector<std::string>{"io-ports.txt"});
        }
    }
}

TEST_F(MapFiles, AWiringOptionIsWrittenOnlyWhereTheParserTakesIt)
{
    // The finding for a key on DSR needs an option on the line; the map is
    // left in place exactly when the io.dll's parser reads that line.
    const Finding finding = Found(uart::LineDsr, true);
    const bool parserTakesIt = commio::ParsePortMap(portsetup::MapLineFor(finding)).error.empty();
    const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, finding);
    EXPECT_EQ(result.done, parserTakesIt) << result.message;
    EXPECT_EQ(Exists(path_), parserTakesIt);
    if (parserTakesIt) {
        EXPECT_NE(Read(path_).find("\nany = COM5 line=DSR invert\n"), std::string::npos);
    }
    EXPECT_FALSE(Exists(path_ + ".new"));
}

TEST_F(MapFiles, TheListReadsTheMapAsTheIoDllDoes)
{
    commio::PortMapResult map;
    EXPECT_NE(portsetup::ReadPortMapFile(path_, map).find("not there"), std::string::npos);
    Write(path_, "# mine\nany = LPT1\n");
    EXPECT_EQ(portsetup::ReadPortMapFile(path_, map).rfind("line 2: unknown device 'LPT1'", 0), 0u);
    EXPECT_TRUE(map.uarts.empty());
    Write(path_, "\xEF\xBB\xBF" "3F8 = COM3\r\n");
    EXPECT_EQ(portsetup::ReadPortMapFile(path_, map), "");
    ASSERT_EQ(map.uarts.size(), 1u);
    EXPECT_EQ(map.uarts[0].line, 1);
}

TEST_F(MapFiles, AFolderThatCantBeWrittenChangesNothing)
{
    const portsetup::MapWriteResult result =
        portsetup::WritePortMapFile(folder_ + "/no-such-folder/io-ports.txt", Found(uart::LineCts, false));
    EXPECT_FALSE(result.done);
    EXPECT_NE(result.message.find("can't write"), std::string::npos) << result.message;
    EXPECT_TRUE(Files().empty());
}

} // namespace

namespace {

// A CDC-class adapter (service usbser) reports no CTS: a mapping that reads
// the key on CTS there gets the word, wherever the mapping finds the port
// (by its COM name, or by the adapter's identity on another COM name).
TEST(CdcAdapter, AKeyOnCtsIsToldToMoveToDsrOrDcd)
{
    const std::vector<PortInfo> ports = portsetup::MergePorts(
        {{"COM5", "USB Serial Device (COM5)", "USB\\VID_2341&PID_0043\\A1", "usbser"},
         {"COM6", "USB Serial Port (COM6)", "USB\\VID_0403&PID_6001\\B2", "VendorSerial"},
         {"COM7", "USB Serial Device (COM7)", "USB\\VID_2341&PID_0043\\C3", "USBSER"}},
        {}, {});
    const struct {
        const char *map;
        const char *warnedPort; // null: no word
    } cases[] = {
        {"any = COM5", "COM5"},
        {"any = COM5 line=CTS invert", "COM5"},
        {"any = COM5 line=DSR", nullptr},
        {"any = COM5 line=DCD", nullptr},
        {"any = COM6", nullptr},
        {"any = COM7", "COM7"}, // the service's name in any case
        {"any = usb=2341:0043:C3 COM5", "COM7"},
        {"any = usb=2341:0043:C3 COM6 line=RI", nullptr},
        {"any = COM9", nullptr}, // no such port listed
    };
    for (const auto &c : cases) {
        const commio::PortMapResult map = commio::ParsePortMap(c.map);
        ASSERT_EQ(map.error, "") << c.map;
        const std::string warning = portsetup::NoCtsWarning(ports, map.uarts[0]);
        if (!c.warnedPort) {
            EXPECT_EQ(warning, "") << c.map;
            continue;
        }
        EXPECT_EQ(warning, "io-ports.txt line 1 reads the key on CTS of " + std::string(c.warnedPort) +
                               ", a CDC-class adapter (Windows' usbser driver), which reports no CTS: a key on CTS is "
                               "never seen there. Wire the key to DSR (pin 6) or DCD (pin 1), and add line=DSR (or "
                               "line=DCD) to that line.")
            << c.map;
    }
}

TEST(CdcAdapter, ThePortListSaysWhatItReportsAndWarnsOfAMapLineOnCts)
{
    std::vector<PortInfo> ports = portsetup::MergePorts(
        {{"COM5", "USB Serial Device (COM5)", "USB\\VID_2341&PID_0043\\A1", "usbser"}}, {}, {});
    ports[0].access = PortAccess::Free;
    portsetup::MarkMappedPorts(ports, commio::ParsePortMap("# by hand\nany = usb=2341:0043:A1 COM9\n"));
    EXPECT_EQ(ports[0].mapLine, 2); // found by the adapter's identity, not the COM name beside it
    const std::vector<std::string> expected = {
        "COM5  USB Serial Device (COM5)",
        "  identity: USB 2341:0043, serial A1",
        "  driver  : usbser, a CDC-class adapter: reports DSR, DCD and RI, no CTS; wire a key to DSR or DCD",
        "  now     : free",
        "  map     : line 2 of io-ports.txt, which reads the key on CTS: add line=DSR (or line=DCD) and wire the "
        "key there",
    };
    EXPECT_EQ(portsetup::FormatPortList(ports, "io-ports.txt", ""), expected);
    portsetup::MarkMappedPorts(ports, commio::ParsePortMap("any = COM5 line=DSR\n"));
    EXPECT_EQ(portsetup::FormatPortList(ports, "io-ports.txt", "").back(), "  map     : line 1 of io-ports.txt");
}

} // namespace
