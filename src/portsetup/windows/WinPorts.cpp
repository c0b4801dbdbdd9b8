#include "portsetup/WinPorts.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "commio/PortsClass.h"
#include "commio/Win32Comm.h"
#include "portsetup/MapWriter.h"
#include "portsetup/WinErrors.h"
#include "portsetup/WinPaths.h"

namespace portsetup {

namespace {

std::vector<ClassPort> ClassPorts()
{
    std::vector<ClassPort> ports;
    commio::VisitPortsClass(
        [](void *to, const commio::PortsClassDevice &device) {
            static_cast<std::vector<ClassPort> *>(to)->push_back(
                {device.portName, device.friendlyName, device.instanceId, device.service});
        },
        &ports, true);
    return ports;
}

std::vector<RegistryPort> RegistryPorts()
{
    std::vector<RegistryPort> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        char name[256], value[256];
        DWORD nameSize = sizeof name, valueSize = sizeof value - 1, type = 0;
        const LONG status = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE *>(value),
                                          &valueSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS || type != REG_SZ)
            continue;
        value[valueSize < sizeof value ? valueSize : sizeof value - 1] = '\0';
        ports.push_back({name, value});
    }
    RegCloseKey(key);
    return ports;
}

std::vector<DosPort> DosPorts()
{
    std::vector<DosPort> ports;
    std::vector<char> names(16384);
    DWORD length = 0;
    while ((length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 22))
        names.resize(names.size() * 2);
    for (const char *name = names.data(); name < names.data() + length && *name;
         name += std::strlen(name) + 1) {
        if (ComName(name).empty())
            continue;
        char target[512] = "";
        QueryDosDeviceA(name, target, sizeof target);
        ports.push_back({name, target});
    }
    // Not every system lists its COM names in the whole list (Wine with its
    // mount manager off keeps them as links of their own); each is then
    // asked for by name, which opens nothing.
    const bool listed = !ports.empty();
    for (unsigned n = 1; !listed && n <= 256; ++n) {
        const std::string name = "COM" + std::to_string(n);
        char target[512] = "";
        if (QueryDosDeviceA(name.c_str(), target, sizeof target))
            ports.push_back({name, target});
    }
    return ports;
}

} // namespace

std::vector<PortInfo> ListWindowsPorts() { return MergePorts(ClassPorts(), RegistryPorts(), DosPorts()); }

std::vector<PortInfo> ListPortsToSearch(commio::CommApi &serial)
{
    std::vector<PortInfo> ports = ListWindowsPorts();
    AddUnlistedStandardPorts(ports, serial);
    return ports;
}

std::string DeviceNameLine(const std::string &device, bool commio, const std::string &ioPath, std::uint16_t base,
                           std::string &warning)
{
    const std::vector<PortInfo> ports = ListWindowsPorts();
    std::string used = device;
    warning.clear();
    if (commio) {
        commio::PortMapResult map;
        ReadPortMapFile(FolderOf(ioPath) + commio::PortMapFileName, map);
        const commio::PortMapping *mapping = MappingFor(map, base);
        const PortInfo *port = mapping ? PortOfMapping(ports, *mapping) : nullptr;
        used = port ? port->name : MappedDevice(map, base);
        if (mapping)
            warning = NoCtsWarning(ports, *mapping);
    }
    const std::string friendly = used.empty() ? "" : FriendlyNameOf(ports, used);
    return friendly.empty() ? "" : ComName(used) + " is \"" + friendly + "\"";
}

std::vector<PortInfo> ListAndProbePorts(commio::CommApi &serial, const std::string &mapPath,
                                                 std::string &mapProblem)
{
    std::vector<PortInfo> ports = ListPortsToSearch(serial);
    for (PortInfo &port : ports)
        if (port.access == PortAccess::Unknown)
            port.access = ProbePort(serial, port.name, port.accessError);
    commio::PortMapResult map;
    mapProblem = ReadPortMapFile(mapPath, map);
    MarkMappedPorts(ports, map);
    return ports;
}

void PrintPortList(const std::string &mapPath)
{
    commio::Win32Comm serial;
    std::string problem;
    const std::vector<PortInfo> ports = ListAndProbePorts(serial, mapPath, problem);
    std::printf("Serial ports (the device class, the registry and the DOS device names):\n");
    for (const std::string &line : FormatPortList(ports, mapPath, problem, SystemMessageText))
        std::printf("%s\n", line.c_str());
}

} // namespace portsetup
