#define IODLL_API
#define SIM_API
#include "StandInIo.h"

#include "IoDll.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/KeyScript.h"
#include "sim/ScriptedKey.h"
#include "sim/SimUart.h"
#include "sim/World.h"

namespace {

// The simulated PC lives in named shared memory, so that every process that
// loads the stand-in in the same Windows session works the same UARTs: a
// host in one, the virtual key's control program in another.
constexpr const char *SharedName = "Local\\ZelbinVirtualKey";
constexpr LONG SharedMagic = 0x5A4B4559; // set once the machine is powered on

struct SharedBlock {
    volatile LONG ready;
    sim::Machine machine;
};

// Was the simulated PC already running when this process first used the
// stand-in, that is, does another program in the session use it?
bool foundRunning = false;

sim::Machine *MapSharedMachine()
{
    SetLastError(0); // "already exists" must come from this call alone
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SharedBlock),
                                        SharedName);
    if (!mapping)
        return nullptr;
    const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
    foundRunning = !created;
    auto *block = static_cast<SharedBlock *>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SharedBlock)));
    if (!block)
        return nullptr;
    if (created) {
        sim::Machine::PowerOn(block->machine);
        InterlockedExchange(&block->ready, SharedMagic);
    } else {
        for (int waited = 0; block->ready != SharedMagic && waited < 2000; ++waited)
            Sleep(1);
    }
    // The mapping stays open for the life of the process.
    return block->ready == SharedMagic ? &block->machine : nullptr;
}

// ZELBIN_KEY_SCRIPT works the key of the UART this process drives at the
// given times, counted from the moment this process first used the stand-in.
struct Script {
    sim::ScriptedKey key;
    ULONGLONG start = 0;
};

Script LoadScript()
{
    Script script;
    script.start = GetTickCount64();
    const char *text = std::getenv("ZELBIN_KEY_SCRIPT");
    if (!text)
        return script;
    std::vector<sim::KeyEvent> events;
    std::string error;
    if (sim::ParseKeyScript(text, events, error))
        script.key = sim::ScriptedKey(std::move(events));
    else
        std::fprintf(stderr, "io.dll (stand-in): ZELBIN_KEY_SCRIPT ignored: %s\n", error.c_str());
    return script;
}

Script &TheScript()
{
    static Script script = LoadScript();
    return script;
}

// This process's world, on the shared machine from the first call on, with
// the key script brought up to the present moment.
sim::World &StandInWorld()
{
    static const bool attached = [] {
        if (sim::Machine *shared = MapSharedMachine())
            sim::TheWorld().UseMachine(shared);
        return true;
    }();
    (void)attached;
    Script &script = TheScript();
    sim::World &world = sim::TheWorld();
    if (!script.key.Finished())
        script.key.Advance(world.machine(), GetTickCount64() - script.start);
    return world;
}

// Every write of this process's host tells the script which UART it drives.
sim::World &Written(sim::World &world, WORD port)
{
    TheScript().key.NoteWrite(world.machine(), port);
    return world;
}

// The control interface's port 0 means the UART the host drives.
uart::Uart16550 *UartFor(WORD port)
{
    return port == 0 ? &StandInWorld().machine().ActiveUart() : StandInWorld().UartAt(port);
}

} // namespace

extern "C" {

using Op = sim::Call::Op;

BYTE WINAPI IsDriverInstalled(void) { return static_cast<BYTE>(StandInWorld().PortIo(Op::IsDriverInstalled)); }
void WINAPI PortOut(WORD port, BYTE value) { Written(StandInWorld(), port).PortIo(Op::PortOut, port, value); }
WORD WINAPI GetPortBit(WORD port, BYTE bit) { return StandInWorld().PortIo(Op::GetPortBit, port, bit); }
void WINAPI SetPortBit(WORD port, BYTE bit) { Written(StandInWorld(), port).PortIo(Op::SetPortBit, port, bit); }
void WINAPI ClrPortBit(WORD port, BYTE bit) { Written(StandInWorld(), port).PortIo(Op::ClrPortBit, port, bit); }

void WINAPI SimReset(void) { StandInWorld().Reset(); }
void WINAPI SimSetDriverInstalled(BYTE present) { StandInWorld().SetDriverInstalled(present != 0); }
void WINAPI SimSetBitSetValue(WORD value) { StandInWorld().SetBitSetValue(value); }
void WINAPI SimSetDriverValue(BYTE value) { StandInWorld().SetDriverValue(value); }

BYTE WINAPI SimSetKey(WORD port, BYTE down)
{
    uart::Uart16550 *uart = UartFor(port);
    if (!uart)
        return 0;
    sim::SetCts(*uart, down != 0);
    return 1;
}

WORD WINAPI SimGetActivePort(void) { return StandInWorld().machine().ActiveUart().base; }

WORD WINAPI SimGetModemControl(WORD port)
{
    const uart::Uart16550 *uart = UartFor(port);
    return uart ? uart->mcr : 0xFFFF;
}

WORD WINAPI SimGetModemStatus(WORD port)
{
    const uart::Uart16550 *uart = UartFor(port);
    return uart ? uart->PeekMsr() : 0xFFFF;
}

BYTE WINAPI SimGetUart(WORD port, SimUartState *state)
{
    const uart::Uart16550 *uart = UartFor(port);
    if (!uart || !state)
        return 0;
    *state = {uart->base, uart->dll, uart->dlm, uart->ier, uart->fcr, uart->lcr, uart->mcr, uart->PeekMsr(), uart->scr};
    return 1;
}

BYTE WINAPI SimGetDriverInstalled(void) { return StandInWorld().machine().driverInstalled; }

BYTE WINAPI SimFoundRunning(void)
{
    StandInWorld();
    return foundRunning ? 1 : 0;
}

void WINAPI SimSetDeviceExists(const char *name, BYTE exists)
{
    if (name)
        StandInWorld().SetDeviceExists(name, exists != 0);
}

DWORD WINAPI SimHandlesHeld(void) { return static_cast<DWORD>(StandInWorld().HandlesHeld()); }

HANDLE WINAPI SimCreateFileA(const char *name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile)
{
    return StandInWorld().CreateFileA(name, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI SimCloseHandle(HANDLE handle) { return StandInWorld().CloseHandle(handle); }

DWORD WINAPI SimGetCallRecord(char *buffer, DWORD size)
{
    std::string record;
    for (const std::string &line : StandInWorld().Transcript())
        record += line + "\n";
    if (buffer && size > 0) {
        const std::size_t copied = record.size() < size ? record.size() : size - 1;
        std::memcpy(buffer, record.data(), copied);
        buffer[copied] = '\0';
    }
    return static_cast<DWORD>(record.size() + 1);
}

void WINAPI SimClearCallRecord(void) { StandInWorld().ClearCalls(); }

} // extern "C"
