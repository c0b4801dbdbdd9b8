// The serial ports the key tester lists: merged from Windows' three
// sources, each probed, the library's standard names added where they
// exist, and the report with each port's line in the port map.
#include <gtest/gtest.h>

#include <algorithm>

#include "comdevices/ComDevices.h"
#include "commio/PortMap.h"
#include "portsetup/PortList.h"
#include "testsupport/RefusedOpens.h"

using namespace portsetup; // the port set-up's own names, unqualified as in its own code

namespace {

using portsetup::ClassPort;
using portsetup::DosPort;
using portsetup::PortAccess;
using portsetup::PortInfo;
using portsetup::RegistryPort;

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
    // A device without its PortName value is known by the "(COMn)" that
    // closes its friendly name, and only by a whole one.
    MergeCase{"a friendly name's port", {{"", "USB Serial Port (COM12)", "X", ""}}, {}, {},
        {"COM12|USB Serial Port (COM12)||1|"}},
    MergeCase{"brackets before the port's", {{"", "Port (v2) (COM7)", "X", ""}}, {}, {}, {"COM7|Port (v2) (COM7)||1|"}},
    MergeCase{"a friendly name without its closing bracket", {{"", "USB Serial Port (COM12", "X", ""}}, {}, {}, {}},
    MergeCase{"a bracket after the port's", {{"", "Port (COM7))", "X", ""}}, {}, {}, {}},
    MergeCase{"no opening bracket", {{"", "Port COM7)", "X", ""}}, {}, {}, {}},
    MergeCase{"no friendly name", {{"", "", "X", ""}}, {}, {}, {}},
    MergeCase{"its PortName wins over its friendly name", {{"COM5", "Other Port (COM6)", "X", ""}}, {}, {},
        {"COM5|Other Port (COM6)||1|"}},
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

struct ProbeCase {
    const char *name;
    void (*setUp)(sim::ComDevices &devices);
    std::uint32_t refused; // the open's code, as Windows fails it; 0: the devices' own answer
    PortAccess access;
    const char *text;
};

std::ostream &operator<<(std::ostream &os, const ProbeCase &c) { return os << c.name; }

class PortProbe : public ::testing::TestWithParam<ProbeCase> {};

// Each way an open fails, named as the technician can act on it.
TEST_P(PortProbe, TellsWhetherThePortOpensAndLeavesItsLinesOff)
{
    const ProbeCase &c = GetParam();
    sim::ComDevices devices;
    c.setUp(devices);
    testsupport::RefusedOpens api(devices);
    if (c.refused)
        api.refused = {{"COM5", c.refused}};
    const std::uint64_t heldBefore = devices.HandlesHeld();
    std::uint32_t error = 0;
    const PortAccess access = portsetup::ProbePort(api, "COM5", error);
    EXPECT_EQ(access, c.access);
    if (c.refused)
        EXPECT_EQ(error, c.refused);
    else
        EXPECT_EQ(error != 0, c.access != PortAccess::Free);
    EXPECT_EQ(portsetup::AccessText(access, error), c.text);
    EXPECT_EQ(devices.HandlesHeld(), heldBefore) << "the probe keeps no handle";
    for (const std::string &call : devices.Calls())
        EXPECT_EQ(call.find("SETRTS"), std::string::npos) << call;
    if (const sim::ComDevices::Device *device = devices.Find("COM5"); device && !device->held) {
        EXPECT_FALSE(device->dtr || device->rts);
    }
}

const char *const Missing = "missing: listed, but not there now: plug the adapter in";
const char *const Held = "held by another program (a host or terminal has it open: close it first)";

void PlugCom5(sim::ComDevices &devices) { devices.Plug("COM5"); }

INSTANTIATE_TEST_SUITE_P(Cases, PortProbe, ::testing::Values(
    ProbeCase{"free", PlugCom5, 0, PortAccess::Free, "free"},
    ProbeCase{"held by another program",
        [](sim::ComDevices &d) {
            d.Plug("COM5");
            commio::DeviceHandle other = nullptr;
            d.Open("\\\\.\\COM5", other);
        },
        0, PortAccess::Held, Held},
    ProbeCase{"a COM name linked to a file", [](sim::ComDevices &d) { d.Plug("COM5").serial = false; }, 0,
        PortAccess::NotSerial, "opens, but is not a serial port (error 1 at its settings)"},
    ProbeCase{"unplugged", [](sim::ComDevices &d) { d.Plug("COM5"); d.Unplug("COM5"); }, 0, PortAccess::Missing,
        Missing},
    ProbeCase{"never there", [](sim::ComDevices &) {}, 0, PortAccess::Missing, Missing},
    ProbeCase{"file not found", PlugCom5, 2, PortAccess::Missing, Missing},
    ProbeCase{"path not found", PlugCom5, 3, PortAccess::Missing, Missing},
    ProbeCase{"access denied", PlugCom5, 5, PortAccess::Held, Held},
    ProbeCase{"a sharing violation", PlugCom5, 32, PortAccess::Held, Held},
    ProbeCase{"a bad parameter", PlugCom5, 87, PortAccess::Failed, "can't be opened (error 87)"},
    ProbeCase{"a device not connected", PlugCom5, 1167, PortAccess::Failed, "can't be opened (error 1167)"}));

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

struct ReportCase {
    const char *name;
    std::vector<ClassPort> classPorts;
    std::vector<RegistryPort> registry;
    std::vector<DosPort> dos;
    std::vector<std::pair<PortAccess, std::uint32_t>> probed; // each port's, in list order; none: not tried
    std::vector<const char *> maps; // read one after another, as the list reads the file again after it changed
    const char *mapProblem;
    std::vector<int> mapLines; // of the last map, per port
    std::vector<std::string> report;
};

std::ostream &operator<<(std::ostream &os, const ReportCase &c) { return os << c.name; }

class PortListReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(PortListReport, NamesWhatIsKnownOfEachPortAndItsMapLine)
{
    const ReportCase &c = GetParam();
    std::vector<PortInfo> ports = portsetup::MergePorts(c.classPorts, c.registry, c.dos);
    for (std::size_t i = 0; i < c.probed.size() && i < ports.size(); ++i) {
        ports[i].access = c.probed[i].first;
        ports[i].accessError = c.probed[i].second;
    }
    for (const char *map : c.maps)
        portsetup::MarkMappedPorts(ports, commio::ParsePortMap(map));
    std::vector<int> mapLines;
    for (const PortInfo &port : ports)
        mapLines.push_back(port.mapLine);
    EXPECT_EQ(mapLines, c.mapLines);
    EXPECT_EQ(portsetup::FormatPortList(ports, "C:\\Host\\io-ports.txt", c.mapProblem), c.report);
}

const std::string NowUntried = "  now     : not tried";

INSTANTIATE_TEST_SUITE_P(Cases, PortListReport, ::testing::Values(
    // The device's kernel name only where nothing better names it.
    ReportCase{"each port's map line and what is known",
        {{"COM5", "USB Serial Port (COM5)", "USB\\VID_1A86&PID_7523\\5&1&0&2", ""}}, {{"\\Device\\Serial0", "COM1"}},
        {{"COM3", "\\Device\\Serial2"}},
        {{PortAccess::NotSerial, 1}, {PortAccess::Unknown, 0}, {PortAccess::Held, 0}},
        {"# keys\n3F8 = com3\n\nany = \\\\.\\COM5\n"}, "", {0, 2, 4},
        {"COM1", "  device  : \\Device\\Serial0",
         "  now     : opens, but is not a serial port (error 1 at its settings)",
         "COM3", "  device  : \\Device\\Serial2", NowUntried, "  map     : line 2 of io-ports.txt",
         "COM5  USB Serial Port (COM5)", "  identity: USB 1A86:7523, no serial number",
         "  now     : held by another program (a host or terminal has it open: close it first)",
         "  map     : line 4 of io-ports.txt"}},
    ReportCase{"no port, and a map the io.dll refuses", {}, {}, {}, {}, {}, "line 1: unknown device", {},
        {"Windows lists no serial port. Plug the adapter in, wait for Windows to set it up, and run this again.",
         "C:\\Host\\io-ports.txt: line 1: unknown device"}},
    ReportCase{"the map's line",
        {{"COM3", "Communications Port (COM3)", "ACPI\\PNP0501\\1", ""},
         {"COM5", "USB Serial Port (COM5)", "USB\\VID_0403&PID_6001\\FT1", ""}},
        {{"\\Device\\Serial2", "COM3"}, {"\\Device\\VCP0", "COM5"}, {"\\Device\\Serial6", "COM7"}}, {}, {},
        {"any = COM5\n"}, "", {0, 1, 0},
        {"COM3  Communications Port (COM3)", NowUntried, "COM5  USB Serial Port (COM5)",
         "  identity: USB 0403:6001, serial FT1", NowUntried, "  map     : line 1 of io-ports.txt", "COM7",
         "  device  : \\Device\\Serial6", NowUntried}},
    // Read again after the file changed: the old line is no longer the map's.
    ReportCase{"a map read again that maps none of them",
        {{"COM3", "Communications Port (COM3)", "ACPI\\PNP0501\\1", ""},
         {"COM5", "USB Serial Port (COM5)", "USB\\VID_0403&PID_6001\\FT1", ""}},
        {{"\\Device\\Serial2", "COM3"}, {"\\Device\\VCP0", "COM5"}, {"\\Device\\Serial6", "COM7"}}, {}, {},
        {"any = COM5\n", "# none of these\n"}, "", {0, 0, 0},
        {"COM3  Communications Port (COM3)", NowUntried, "COM5  USB Serial Port (COM5)",
         "  identity: USB 0403:6001, serial FT1", NowUntried, "COM7", "  device  : \\Device\\Serial6", NowUntried,
         "C:\\Host\\io-ports.txt maps none of these ports."}},
    // A CDC-class adapter reports no CTS: the list says so, and warns of a
    // map line that reads the key on CTS there, found by the adapter's
    // identity, not the COM name beside it.
    ReportCase{"a CDC-class adapter mapped on CTS",
        {{"COM5", "USB Serial Device (COM5)", "USB\\VID_2341&PID_0043\\A1", "usbser"}}, {}, {},
        {{PortAccess::Free, 0}}, {"# by hand\nany = usb=2341:0043:A1 COM9\n"}, "", {2},
        {"COM5  USB Serial Device (COM5)", "  identity: USB 2341:0043, serial A1",
         "  driver  : usbser, a CDC-class adapter: reports DSR, DCD and RI, no CTS; wire a key to DSR or DCD",
         "  now     : free",
         "  map     : line 2 of io-ports.txt, which reads the key on CTS: add line=DSR (or line=DCD) and wire the "
         "key there"}},
    ReportCase{"a CDC-class adapter mapped again on DSR",
        {{"COM5", "USB Serial Device (COM5)", "USB\\VID_2341&PID_0043\\A1", "usbser"}}, {}, {},
        {{PortAccess::Free, 0}}, {"# by hand\nany = usb=2341:0043:A1 COM9\n", "any = COM5 line=DSR\n"}, "", {1},
        {"COM5  USB Serial Device (COM5)", "  identity: USB 2341:0043, serial A1",
         "  driver  : usbser, a CDC-class adapter: reports DSR, DCD and RI, no CTS; wire a key to DSR or DCD",
         "  now     : free", "  map     : line 1 of io-ports.txt"}}));

// Two lines can name one port (one by its COM name, one by the adapter on
// it): the list shows the line the io.dll opens that port for, the first in
// its order (explicit bases before `any`). A line that no listed port
// carries marks none, and finds none.
TEST(PortList, AMapLineIsTheOneTheIoDllUsesForItsPort)
{
    std::vector<PortInfo> ports = portsetup::MergePorts(
        {{"COM5", "USB Serial Port (COM5)", "USB\\VID_0403&PID_6001\\A1", ""},
         {"COM6", "Communications Port (COM6)", "ACPI\\PNP0501\\1", ""}},
        {}, {});
    const struct {
        const char *map;
        std::vector<int> mapLines; // per port
        std::vector<const char *> portOf; // per mapping, in the io.dll's order; null: none
    } cases[] = {
        {"any = COM5\n2F8 = usb=0403:6001:A1\n", {2, 0}, {"COM5", "COM5"}},
        {"3F8 = usb=0403:6001:A1\nany = COM5\n", {1, 0}, {"COM5", "COM5"}},
        {"2F8 = COM9\nany = COM6\n", {0, 2}, {nullptr, "COM6"}},
        {"any = usb=0403:6001:ZZ\n", {0, 0}, {nullptr}},
        {"3F8 = usb=0403:6001:ZZ COM6\n", {0, 1}, {"COM6"}}, // the COM name beside, where no port carries it
    };
    for (const auto &c : cases) {
        const commio::PortMapResult map = commio::ParsePortMap(c.map);
        ASSERT_EQ(map.error, "") << c.map;
        portsetup::MarkMappedPorts(ports, map);
        EXPECT_EQ((std::vector<int>{ports[0].mapLine, ports[1].mapLine}), c.mapLines) << c.map;
        ASSERT_EQ(map.uarts.size(), c.portOf.size()) << c.map;
        for (std::size_t i = 0; i < map.uarts.size(); ++i) {
            const PortInfo *port = portsetup::PortOfMapping(ports, map.uarts[i]);
            EXPECT_EQ(port ? port->name : "(none)", c.portOf[i] ? c.portOf[i] : "(none)") << c.map << " #" << i;
        }
    }
}

TEST(PortList, FindsAPortsFriendlyNameByItsName)
{
    const std::vector<PortInfo> ports = portsetup::MergePorts(
        {{"COM5", "USB Serial Port (COM5)", "USB\\VID_1A86&PID_7523\\5&1&0&2", ""}}, {{"\\Device\\Serial0", "COM1"}},
        {{"COM3", "\\Device\\Serial2"}});
    EXPECT_EQ(portsetup::FriendlyNameOf(ports, "\\\\.\\COM5"), "USB Serial Port (COM5)");
    EXPECT_EQ(portsetup::FriendlyNameOf(ports, "COM3"), "");
}

TEST(PortList, TakesTheDeviceTheCommIoDllUsesForABase)
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

} // namespace
