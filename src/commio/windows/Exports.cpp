// io.dll's exports over the comm-port core, and the loader's notifications.
//
// The port map is read at the first call into the DLL rather than under the
// loader lock; the devices are claimed at the first IsDriverInstalled.
#define IODLL_API
#include "CommPortIo.h"

#include "commio/CommIo.h"
#include "PortMapFile.h"
#include "commio/Win32Comm.h"

namespace {

HMODULE self;
commio::Win32Comm api;
commio::CommIo io(api);
bool mapRead;

inline commio::CommIo &Io()
{
    if (!mapRead) {
        mapRead = true;
        commio::ConfigureFromPortMapFile(self, io);
    }
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
uint32_t WINAPI CommIoUartStatus(uint32_t index, CommIoUart *uart) { return Io().UartStatus(index, uart); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // FreeLibrary: give the devices back. At process exit the system
        // closes the handles itself, and nothing else may be called then.
        io.Release();
    }
    return TRUE;
}

} // extern "C"
