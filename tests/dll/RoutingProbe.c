/* A DLL for the conformance tests whose loader callback opens a device, as
 * the key library's might: loaded through the tests' routing of the device
 * calls, its open must show in the call record, which proves the routing
 * is in place from the moment the loader binds a DLL. */
#include <windows.h>

#define PROBE_DEVICE "\\\\.\\ZELBIN-ROUTING-PROBE"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE device = CreateFileA(PROBE_DEVICE, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (device != INVALID_HANDLE_VALUE)
            CloseHandle(device);
    }
    return TRUE;
}
