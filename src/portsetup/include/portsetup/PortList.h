// The serial ports a PC has, as the key tester lists them for --ports and
// searches them for --find.
//
// Windows tells of its ports in three places, none complete: the Ports
// device class (a friendly name such as "USB Serial Port (COM5)" and the
// device instance ID, which carries a USB adapter's vendor and product ID
// and serial number), the registry's list of serial devices, and the DOS
// device names. Merging them by COM name is portable; the Windows binding
// only reads the three sources.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "commio/CommApi.h"
#include "commio/PortMap.h"
#include "portsetup/SystemMessage.h"

namespace portsetup {

// From the Ports device class: one device.
struct ClassPort {
    std::string portName;     // its PortName value: "COM5"
    std::string friendlyName; // "USB Serial Port (COM5)"
    std::string instanceId;   // "USB\VID_1A86&PID_7523\5&2B3C&0&2"
    std::string service;      // its driver's service: "usbser" for a CDC-class adapter
};

// From the registry's list of serial devices: "\Device\Serial0" = "COM1".
struct RegistryPort {
    std::string device;
    std::string portName;
};

// From the DOS device names: "COM1" -> "\Device\Serial0".
struct DosPort {
    std::string name;
    std::string target;
};

// The port map's own: what the key tester reads of an adapter is what its
// map line names.
using UsbIdentity = commio::UsbIdentity;

// The vendor and product ID, and the serial number where the adapter has
// one, from a device instance ID. Windows makes up the last part of the ID
// for an adapter without a serial number ("5&2B3C&0&2"); that is no serial.
UsbIdentity IdentityFromInstanceId(std::string_view instanceId);

// "COM5" from "COM5", "com5" or "\\.\COM5"; empty for anything else.
std::string ComName(std::string_view name);

enum class PortAccess {
    Unknown,   // not tried
    Free,      // opens, and takes a serial port's settings
    Held,      // another program holds it
    NotSerial, // opens, but is no serial port (a COM name linked to a file)
    Missing,   // listed, but there is no such device now
    Failed,    // another error; see accessError
};

// ByStandardName: none of Windows' lists holds it, but it is one of the key
// library's four standard names (COM1 to COM4) and it opened by name.
enum PortSource : unsigned { FromClass = 1, FromRegistry = 2, FromDosDevices = 4, ByStandardName = 8 };

struct PortInfo {
    std::string name;         // "COM5"
    std::string friendlyName; // empty where unknown
    std::string instanceId;
    std::string service;      // the driver's service, from the Ports class; empty where unknown
    UsbIdentity usb;
    std::string kernelDevice; // "\Device\Serial0", from the registry or the DOS devices
    unsigned sources = 0;     // PortSource bits
    PortAccess access = PortAccess::Unknown;
    std::uint32_t accessError = 0;
    int mapLine = 0;          // the line of io-ports.txt that maps it; 0: none
    bool mapReadsCts = false; // and that line reads the key on CTS
    std::uint16_t mapBase = 0; // and the UART it carries: its base; 0 for any
};

// One entry per COM name, in COM number order. The Ports class gives the
// friendly name and identity; the others only fill what it left empty.
// Names that are not COMn are left out.
std::vector<PortInfo> MergePorts(const std::vector<ClassPort> &classPorts, const std::vector<RegistryPort> &registry,
                                 const std::vector<DosPort> &dosDevices);

// Whether a port can be opened now, tried as the comm-port io.dll claims a
// port: the open, then DTR and RTS off in one step, then closed again. The
// lines never come on.
PortAccess ProbePort(commio::CommApi &api, const std::string &name, std::uint32_t &error);
// What ProbePort found, in words, with Windows' message beside a code
// (`systemText` null: the code alone).
std::string AccessText(PortAccess access, std::uint32_t error, const SystemText &systemText = nullptr);

// Adds the key library's standard names (COM1 to COM4, the rows of its port
// table) that the lists leave out but that exist: each is probed as above,
// and kept unless there is no such device. Such a port is what the library
// opens when a host names it, listed or not; a Wine prefix, for one, keeps
// its COM names out of every list Windows has.
void AddUnlistedStandardPorts(std::vector<PortInfo> &ports, commio::CommApi &api);

// Sets mapLine and mapReadsCts from a port map read by the io.dll's own
// parser: a line maps the port its adapter is on, else its COM name's.
void MarkMappedPorts(std::vector<PortInfo> &ports, const commio::PortMapResult &map);

// The mapping the comm-port io.dll uses for the UART at `base`: its
// explicit line, else `any`; null when none carries it.
const commio::PortMapping *MappingFor(const commio::PortMapResult &map, std::uint16_t base);

// The COM name of the device that mapping names; empty when none carries it.
std::string MappedDevice(const commio::PortMapResult &map, std::uint16_t base);

// A USB adapter of the CDC class, on Windows' own driver (service usbser):
// the class's report of the modem lines has DCD, DSR and RI but no CTS, so
// a key on CTS behind it is never seen.
bool ReportsNoCts(const PortInfo &port);

// The port a mapping names: the one its USB identity is found on, where it
// has one and a port carries it, else its COM name; null where no port is.
const PortInfo *PortOfMapping(const std::vector<PortInfo> &ports, const commio::PortMapping &mapping);

// The word for a mapping that reads the key on CTS of a port that reports
// no CTS: which port, why, and what to wire and write instead; empty for
// any other mapping.
std::string NoCtsWarning(const std::vector<PortInfo> &ports, const commio::PortMapping &mapping);

// "USB 1A86:7523, serial 12345" or "USB 1A86:7523, no serial number".
std::string IdentityText(const UsbIdentity &usb);

// The --ports report, a line each.
std::vector<std::string> FormatPortList(const std::vector<PortInfo> &ports, const std::string &mapPath,
                                        const std::string &mapProblem, const SystemText &systemText = nullptr);

// The friendly name a port goes by, or empty.
std::string FriendlyNameOf(const std::vector<PortInfo> &ports, const std::string &name);

} // namespace portsetup
