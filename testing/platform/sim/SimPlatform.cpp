// Host builds: the outside world is the simulator of this process.
#include "platform/Platform.h"

#include "sim/World.h"

namespace platform {

using Op = sim::Call::Op;

std::uint8_t IsDriverInstalled() { return static_cast<std::uint8_t>(sim::TheWorld().PortIo(Op::IsDriverInstalled)); }
void PortOut(std::uint16_t port, std::uint8_t value) { sim::TheWorld().PortIo(Op::PortOut, port, value); }
std::uint16_t GetPortBit(std::uint16_t port, std::uint8_t bit) { return sim::TheWorld().PortIo(Op::GetPortBit, port, bit); }
void SetPortBit(std::uint16_t port, std::uint8_t bit) { sim::TheWorld().PortIo(Op::SetPortBit, port, bit); }
void ClrPortBit(std::uint16_t port, std::uint8_t bit) { sim::TheWorld().PortIo(Op::ClrPortBit, port, bit); }

Handle CreateFileA(const char *name, std::uint32_t access, std::uint32_t share, void *security,
                   std::uint32_t disposition, std::uint32_t flagsAndAttributes, Handle templateFile)
{
    return sim::TheWorld().CreateFileA(name, access, share, security, disposition, flagsAndAttributes, templateFile);
}

std::int32_t CloseHandle(Handle handle) { return sim::TheWorld().CloseHandle(handle); }

} // namespace platform
