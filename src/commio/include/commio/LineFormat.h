// A 16550's divisor latch and line control register, read as the line
// format a serial driver takes.
#pragma once

#include <cstdint>

#include "commio/CommApi.h"

namespace commio {

// The UART's clock (1.8432 MHz) divided by 16: the baud rate of divisor 1.
constexpr std::uint32_t UartBaudClock = 115200;

// The format the registers select. The divisor must not be zero. LCR bit 6
// (break) and bit 7 (DLAB) are not part of the format.
LineSettings LineFromRegisters(std::uint8_t lcr, std::uint16_t divisor);

} // namespace commio
