#include "WinPorts.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "commio/PortsClass.h"
#include "commio/Win32Comm.h"
#include "keytest/MapWriter.h"
#include "WinErrors.h"
#include "WinPaths.h"

namespace keytest {

namespace {

std::vector<keytest::ClassPort> ClassPorts()
{
    std::vector<keytest::ClassPort> ports;
    commio::VisitPortsClass(
        [](void *to, const commio::PortsClassDevice &device) {
            static_cast<std::vector<keytest::ClassPort> *>(to)->push_back(
                {device.portName, device.friendlyName, device.instanceId, device.service});
        },
        &ports, true);
    return ports;
}

std::vector<keytest::RegistryPort> RegistryPorts()
{
    std::vector<keytest::RegistryPort> ports;
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

std::vector<keytest::DosPort> DosPorts()
{
    std::vector<keytest::DosPort> ports;
    std::vector<char> names(16384);
    DWORD length = 0;
    while ((length = QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0 &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 22))
        names.resize(names.size() * 2);
    for (const char *name = names.data(); name < names.data() + length && *name;
         name += std::strlen(name) + 1) {
        if (keytest::ComName(name).empty())
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

std::vector<keytest::PortInfo> ListWindowsPorts() { return keytest::MergePorts(ClassPorts(), RegistryPorts(), DosPorts()); }

std::vector<keytest::PortInfo> ListPortsToSearch(commio::CommApi &serial)
{
    std::vector<keytest::PortInfo> ports = ListWindowsPorts();
    keytest::AddUnlistedStandardPorts(ports, serial);
    return ports;
}

std::string PortMapPathFor(const KeyTestOptions &options)
{
    const std::string beside = !options.ioPath.empty()       ? options.ioPath
                               : !options.dllPath.empty()    ? options.dllPath
                                                             : BesideThisProgram("Zelbin_Serial.dll");
    return FolderOf(FullPath(beside)) + commio::PortMapFileName;
}

std::string DeviceNameLine(const std::string &device, bool commio, const std::string &ioPath, std::uint16_t base,
                           std::string &warning)
{
    const std::vector<keytest::PortInfo> ports = ListWindowsPorts();
    std::string used = device;
    warning.clear();
    if (commio) {
        commio::PortMapResult map;
        keytest::ReadPortMapFile(FolderOf(ioPath) + commio::PortMapFileName, map);
        const commio::PortMapping *mapping = keytest::MappingFor(map, base);
        const keytest::PortInfo *port = mapping ? keytest::PortOfMapping(ports, *mapping) : nullptr;
        used = port ? port->name : keytest::MappedDevice(map, base);
        if (mapping)
            warning = keytest::NoCtsWarning(ports, *mapping);
    }
    const std::string friendly = used.empty() ? "" : keytest::FriendlyNameOf(ports, used);
    return friendly.empty() ? "" : keytest::ComName(used) + " is \"" + friendly + "\"";
}

std::vector<keytest::PortInfo> ListAndProbePorts(commio::CommApi &serial, const std::string &mapPath,
                                                 std::string &mapProblem)
{
    std::vector<keytest::PortInfo> ports = ListPortsToSearch(serial);
    for (keytest::PortInfo &port : ports)
        if (port.access == keytest::PortAccess::Unknown)
            port.access = keytest::ProbePort(serial, port.name, port.accessError);
    commio::PortMapResult map;
    mapProblem = keytest::ReadPortMapFile(mapPath, map);
    keytest::MarkMappedPorts(ports, map);
    return ports;
}

int ListPorts(const KeyTestOptions &options)
{
    commio::Win32Comm serial;
    const std::string mapPath = PortMapPathFor(options);
    std::string problem;
    const std::vector<keytest::PortInfo> ports = ListAndProbePorts(serial, mapPath, problem);
    std::printf("Serial ports (the device class, the registry and the DOS device names):\n");
    for (const std::string &line : keytest::FormatPortList(ports, mapPath, problem))
        std::printf("%s\n", line.c_str());
    return KeyTestOk;
}

} // namespace keytest
