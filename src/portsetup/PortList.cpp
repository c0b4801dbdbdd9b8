#include "portsetup/PortList.h"

#include <algorithm>
#include <map>

#include "commio/DeviceClaim.h"
#include "commio/PortMap.h"
#include "commio/WindowsErrors.h"
#include "portsetup/OpenFailure.h"
#include "library/PortChoice.h"
#include "uart/ModemLines.h"

namespace portsetup {
std::string ComName(std::string_view name)
{
    const unsigned number = commio::ComNumber(name);
    return number ? "COM" + std::to_string(number) : std::string();
}

UsbIdentity IdentityFromInstanceId(std::string_view instanceId)
{
    commio::InstanceIdParts parts;
    if (!commio::ReadInstanceId(instanceId, parts))
        return {};
    return {parts.vendor, parts.product, std::string(parts.serial)};
}

std::vector<PortInfo> MergePorts(const std::vector<ClassPort> &classPorts, const std::vector<RegistryPort> &registry,
                                 const std::vector<DosPort> &dosDevices)
{
    std::map<unsigned, PortInfo> byNumber;
    const auto entry = [&byNumber](std::string_view name) -> PortInfo * {
        const unsigned number = commio::ComNumber(name);
        if (!number)
            return nullptr;
        PortInfo &port = byNumber[number];
        port.name = "COM" + std::to_string(number);
        return &port;
    };
    for (const ClassPort &found : classPorts) {
        // A device without its PortName value still names its port at the
        // end of its friendly name: "USB Serial Port (COM5)".
        std::string_view name = found.portName;
        const std::size_t open = found.friendlyName.rfind('(');
        if (name.empty() && open != std::string::npos && found.friendlyName.back() == ')')
            name = std::string_view(found.friendlyName).substr(open + 1, found.friendlyName.size() - open - 2);
        PortInfo *port = entry(name);
        if (!port)
            continue;
        // A second device claiming the same name keeps the first one's
        // details: Windows gives each name to one device at a time.
        if (port->friendlyName.empty())
            port->friendlyName = found.friendlyName;
        if (port->instanceId.empty()) {
            port->instanceId = found.instanceId;
            port->usb = IdentityFromInstanceId(found.instanceId);
            port->service = found.service;
        }
        port->sources |= FromClass;
    }
    for (const RegistryPort &found : registry) {
        if (PortInfo *port = entry(found.portName)) {
            if (port->kernelDevice.empty())
                port->kernelDevice = found.device;
            port->sources |= FromRegistry;
        }
    }
    for (const DosPort &found : dosDevices) {
        if (PortInfo *port = entry(found.name)) {
            if (port->kernelDevice.empty())
                port->kernelDevice = found.target;
            port->sources |= FromDosDevices;
        }
    }
    std::vector<PortInfo> ports;
    for (auto &item : byNumber)
        ports.push_back(std::move(item.second));
    return ports;
}

PortAccess ProbePort(commio::CommApi &api, const std::string &name, std::uint32_t &error)
{
    commio::DeviceHandle handle = nullptr;
    const std::string path = "\\\\.\\" + name;
    error = api.Open(path.c_str(), handle);
    if (error) {
        switch (ClassifyOpenFailure(error)) {
        case OpenFailure::NoSuchDevice: return PortAccess::Missing;
        case OpenFailure::HeldElsewhere: return PortAccess::Held;
        case OpenFailure::Other: return PortAccess::Failed;
        }
    }
    error = commio::ClaimWithLinesOff(api, handle);
    api.Close(handle);
    return error ? PortAccess::NotSerial : PortAccess::Free;
}

void AddUnlistedStandardPorts(std::vector<PortInfo> &ports, commio::CommApi &api)
{
    for (const library::ComPort &row : library::ComPortTable) {
        const auto listed = [&row](const PortInfo &port) { return port.name == row.name; };
        if (std::any_of(ports.begin(), ports.end(), listed))
            continue;
        PortInfo port;
        port.name = row.name;
        port.sources = ByStandardName;
        port.access = ProbePort(api, port.name, port.accessError);
        if (port.access == PortAccess::Missing)
            continue;
        const auto after = [&port](const PortInfo &other) { return commio::ComNumber(other.name) > commio::ComNumber(port.name); };
        ports.insert(std::find_if(ports.begin(), ports.end(), after), port);
    }
}

std::string AccessText(PortAccess access, std::uint32_t error, const SystemText &systemText)
{
    switch (access) {
    case PortAccess::Unknown: return "not tried";
    case PortAccess::Free: return "free";
    case PortAccess::Held: return "held by another program (a host or terminal has it open: close it first)";
    case PortAccess::NotSerial:
        return "opens, but is not a serial port (" + CodeText(error, systemText) + " at its settings)";
    case PortAccess::Missing: return std::string("missing: listed, but ") + NotThereNow;
    case PortAccess::Failed: return "can't be opened (" + CodeText(error, systemText) + ")";
    }
    return {};
}

namespace {

// "DSR (pin 6)".
std::string Pinned(uart::ModemLine line)
{
    return std::string(line.Name()) + " (pin " + std::to_string(line.Pin()) + ")";
}

// Where in `ports` the port a mapping names is; ports.size() for none.
std::size_t IndexOfMapped(const std::vector<PortInfo> &ports, const commio::PortMapping &mapping)
{
    if (mapping.hasUsb)
        for (std::size_t i = 0; i < ports.size(); ++i)
            if (commio::InstanceIdMatches(ports[i].instanceId, mapping.usb))
                return i;
    const std::string com = ComName(mapping.path);
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (!com.empty() && ports[i].name == com)
            return i;
    return ports.size();
}

} // namespace

void MarkMappedPorts(std::vector<PortInfo> &ports, const commio::PortMapResult &map)
{
    for (PortInfo &port : ports) {
        port.mapLine = 0;
        port.mapReadsCts = false;
        port.mapBase = 0;
    }
    for (const commio::PortMapping &mapping : map.uarts) {
        const std::size_t at = IndexOfMapped(ports, mapping);
        if (at < ports.size() && !ports[at].mapLine) {
            ports[at].mapLine = mapping.line;
            ports[at].mapReadsCts = mapping.input == uart::ModemLine::Cts;
            ports[at].mapBase = mapping.any ? 0 : mapping.base;
        }
    }
}

const commio::PortMapping *MappingFor(const commio::PortMapResult &map, std::uint16_t base)
{
    // Explicit bases come first in the parser's result, `any` last, and the
    // io.dll looks them up in that order.
    for (const commio::PortMapping &mapping : map.uarts)
        if (mapping.any || mapping.base == base)
            return &mapping;
    return nullptr;
}

std::string MappedDevice(const commio::PortMapResult &map, std::uint16_t base)
{
    const commio::PortMapping *mapping = MappingFor(map, base);
    return mapping ? ComName(mapping->path) : std::string();
}

std::string IdentityText(const UsbIdentity &usb)
{
    if (!usb.Known())
        return {};
    // The IDs as the map writes them, the serial number said in words.
    return "USB " + commio::FormatUsbIdentity({usb.vendor, usb.product, {}}) + ", " +
           (usb.serial.empty() ? std::string("no serial number") : "serial " + std::string(usb.serial));
}

std::vector<std::string> FormatPortList(const std::vector<PortInfo> &ports, const std::string &mapPath,
                                        const std::string &mapProblem, const SystemText &systemText)
{
    std::vector<std::string> lines;
    if (ports.empty()) {
        lines.push_back("Windows lists no serial port. Plug the adapter in, wait for Windows to set it up, and "
                        "run this again.");
    }
    for (const PortInfo &port : ports) {
        lines.push_back(port.name + (port.friendlyName.empty() ? "" : "  " + port.friendlyName));
        if (port.usb.Known())
            lines.push_back("  identity: " + IdentityText(port.usb));
        else if (!port.kernelDevice.empty() && port.friendlyName.empty())
            lines.push_back("  device  : " + port.kernelDevice);
        else if (port.sources == ByStandardName)
            lines.push_back("  device  : in none of Windows' lists; opened by its name, as the key library opens it");
        if (ReportsNoCts(port))
            lines.push_back("  driver  : usbser, a CDC-class adapter: reports DSR, DCD and RI, no CTS; wire a key "
                            "to DSR or DCD");
        lines.push_back("  now     : " + AccessText(port.access, port.accessError, systemText));
        if (port.mapLine)
            lines.push_back("  map     : line " + std::to_string(port.mapLine) + " of io-ports.txt" +
                            (port.mapReadsCts && ReportsNoCts(port)
                                 ? ", which reads the key on CTS: add line=DSR (or line=DCD) and wire the key there"
                                 : ""));
    }
    if (!mapProblem.empty())
        lines.push_back(mapPath + ": " + mapProblem);
    else if (std::none_of(ports.begin(), ports.end(), [](const PortInfo &p) { return p.mapLine != 0; }))
        lines.push_back(mapPath + " maps none of these ports.");
    return lines;
}

bool ReportsNoCts(const PortInfo &port) { return commio::EqualsNoCase(port.service, "usbser"); }

const PortInfo *PortOfMapping(const std::vector<PortInfo> &ports, const commio::PortMapping &mapping)
{
    const std::size_t at = IndexOfMapped(ports, mapping);
    return at < ports.size() ? &ports[at] : nullptr;
}

std::string NoCtsWarning(const std::vector<PortInfo> &ports, const commio::PortMapping &mapping)
{
    const PortInfo *port = PortOfMapping(ports, mapping);
    if (!port || !ReportsNoCts(*port) || mapping.input != uart::ModemLine::Cts)
        return {};
    return "io-ports.txt line " + std::to_string(mapping.line) + " reads the key on CTS of " + port->name +
           ", a CDC-class adapter (Windows' usbser driver), which reports no CTS: a key on CTS is never seen "
           "there. Wire the key to " + Pinned(uart::ModemLine::Dsr) + " or " + Pinned(uart::ModemLine::Dcd) +
           ", and add line=DSR (or line=DCD) to that line.";
}

std::string FriendlyNameOf(const std::vector<PortInfo> &ports, const std::string &name)
{
    const std::string com = ComName(name);
    for (const PortInfo &port : ports)
        if (port.name == com)
            return port.friendlyName;
    return {};
}

} // namespace portsetup
