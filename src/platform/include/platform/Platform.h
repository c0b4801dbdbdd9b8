// The library's only road to the outside world: the port-I/O library's five
// operations and the operating system's device open and close.
//
// Widths follow the port-I/O library's own interface: ports are 16-bit,
// values and bit numbers 8-bit, the driver check a one-byte boolean and a
// bit read a 16-bit boolean (any non-zero value means set). Results are
// passed through untouched; interpreting them is the library's business.
//
// Each program links one implementation: platform/windows (io.dll and
// kernel32) into the DLL, platform/sim (the simulator) into host tests and
// the fuzz target, platform/null (does nothing) into benchmarks and the
// allocation tests.
#pragma once

#include <cstdint>

namespace platform {

// What CreateFileA returns; INVALID_HANDLE_VALUE when the device can't be
// opened. The library keeps it unexamined for the close.
using Handle = void *;

std::uint8_t IsDriverInstalled();
void PortOut(std::uint16_t port, std::uint8_t value);
std::uint16_t GetPortBit(std::uint16_t port, std::uint8_t bit);
void SetPortBit(std::uint16_t port, std::uint8_t bit);
void ClrPortBit(std::uint16_t port, std::uint8_t bit);

Handle CreateFileA(const char *name, std::uint32_t access, std::uint32_t share, void *security,
                   std::uint32_t disposition, std::uint32_t flagsAndAttributes, Handle templateFile);
std::int32_t CloseHandle(Handle handle);

} // namespace platform
