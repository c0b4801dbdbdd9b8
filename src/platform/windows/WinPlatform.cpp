// The DLL's road outside: the port-I/O library io.dll and kernel32's device
// calls. Each function only passes its arguments through.
#include "platform/Platform.h"

#include <windows.h>

#include "IoDll.h"

namespace platform {

std::uint8_t IsDriverInstalled() { return ::IsDriverInstalled(); }
void PortOut(std::uint16_t port, std::uint8_t value) { ::PortOut(port, value); }
std::uint16_t GetPortBit(std::uint16_t port, std::uint8_t bit) { return ::GetPortBit(port, bit); }
void SetPortBit(std::uint16_t port, std::uint8_t bit) { ::SetPortBit(port, bit); }
void ClrPortBit(std::uint16_t port, std::uint8_t bit) { ::ClrPortBit(port, bit); }

Handle CreateFileA(const char *name, std::uint32_t access, std::uint32_t share, void *security,
                   std::uint32_t disposition, std::uint32_t flagsAndAttributes, Handle templateFile)
{
    return ::CreateFileA(name, access, share, static_cast<LPSECURITY_ATTRIBUTES>(security), disposition,
                         flagsAndAttributes, templateFile);
}

std::int32_t CloseHandle(Handle handle) { return ::CloseHandle(handle); }

} // namespace platform
