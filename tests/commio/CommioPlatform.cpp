// The key library's road outside for the end-to-end tests: its io.dll calls
// go to a comm-port io.dll core, its device calls to the same simulated COM
// devices that core drives.
#include "CommioWorld.h"

#include <memory>

#include "platform/Platform.h"

namespace {
sim::ComDevices devices;
std::unique_ptr<commio::CommIo> io;
} // namespace

sim::ComDevices &TheComDevices() { return devices; }

commio::CommIo &TheCommIo()
{
    if (!io)
        io = std::make_unique<commio::CommIo>(devices);
    return *io;
}

void NewCommioWorld()
{
    devices.Reset();
    io = std::make_unique<commio::CommIo>(devices);
}

namespace platform {

std::uint8_t IsDriverInstalled() { return TheCommIo().IsDriverInstalled(); }
void PortOut(std::uint16_t port, std::uint8_t value) { TheCommIo().PortOut(port, value); }
std::uint16_t GetPortBit(std::uint16_t port, std::uint8_t bit) { return TheCommIo().GetPortBit(port, bit); }
void SetPortBit(std::uint16_t port, std::uint8_t bit) { TheCommIo().SetPortBit(port, bit); }
void ClrPortBit(std::uint16_t port, std::uint8_t bit) { TheCommIo().ClrPortBit(port, bit); }

Handle CreateFileA(const char *name, std::uint32_t, std::uint32_t, void *, std::uint32_t, std::uint32_t, Handle)
{
    commio::DeviceHandle handle = nullptr;
    devices.Open(name, handle);
    return handle;
}

std::int32_t CloseHandle(Handle handle)
{
    devices.Close(handle);
    return 1;
}

} // namespace platform
