#include "sim/World.h"
#include "sim/SimUart.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

constexpr std::uint32_t OpenExisting = 3;

std::string Hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string HandleText(Handle handle)
{
    if (handle == InvalidHandle())
        return "INVALID_HANDLE_VALUE";
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (IsSimHandle(handle))
        return "h" + std::to_string((value - kHandleBase) / kHandleStep);
    return Hex(static_cast<unsigned>(value), 8);
}

} // namespace

const StandardPort *FindStandardPort(const std::string &name)
{
    for (const StandardPort &port : StandardPorts) {
        bool same = name.size() == 4;
        for (std::size_t i = 0; same && i < 4; ++i)
            same = std::toupper(static_cast<unsigned char>(name[i])) == port.name[i];
        if (same)
            return &port;
    }
    return nullptr;
}

Handle InvalidHandle() { return reinterpret_cast<Handle>(~std::uintptr_t{0}); }

void Machine::PowerOn(Machine &machine)
{
    std::memset(&machine, 0, sizeof machine);
    machine.driverInstalled = 1;
    machine.activeUart = -1;
    machine.bitSetValue = 1;
    machine.driverValue = 1;
    for (const StandardPort &port : StandardPorts)
        machine.uarts[machine.uartCount++] = Uart16550::PowerOn(port.base);
    // Unclaimed ports float high on a PC bus.
    std::memset(machine.ports, 0xFF, sizeof machine.ports);
}

Uart16550 *Machine::UartAt(std::uint16_t port)
{
    for (int i = 0; i < uartCount && i < MaxUarts; ++i)
        if (Decodes(uarts[i], port))
            return &uarts[i];
    return nullptr;
}

Uart16550 &Machine::ActiveUart()
{
    return activeUart >= 0 && activeUart < uartCount ? uarts[activeUart] : uarts[0];
}

std::uint8_t Machine::Read(std::uint16_t port)
{
    if (Uart16550 *uart = UartAt(port))
        return uart->Read(static_cast<std::uint8_t>(port - uart->base));
    return ports[port];
}

void Machine::Write(std::uint16_t port, std::uint8_t value)
{
    if (Uart16550 *uart = UartAt(port)) {
        uart->Write(static_cast<std::uint8_t>(port - uart->base), value);
        activeUart = static_cast<std::int8_t>(uart - uarts);
    } else
        ports[port] = value;
}

Call PortCall(Call::Op op, std::uint16_t port, std::uint8_t value)
{
    Call call{op};
    call.port = port;
    call.value = value;
    return call;
}

Call CreateFileCall(const char *name, std::uint32_t access, std::uint32_t share, const void *security,
                    std::uint32_t disposition, std::uint32_t flags, const void *templateFile)
{
    Call call{Call::Op::CreateFileA};
    call.nameIsNull = name == nullptr;
    call.name = name ? name : "";
    call.access = access;
    call.share = share;
    call.securityIsNull = security == nullptr;
    call.disposition = disposition;
    call.flags = flags;
    call.templateIsNull = templateFile == nullptr;
    return call;
}

std::string Describe(const Call &call)
{
    const std::string port = Hex(call.port, 4);
    switch (call.op) {
    case Call::Op::IsDriverInstalled: return "IsDriverInstalled() -> " + std::to_string(call.result);
    case Call::Op::PortOut: return "PortOut(" + port + ", " + Hex(call.value, 2) + ")";
    case Call::Op::GetPortBit:
        return "GetPortBit(" + port + ", " + std::to_string(call.value) + ") -> " + Hex(call.result, 4);
    case Call::Op::SetPortBit: return "SetPortBit(" + port + ", " + std::to_string(call.value) + ")";
    case Call::Op::ClrPortBit: return "ClrPortBit(" + port + ", " + std::to_string(call.value) + ")";
    case Call::Op::CreateFileA: {
        std::string text = "CreateFileA(";
        text += call.nameIsNull ? "NULL" : "\"" + call.name + "\"";
        text += ", " + Hex(call.access, 8) + ", " + std::to_string(call.share) + ", ";
        text += call.securityIsNull ? "NULL" : "security";
        text += ", " + std::to_string(call.disposition) + ", " + std::to_string(call.flags) + ", ";
        text += call.templateIsNull ? "NULL" : "template";
        return text + ") -> " + HandleText(call.handle);
    }
    case Call::Op::CloseHandle: return "CloseHandle(" + HandleText(call.handle) + ") -> " + std::to_string(call.result);
    }
    return "?";
}

World::World() : machine_(&own_) { Reset(); }

void World::Reset()
{
    Machine::PowerOn(*machine_);
    devices_.clear();
    for (const StandardPort &port : StandardPorts)
        devices_[port.name] = true;
    open_.clear();
    nextHandle_ = 0;
    calls_.clear();
}

void World::UseMachine(Machine *machine) { machine_ = machine ? machine : &own_; }

std::uint16_t World::PortIo(Call::Op op, std::uint16_t port, std::uint8_t value)
{
    if (op == Call::Op::CreateFileA || op == Call::Op::CloseHandle)
        return 0; // the device calls have entries of their own
    calls_.push_back(PortCall(op, port, value)); // recorded before the machine sees it
    std::uint32_t &result = calls_.back().result;
    Machine &machine = *machine_;
    const bool reaches = machine.driverInstalled != 0;
    const bool bit = reaches && value < 8; // a bit operation on a bit that exists
    switch (op) {
    case Call::Op::IsDriverInstalled: result = reaches ? machine.driverValue : 0; break;
    case Call::Op::PortOut:
        if (reaches)
            machine.Write(port, value);
        break;
    case Call::Op::GetPortBit: result = bit && (machine.Read(port) >> value & 1) ? machine.bitSetValue : 0; break;
    case Call::Op::SetPortBit:
        if (bit)
            machine.Write(port, static_cast<std::uint8_t>(machine.Read(port) | 1u << value));
        break;
    case Call::Op::ClrPortBit:
        if (bit)
            machine.Write(port, static_cast<std::uint8_t>(machine.Read(port) & ~(1u << value)));
        break;
    default: break;
    }
    return static_cast<std::uint16_t>(result);
}

Handle World::CreateFileA(const char *name, std::uint32_t access, std::uint32_t share, void *security,
                          std::uint32_t disposition, std::uint32_t flags, Handle templateFile)
{
    Call call = CreateFileCall(name, access, share, security, disposition, flags, templateFile);
    call.handle = InvalidHandle();
    const auto device = devices_.find(call.name);
    const bool exists = name != nullptr && device != devices_.end() && device->second;
    // Serial devices are exclusive: one that is held can't be opened again.
    if (exists && disposition == OpenExisting && !IsHeld(call.name)) {
        nextHandle_ += kHandleStep;
        open_[kHandleBase + nextHandle_] = call.name;
        call.handle = reinterpret_cast<Handle>(kHandleBase + nextHandle_);
    }
    calls_.push_back(call);
    return call.handle;
}

std::int32_t World::CloseHandle(Handle handle)
{
    Call call{Call::Op::CloseHandle};
    call.handle = handle;
    // INVALID_HANDLE_VALUE is also the current process's pseudo-handle, and
    // Windows closes it successfully by doing nothing.
    call.result = handle == InvalidHandle() || open_.erase(reinterpret_cast<std::uintptr_t>(handle)) ? 1 : 0;
    calls_.push_back(call);
    return static_cast<std::int32_t>(call.result);
}

void World::SetDeviceExists(const std::string &name, bool exists) { devices_[name] = exists; }

bool World::IsHeld(const std::string &name) const
{
    for (const auto &entry : open_)
        if (entry.second == name)
            return true;
    return false;
}

std::vector<std::string> World::Transcript() const
{
    std::vector<std::string> lines;
    lines.reserve(calls_.size());
    for (const Call &call : calls_)
        lines.push_back(Describe(call));
    return lines;
}

World &TheWorld()
{
    static World world;
    return world;
}

} // namespace sim
