// A SETUPAPI.dll for the key tester and the comm-port io.dll under Wine,
// where the Ports device class lists nothing. Put beside a copy of the
// tester and run with WINEDLLOVERRIDES=setupapi=n,b; that copy, and the
// io.dll it loads, take this one from the program's folder, while every
// other program keeps Wine's own.
//
// It only lists, as Windows lists its serial ports: COM7, a USB adapter of
// the CDC class (its driver's service usbser; its IDs from the range kept
// for tests and private use), and COM6, a motherboard port that is listed
// but not there. The ports themselves are Wine's: COM7 is the scripted
// modem-line device behind Wine's own serial driver, which the test runs.
#include <windows.h>

#include <setupapi.h>

#include <cstring>
#include <string>

namespace {

const struct {
    const char *port;
    const char *friendlyName;
    const char *instanceId;
    const char *service; // the driver's
} kListed[] = {
    {"COM7", "USB Serial Device (COM7)", "USB\\VID_1209&PID_5A4B\\ZK0001", "usbser"},
    {"COM6", "Communications Port (COM6)", "ACPI\\PNP0501\\1", "Serial"},
};
constexpr DWORD kListedCount = sizeof kListed / sizeof kListed[0];

const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

int portsClass = 0; // its address is the one device information set

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The listed device `device` names, or null.
const auto *Listed(HDEVINFO set, PSP_DEVINFO_DATA device)
{
    const bool ours = set == static_cast<HDEVINFO>(&portsClass) && device && device->DevInst >= 1 &&
                      device->DevInst <= kListedCount;
    return ours ? &kListed[device->DevInst - 1] : nullptr;
}

BOOL Text(const char *text, char *out, DWORD size, DWORD *required)
{
    const DWORD length = static_cast<DWORD>(std::strlen(text)) + 1;
    if (required)
        *required = length;
    if (!out || size < length)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, text, length);
    return TRUE;
}

} // namespace

// Exported under SETUPAPI's own names (SimulatedSetupApi.def).
extern "C" {

HDEVINFO WINAPI SimSetupDiGetClassDevsA(const GUID *cls, PCSTR, HWND, DWORD)
{
    if (!cls || std::memcmp(cls, &kPortsClass, sizeof *cls) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return static_cast<HDEVINFO>(&portsClass);
}

BOOL WINAPI SimSetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device)
{
    if (set != static_cast<HDEVINFO>(&portsClass) || !device || device->cbSize != sizeof *device)
        return Fail(ERROR_INVALID_PARAMETER);
    if (index >= kListedCount)
        return Fail(ERROR_NO_MORE_ITEMS);
    device->ClassGuid = kPortsClass;
    device->DevInst = index + 1;
    device->Reserved = 0;
    return TRUE;
}

BOOL WINAPI SimSetupDiGetDeviceInstanceIdA(HDEVINFO set, PSP_DEVINFO_DATA device, PSTR id,
                                                               DWORD size, PDWORD required)
{
    const auto *listed = Listed(set, device);
    return listed ? Text(listed->instanceId, id, size, required) : Fail(ERROR_INVALID_PARAMETER);
}

BOOL WINAPI SimSetupDiGetDeviceRegistryPropertyA(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                                     DWORD property, PDWORD type, PBYTE buffer,
                                                                     DWORD size, PDWORD required)
{
    const auto *listed = Listed(set, device);
    if (!listed)
        return Fail(ERROR_INVALID_PARAMETER);
    if (property != SPDRP_FRIENDLYNAME && property != SPDRP_SERVICE)
        return Fail(ERROR_INVALID_DATA);
    if (type)
        *type = REG_SZ;
    return Text(property == SPDRP_SERVICE ? listed->service : listed->friendlyName, reinterpret_cast<char *>(buffer),
                size, required);
}

// The device's key, with its PortName value: a key of the test's own in
// the prefix's registry, which the tester reads through advapi32 as usual.
HKEY WINAPI SimSetupDiOpenDevRegKey(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD, DWORD, DWORD,
                                                       REGSAM)
{
    const HKEY invalid = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    const auto *listed = Listed(set, device);
    if (!listed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return invalid;
    }
    const std::string path = std::string("Software\\Zelbin key tests\\") + listed->port;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return invalid;
    RegSetValueExA(key, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE *>(listed->port),
                   static_cast<DWORD>(std::strlen(listed->port) + 1));
    return key;
}

BOOL WINAPI SimSetupDiDestroyDeviceInfoList(HDEVINFO set)
{
    return set == static_cast<HDEVINFO>(&portsClass) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

} // extern "C"
