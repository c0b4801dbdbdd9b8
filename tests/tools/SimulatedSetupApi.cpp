// A SETUPAPI.dll for the key tester's search under Wine. Put beside a copy
// of the real zelbin-keytest.exe and run with WINEDLLOVERRIDES=setupapi=n,b,
// the copy loads this one from its folder, while every other program keeps
// Wine's own.
//
// It lists two ports in the Ports class, COM5 on a CDC-class USB adapter
// (driver service usbser) and COM6,
// and as it loads it points the tester's serial calls into kernel32 at
// simulated COM devices: COM5, whose key is on DSR and is pressed three
// times each time RTS comes on, and COM6, which another program holds. A
// module that lists the ports itself (the comm-port io.dll, finding its
// adapter) has its serial calls pointed there too, at its first listing;
// the simulated devices have no comm events, as some drivers have none. Every other name (the prefix's COM1 to COM4,
// links to /dev/null) and every other handle reach Wine's own kernel32, so
// those ports are searched as Wine has them. Each call on a simulated port
// is written to the file that ZELBIN_FIND_LOG names, a line each, as it is
// made: the test reads what was opened, claimed and given back.
#include <windows.h>

#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "commio/Dcb.h"
#include "ImportSlots.h"
#include "Zelbin_SerialLoader.h"
#include "comdevices/ComDevices.h"

namespace {

// The Ports class as Windows would list it: the key's USB adapter (its IDs
// from the range kept for tests and private use) and a motherboard port
// that another program holds.
constexpr char kPort[] = "COM5";
constexpr char kHeldPort[] = "COM6";
const struct {
    const char *port;
    const char *friendlyName;
    const char *instanceId;
    const char *service; // the driver's
} kListed[] = {
    {kPort, "USB Serial Port (COM5)", "USB\\VID_1209&PID_5A4B\\ZK0001", "usbser"},
    {kHeldPort, "Communications Port (COM6)", "ACPI\\PNP0501\\1", "Serial"},
};
constexpr DWORD kListedCount = sizeof kListed / sizeof kListed[0];
// The presses, from the moment COM5's RTS comes on: DSR on for 400 ms at
// 500, 1300 and 2100 ms, after the search has taken its level at rest, and
// each press and each pause long enough that a poll late by a few hundred
// milliseconds under load still sees it (no comm events tell of a change
// between two polls here).
constexpr DWORD kFirstPressMs = 500, kPressEveryMs = 800, kHeldMs = 400, kPresses = 3;

const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

sim::ComDevices devices;
std::map<HANDLE, std::string> labels; // "c1 COM5"
std::FILE *logFile = nullptr;
DWORD rtsOnAt = 0;
bool rtsOn = false; // the presses run from rtsOnAt while COM5's RTS stays on
int portsClass = 0; // its address is the one device information set

void Log(const std::string &line)
{
    if (!logFile)
        return;
    std::fprintf(logFile, "%s\n", line.c_str());
    std::fflush(logFile);
}

bool Simulated(HANDLE handle) { return devices.IsOpen(handle); }

// "COM5" from "\\.\COM5" or "COM5", for the simulated names only.
const char *SimulatedName(const char *path)
{
    if (!path)
        return nullptr;
    const char *bare = std::strncmp(path, "\\\\.\\", 4) == 0 ? path + 4 : path;
    for (const char *name : {kPort, kHeldPort})
        if (_stricmp(bare, name) == 0)
            return name;
    return nullptr;
}

BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// The key's line now, by the script above.
void MoveTheKey()
{
    bool down = false;
    if (rtsOn) {
        const DWORD since = GetTickCount() - rtsOnAt;
        for (DWORD i = 0; i < kPresses; ++i) {
            const DWORD at = kFirstPressMs + i * kPressEveryMs;
            down = down || (since >= at && since < at + kHeldMs);
        }
    }
    devices.SetInput(kPort, commio::ModemDsr, down);
}

HANDLE WINAPI SimCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile)
{
    const char *name = SimulatedName(path);
    if (!name)
        return CreateFileA(path, access, share, security, disposition, flags, templateFile);
    commio::DeviceHandle handle = nullptr;
    if (const std::uint32_t error = devices.Open(path, handle)) {
        Log(std::string("open ") + name + " fails " + std::to_string(error));
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    labels[handle] = "c" + std::to_string(labels.size() + 1) + " " + name;
    Log("open " + labels[handle]);
    return handle;
}

BOOL WINAPI SimCloseHandle(HANDLE handle)
{
    if (!Simulated(handle))
        return CloseHandle(handle);
    Log("close " + labels[handle]);
    devices.Close(handle);
    return TRUE;
}

BOOL WINAPI SimGetCommState(HANDLE handle, LPDCB dcb)
{
    if (!Simulated(handle))
        return GetCommState(handle, dcb);
    commio::DeviceSettings settings{};
    if (const std::uint32_t error = devices.GetState(handle, settings))
        return Fail(error);
    *dcb = commio::ToDcb(settings);
    return TRUE;
}

BOOL WINAPI SimSetCommState(HANDLE handle, LPDCB dcb)
{
    if (!Simulated(handle))
        return SetCommState(handle, dcb);
    char line[120];
    std::snprintf(line, sizeof line, "settings %s: dtr %u, rts %u", labels[handle].c_str(),
                  unsigned(dcb->fDtrControl), unsigned(dcb->fRtsControl));
    Log(line);
    const std::uint32_t error = devices.SetState(handle, commio::FromDcb(*dcb));
    return error ? Fail(error) : TRUE;
}

BOOL WINAPI SimEscapeCommFunction(HANDLE handle, DWORD code)
{
    if (!Simulated(handle))
        return EscapeCommFunction(handle, code);
    static const char *const names[] = {"SETXOFF", "SETXON", "SETRTS", "CLRRTS", "SETDTR", "CLRDTR"};
    Log("escape " + labels[handle] + " " + (code >= 1 && code <= 6 ? names[code - 1] : std::to_string(code)));
    if (code < 3 || code > 6)
        return Fail(ERROR_INVALID_PARAMETER);
    if (const std::uint32_t error = devices.EscapeFunction(handle, static_cast<commio::Escape>(code)))
        return Fail(error);
    if (labels[handle].find(kPort) != std::string::npos && (code == SETRTS || code == CLRRTS) &&
        (code == SETRTS) != rtsOn) {
        rtsOn = code == SETRTS;
        rtsOnAt = GetTickCount();
    }
    return TRUE;
}

BOOL WINAPI SimGetCommModemStatus(HANDLE handle, LPDWORD status)
{
    if (!Simulated(handle))
        return GetCommModemStatus(handle, status);
    MoveTheKey();
    std::uint8_t lines = 0;
    if (const std::uint32_t error = devices.ModemStatus(handle, lines))
        return Fail(error);
    *status = lines;
    return TRUE;
}

BOOL WINAPI SimSetCommMask(HANDLE handle, DWORD mask)
{
    if (!Simulated(handle))
        return SetCommMask(handle, mask);
    Log("no comm events " + labels[handle]);
    return Fail(ERROR_NOT_SUPPORTED);
}

template <typename Fn> FARPROC Proc(Fn function) { return ZELBIN_PROC_CAST(FARPROC, function); }

// Points `module`'s serial calls at the simulated devices. Done again at
// every listing: a module unloaded and loaded again has its imports bound
// anew, perhaps at the same address.
void Simulate(HMODULE module)
{
    const struct {
        const char *name;
        FARPROC fake;
    } redirects[] = {
        {"CreateFileA", Proc(SimCreateFileA)},
        {"CloseHandle", Proc(SimCloseHandle)},
        {"GetCommState", Proc(SimGetCommState)},
        {"SetCommState", Proc(SimSetCommState)},
        {"EscapeCommFunction", Proc(SimEscapeCommFunction)},
        {"GetCommModemStatus", Proc(SimGetCommModemStatus)},
        {"SetCommMask", Proc(SimSetCommMask)}, // the comm-port io.dll's; the tester watches no events
    };
    for (const auto &redirect : redirects)
        if (!RedirectImport(module, "KERNEL32.dll", redirect.name, redirect.fake) &&
            std::strcmp(redirect.name, "SetCommMask") != 0) {
            char file[MAX_PATH] = "";
            GetModuleFileNameA(module, file, MAX_PATH);
            Log(std::string("not redirected: ") + redirect.name + " in " + file);
        }
}

void Attach()
{
    if (const char *path = std::getenv("ZELBIN_FIND_LOG"))
        logFile = std::fopen(path, "w");
    devices.Reset();
    for (const auto &listed : kListed)
        devices.Plug(listed.port).instanceId = listed.instanceId;
    commio::DeviceHandle other = nullptr;
    devices.Open(kHeldPort, other); // another program's, for as long as the test runs
    Simulate(GetModuleHandleA(nullptr));
    Log("simulated: COM5 (key on DSR), COM6 (held)");
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

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    // The tester's imports are all bound when a DLL it imports starts.
    if (reason == DLL_PROCESS_ATTACH)
        Attach();
    if (reason == DLL_PROCESS_DETACH && logFile)
        std::fclose(logFile);
    return TRUE;
}

HDEVINFO WINAPI SimSetupDiGetClassDevsA(const GUID *cls, PCSTR, HWND, DWORD)
{
    HMODULE caller = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(__builtin_return_address(0)), &caller))
        Simulate(caller);
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
