// io.dll's exports over the comm-port core, and the loader's notifications.
//
// The port map is read at the first call into the DLL rather than under the
// loader lock; the devices are claimed at the first IsDriverInstalled.
#define IODLL_API
#include "CommPortIo.h"

#include <new>
#include <string>

#include "commio/CommIo.h"
#include "commio/PortMap.h"
#include "PortMapFile.h"
#include "commio/Win32Comm.h"

namespace {

HMODULE self;
commio::Win32Comm api;
commio::CommIo io(api);
bool mapRead;

void ReadPortMap()
{
    mapRead = true;
    try {
        std::string text, why;
        if (!commio::ReadPortMapFile(self, text, why))
            return io.ConfigureFailed(why.c_str());
        const commio::PortMapResult map = commio::ParsePortMap(text);
        if (!map.error.empty()) {
            std::string where = commio::PortMapFileName;
            if (map.errorLine)
                where += " line " + std::to_string(map.errorLine);
            return io.ConfigureFailed((where + ": " + map.error).c_str());
        }
        io.Configure(map.uarts);
    } catch (const std::bad_alloc &) {
        io.ConfigureFailed("out of memory reading the port map");
    }
}

inline commio::CommIo &Io()
{
    if (!mapRead)
        ReadPortMap();
    return io;
}

} // namespace

extern "C" {

BYTE WINAPI IsDriverInstalled(void) { return Io().IsDriverInstalled(); }
void WINAPI PortOut(WORD port, BYTE value) { Io().PortOut(port, value); }
BYTE WINAPI PortIn(WORD port) { return Io().PortIn(port); }
WORD WINAPI GetPortBit(WORD port, BYTE bit) { return Io().GetPortBit(port, bit); }
void WINAPI SetPortBit(WORD port, BYTE bit) { Io().SetPortBit(port, bit); }
void WINAPI ClrPortBit(WORD port, BYTE bit) { Io().ClrPortBit(port, bit); }
const char *WINAPI CommIoStatus(void) { return Io().Status(); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // FreeLibrary: give the devices back. At process exit the system
        // closes the handles itself, and nothing else may be called then.
        io.Release(/*unloading*/ true);
    }
    return TRUE;
}

} // extern "C"
