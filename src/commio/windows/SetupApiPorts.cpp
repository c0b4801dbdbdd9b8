// The serial ports Windows lists: the Ports device class through SetupAPI,
// each device's instance ID, the PortName value from its device key and,
// when asked, its friendly name.
#include "commio/PortsClass.h"
#include "commio/Win32Comm.h"

#include <windows.h>

#include <setupapi.h>

namespace commio {
namespace {

// The Ports (COM & LPT) device setup class.
const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// SetupAPI is loaded the first time the ports are listed, not with the
// program or DLL: a port map that names no USB adapter never lists them, so
// the comm-port io.dll then brings no SetupAPI (and what it loads in turn)
// into the host. Loaded by name, as an import would be found; then pinned
// for the process's life, since nothing could free it when the io.dll is
// unloaded (FreeLibrary isn't safe in DllMain), and the load's own count
// given back: a host that loads and frees the io.dll again and again holds
// it once.
struct SetupApi {
    decltype(&SetupDiGetClassDevsA) GetClassDevs;
    decltype(&SetupDiEnumDeviceInfo) EnumDeviceInfo;
    decltype(&SetupDiGetDeviceInstanceIdA) GetDeviceInstanceId;
    decltype(&SetupDiOpenDevRegKey) OpenDevRegKey;
    decltype(&SetupDiGetDeviceRegistryPropertyA) GetDeviceRegistryProperty;
    decltype(&SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList;
};

SetupApi setupApi;
bool setupApiLoaded;

template <typename Function>
bool Resolve(HMODULE module, const char *name, Function &function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
    return function != nullptr;
}

// 0, or why SetupAPI can't be had.
DWORD LoadSetupApi()
{
    if (setupApiLoaded)
        return 0;
    const HMODULE module = LoadLibraryA("SETUPAPI.dll");
    if (!module) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_MOD_NOT_FOUND;
    }
    // Where it can't be pinned, the load's own count keeps it instead.
    HMODULE pinned = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(module), &pinned) &&
        pinned == module)
        FreeLibrary(module);
    SetupApi api{};
    if (!Resolve(module, "SetupDiGetClassDevsA", api.GetClassDevs) ||
        !Resolve(module, "SetupDiEnumDeviceInfo", api.EnumDeviceInfo) ||
        !Resolve(module, "SetupDiGetDeviceInstanceIdA", api.GetDeviceInstanceId) ||
        !Resolve(module, "SetupDiOpenDevRegKey", api.OpenDevRegKey) ||
        !Resolve(module, "SetupDiGetDeviceRegistryPropertyA", api.GetDeviceRegistryProperty) ||
        !Resolve(module, "SetupDiDestroyDeviceInfoList", api.DestroyDeviceInfoList))
        return ERROR_PROC_NOT_FOUND; // not SetupAPI as Windows has it: no list
    setupApi = api;
    setupApiLoaded = true;
    return 0;
}

// A REG_SZ value of the device's key, or empty.
void PortName(HDEVINFO set, SP_DEVINFO_DATA &device, char (&name)[256])
{
    name[0] = '\0';
    const HKEY key = setupApi.OpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE))
        return;
    DWORD type = 0;
    DWORD size = sizeof name - 1;
    const bool read = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE *>(name), &size) ==
                          ERROR_SUCCESS && type == REG_SZ;
    RegCloseKey(key);
    name[!read ? 0 : size < sizeof name ? size : sizeof name - 1] = '\0'; // ended, whatever the value held
}

// One text property of a device, or empty.
void Property(HDEVINFO set, SP_DEVINFO_DATA &device, DWORD property, char *text, DWORD size)
{
    if (!setupApi.GetDeviceRegistryProperty(set, &device, property, nullptr, reinterpret_cast<BYTE *>(text), size - 1,
                                           nullptr))
        text[0] = '\0';
    text[size - 1] = '\0';
}

} // namespace

std::uint32_t VisitPortsClass(PortsClassVisitor visit, void *context, bool withDetails)
{
    if (const DWORD error = LoadSetupApi())
        return error;
    const HDEVINFO set = setupApi.GetClassDevs(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_GEN_FAILURE;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; setupApi.EnumDeviceInfo(set, index, &device); ++index) {
        char id[201] = ""; // MAX_DEVICE_ID_LEN, and the NUL
        char name[256];
        char friendly[512] = "";
        char service[256] = "";
        if (!setupApi.GetDeviceInstanceId(set, &device, id, sizeof id, nullptr))
            id[0] = '\0';
        PortName(set, device, name);
        if (withDetails) {
            Property(set, device, SPDRP_FRIENDLYNAME, friendly, sizeof friendly);
            Property(set, device, SPDRP_SERVICE, service, sizeof service);
        }
        visit(context, PortsClassDevice{id, name, friendly, service});
    }
    setupApi.DestroyDeviceInfoList(set);
    return 0;
}

std::uint32_t Win32Comm::ListPorts(PortVisitor visit, void *context)
{
    return VisitPortsClass(visit, context, false);
}

} // namespace commio
