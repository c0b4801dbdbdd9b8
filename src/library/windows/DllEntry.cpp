// The loader's notifications drive the library's load and unload steps and
// nothing else: no other work belongs under the loader lock.
#include <windows.h>

#include "library/Zelbin_SerialCore.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        library::Load();
    else if (reason == DLL_PROCESS_DETACH)
        library::Unload();
    return TRUE;
}
