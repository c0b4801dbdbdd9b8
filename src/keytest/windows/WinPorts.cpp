#include "WinPorts.h"

#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>

#include "commio/Win32Comm.h"
#include "keytest/MapWriter.h"
#include "WinSupport.h"

namespace {

// The Ports (COM & LPT) device class.
const GUID PortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

std::string RegistryText(HKEY key, const char *name)
{
    char value[256] = "";
    DWORD type = 0, size = sizeof value - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    value[size < sizeof value ? size : sizeof value - 1] = '\0';
    return value;
}

std::vector<keytest::ClassPort> ClassPorts()
{
    std::vector<keytest::ClassPort> ports;
    HDEVINFO set = SetupDiGetClassDevsA(&PortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        keytest::ClassPort port;
        char text[512] = "";
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE *>(text), sizeof text - 1, nullptr))
            port.friendlyName = text;
        text[0] = '\0';
        if (SetupDiGetDeviceInstanceIdA(set, &device, text, sizeof text, nullptr))
            port.instanceId = text;
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key != INVALID_HANDLE_VALUE) {
            port.portName = RegistryText(key, "PortName");
            RegCloseKey(key);
        }
        ports.push_back(std::move(port));
    }
    SetupDiDestroyDeviceInfoList(set);
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

std::string FolderOf(const std::string &path) { return path.substr(0, path.find_last_of("\\/") + 1); }

} // namespace

std::vector<keytest::PortInfo> ListWindowsPorts() { return keytest::MergePorts(ClassPorts(), RegistryPorts(), DosPorts()); }

std::string PortMapPathFor(const KeyTestOptions &options)
{
    const std::string beside = !options.ioPath.empty()       ? options.ioPath
                               : !options.dllPath.empty()    ? options.dllPath
                                                             : BesideThisProgram("Zelbin_Serial.dll");
    return FolderOf(FullPath(beside)) + "io-ports.txt";
}

std::string DeviceNameLine(const std::string &device, bool commio, const std::string &ioPath, std::uint16_t base)
{
    std::string used = device;
    if (commio) {
        commio::PortMapResult map;
        keytest::ReadPortMapFile(FolderOf(ioPath) + "io-ports.txt", map);
        used = keytest::MappedDevice(map, base);
    }
    const std::string friendly = used.empty() ? "" : keytest::FriendlyNameOf(ListWindowsPorts(), used);
    return friendly.empty() ? "" : keytest::ComName(used) + " is \"" + friendly + "\"";
}

int ListPorts(const KeyTestOptions &options)
{
    std::vector<keytest::PortInfo> ports = ListWindowsPorts();
    commio::Win32Comm serial;
    for (keytest::PortInfo &port : ports)
        port.access = keytest::ProbePort(serial, port.name, port.accessError);
    const std::string mapPath = PortMapPathFor(options);
    commio::PortMapResult map;
    const std::string problem = keytest::ReadPortMapFile(mapPath, map);
    keytest::MarkMappedPorts(ports, map);
    std::printf("Serial ports (the device class, the registry and the DOS device names):\n");
    for (const std::string &line : keytest::FormatPortList(ports, mapPath, problem))
        std::printf("%s\n", line.c_str());
    return KeyTestOk;
}
