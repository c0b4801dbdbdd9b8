// The simulated outside world of the key library: the port-I/O library with
// its driver over a PC's 16-bit I/O space holding 16550 UARTs, the operating
// system's serial devices, and a record of every call made into them.
//
// The hardware part (`Machine`) is plain data so that it can be placed in
// memory shared between processes; the devices and the record belong to the
// process that makes the calls.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "uart/Uart16550.h"

namespace sim {

// The simulated PC's UARTs are the register model the comm-port io.dll
// keeps too.
using uart::Uart16550;

// The simulated PC's serial ports: device names and UART bases. The key
// library keeps its own table of the same ports on purpose: the tests check
// one against the other, so neither may be derived from the other.
struct StandardPort {
    const char *name;
    std::uint16_t base;
};
constexpr StandardPort StandardPorts[] = {{"COM1", 0x3F8}, {"COM2", 0x2F8}, {"COM3", 0x3E8}, {"COM4", 0x2E8}};

// The standard port `name` names (case-insensitive), or null.
const StandardPort *FindStandardPort(const std::string &name);

struct Machine {
    static constexpr int MaxUarts = sizeof StandardPorts / sizeof StandardPorts[0];

    std::uint8_t driverInstalled;   // does port access reach the hardware?
    std::uint16_t bitSetValue;      // what GetPortBit answers for a set bit
    std::uint8_t driverValue;       // what IsDriverInstalled answers while installed
    std::uint8_t uartCount;
    std::int8_t activeUart;         // the UART last written to, -1 for none
    Uart16550 uarts[MaxUarts];
    std::uint8_t ports[65536];      // every port no UART decodes

    // A PC with the driver present and UARTs at the four standard bases.
    static void PowerOn(Machine &machine);

    Uart16550 *UartAt(std::uint16_t port);
    // The UART a host drives: the one last written to, else the first.
    Uart16550 &ActiveUart();
    std::uint8_t Read(std::uint16_t port);
    void Write(std::uint16_t port, std::uint8_t value);
};

using Handle = void *;
Handle InvalidHandle();

// Device handles the simulator issues: kHandleBase + 4n for the n-th open,
// far from the small values a real kernel hands out, so that a process may
// hold both kinds at once and tell them apart.
constexpr std::uintptr_t kHandleBase = 0x5A000000;
constexpr std::uintptr_t kHandleStep = 4;
inline bool IsSimHandle(Handle handle)
{
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return value > kHandleBase && value < kHandleBase + 0x01000000 && (value - kHandleBase) % kHandleStep == 0;
}

struct Call {
    enum class Op { IsDriverInstalled, PortOut, GetPortBit, SetPortBit, ClrPortBit, CreateFileA, CloseHandle };
    explicit Call(Op kind) : op(kind) {}

    Op op;
    std::uint16_t port = 0;
    std::uint8_t value = 0;       // byte written or bit number
    std::uint32_t result = 0;
    std::string name;             // CreateFileA's device name
    bool nameIsNull = false;
    std::uint32_t access = 0, share = 0, disposition = 0, flags = 0;
    bool securityIsNull = true, templateIsNull = true;
    Handle handle = nullptr;      // CloseHandle's argument or CreateFileA's result
};

// The record of a port-I/O call on `port` with a byte or bit number.
Call PortCall(Call::Op op, std::uint16_t port, std::uint8_t value);

// The record of a CreateFileA call with these arguments; its handle is
// still to be filled in.
Call CreateFileCall(const char *name, std::uint32_t access, std::uint32_t share, const void *security,
                    std::uint32_t disposition, std::uint32_t flags, const void *templateFile);

// One line per call, e.g. "PortOut(0x03FB, 0x80)" or
// "CreateFileA("COM1", 0xC0000000, 0, NULL, 3, 0, NULL) -> h1".
std::string Describe(const Call &call);

class World {
public:
    World();

    // Back to a new PC: the machine powered on afresh (the shared one, when
    // one is in use), devices COM1 to COM4, nothing held, nothing recorded.
    void Reset();

    // Runs the hardware from `machine` (for example a block shared between
    // processes, already powered on) instead of the world's own; null goes
    // back to its own.
    void UseMachine(Machine *machine);
    Machine &machine() { return *machine_; }

    // A call of the port-I/O library, recorded and carried out: `op` is one
    // of its five operations, with the port and the byte or bit number it
    // takes (none for IsDriverInstalled). Answers what the operation returns,
    // 0 for those that return nothing. Without the driver, writes are lost
    // and reads answer zero, as on a PC without it. One entry for all five,
    // so that the platform's declarations stay the only list of them.
    std::uint16_t PortIo(Call::Op op, std::uint16_t port = 0, std::uint8_t value = 0);

    // The operating system's device calls; each one is recorded. A device
    // opens when it exists, the arguments ask for OPEN_EXISTING and nobody
    // holds it already (serial devices are exclusive).
    Handle CreateFileA(const char *name, std::uint32_t access, std::uint32_t share, void *security,
                       std::uint32_t disposition, std::uint32_t flags, Handle templateFile);
    std::int32_t CloseHandle(Handle handle);

    // Set-up and inspection; none of these is recorded.
    void SetDriverInstalled(bool present) { machine_->driverInstalled = present ? 1 : 0; }
    void SetBitSetValue(std::uint16_t value) { machine_->bitSetValue = value; }
    void SetDriverValue(std::uint8_t value) { machine_->driverValue = value; }
    Uart16550 *UartAt(std::uint16_t port) { return machine_->UartAt(port); }
    void SetDeviceExists(const std::string &name, bool exists);
    std::size_t HandlesHeld() const { return open_.size(); }
    bool IsHeld(const std::string &name) const;

    const std::vector<Call> &Calls() const { return calls_; }
    std::vector<std::string> Transcript() const;
    void ClearCalls() { calls_.clear(); }

private:
    Machine own_;
    Machine *machine_;
    std::map<std::string, bool> devices_;        // name -> exists
    std::map<std::uintptr_t, std::string> open_; // handle -> device name
    std::uintptr_t nextHandle_ = 0;
    std::vector<Call> calls_;
};

// The world of this process, behind the platform binding and the stand-in
// port-I/O library.
World &TheWorld();

} // namespace sim
