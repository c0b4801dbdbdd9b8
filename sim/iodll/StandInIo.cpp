#define SIM_API
#include "StandInIo.h"

#include <cstring>
#include <string>

#include "sim/World.h"

namespace {

sim::World &World() { return sim::TheWorld(); }

} // namespace

extern "C" {

BYTE WINAPI IsDriverInstalled(void) { return World().IsDriverInstalled(); }
void WINAPI PortOut(WORD port, BYTE value) { World().PortOut(port, value); }
WORD WINAPI GetPortBit(WORD port, BYTE bit) { return World().GetPortBit(port, bit); }
void WINAPI SetPortBit(WORD port, BYTE bit) { World().SetPortBit(port, bit); }
void WINAPI ClrPortBit(WORD port, BYTE bit) { World().ClrPortBit(port, bit); }

void WINAPI SimReset(void) { World().Reset(); }
void WINAPI SimSetDriverInstalled(BYTE present) { World().SetDriverInstalled(present != 0); }
void WINAPI SimSetBitSetValue(WORD value) { World().SetBitSetValue(value); }

BYTE WINAPI SimSetKey(WORD port, BYTE down)
{
    sim::Uart16550 *uart = World().UartAt(port);
    if (!uart)
        return 0;
    uart->SetCts(down != 0);
    return 1;
}

WORD WINAPI SimGetModemControl(WORD port)
{
    const sim::Uart16550 *uart = World().UartAt(port);
    return uart ? uart->mcr : 0xFFFF;
}

WORD WINAPI SimGetModemStatus(WORD port)
{
    const sim::Uart16550 *uart = World().UartAt(port);
    return uart ? uart->PeekMsr() : 0xFFFF;
}

void WINAPI SimSetDeviceExists(const char *name, BYTE exists)
{
    if (name)
        World().SetDeviceExists(name, exists != 0);
}

DWORD WINAPI SimHandlesHeld(void) { return static_cast<DWORD>(World().HandlesHeld()); }

HANDLE WINAPI SimCreateFileA(const char *name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile)
{
    return World().CreateFileA(name, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI SimCloseHandle(HANDLE handle) { return World().CloseHandle(handle); }

DWORD WINAPI SimGetCallRecord(char *buffer, DWORD size)
{
    std::string record;
    for (const std::string &line : World().Transcript())
        record += line + "\n";
    if (buffer && size > 0) {
        const std::size_t copied = record.size() < size ? record.size() : size - 1;
        std::memcpy(buffer, record.data(), copied);
        buffer[copied] = '\0';
    }
    return static_cast<DWORD>(record.size() + 1);
}

void WINAPI SimClearCallRecord(void) { World().ClearCalls(); }

} // extern "C"
