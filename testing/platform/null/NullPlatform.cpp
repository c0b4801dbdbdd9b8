// A backend whose operations do nothing: the driver is present, every bit
// reads clear and every device opens. Linked into benchmarks and allocation
// tests, so that what they measure is the library's own work.
#include "platform/Platform.h"

namespace platform {

std::uint8_t IsDriverInstalled() { return 1; }
void PortOut(std::uint16_t, std::uint8_t) {}
std::uint16_t GetPortBit(std::uint16_t, std::uint8_t) { return 0; }
void SetPortBit(std::uint16_t, std::uint8_t) {}
void ClrPortBit(std::uint16_t, std::uint8_t) {}

Handle CreateFileA(const char *, std::uint32_t, std::uint32_t, void *, std::uint32_t, std::uint32_t, Handle)
{
    return reinterpret_cast<Handle>(std::uintptr_t{0x100});
}

std::int32_t CloseHandle(Handle) { return 1; }

} // namespace platform
