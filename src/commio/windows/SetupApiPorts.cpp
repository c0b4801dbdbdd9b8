// The serial ports Windows lists: the Ports device class through SetupAPI,
// each device's instance ID and the PortName value from its device key.
#include "commio/Win32Comm.h"

#include <windows.h>

#include <setupapi.h>

namespace commio {
namespace {

// The Ports (COM & LPT) device setup class.
const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The device's PortName ("COM7"), or false where it has none (a printer
// port may have one too; the caller keeps only COM names).
bool PortName(HDEVINFO set, SP_DEVINFO_DATA &device, char (&name)[32])
{
    const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE))
        return false;
    DWORD type = 0;
    DWORD size = sizeof name - 1;
    const LONG result = RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE *>(name), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return false;
    name[size < sizeof name ? size : sizeof name - 1] = '\0';
    return true;
}

} // namespace

std::uint32_t Win32Comm::ListPorts(PortVisitor visit, void *context)
{
    const HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error ? error : ERROR_GEN_FAILURE;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        char id[201]; // MAX_DEVICE_ID_LEN, and the NUL
        char name[32];
        if (SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr) && PortName(set, device, name))
            visit(context, id, name);
    }
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}

} // namespace commio
