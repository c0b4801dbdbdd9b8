// The key library's set-up of a UART at a start, as tests expect it and as
// stand-in hosts replay it: seven register writes, in this order.
#pragma once

#include <cstdint>

namespace testsupport {

struct RegisterWrite {
    std::uint8_t offset; // from the UART base
    std::uint8_t value;
};

// 2400 baud (divisor 48), 8 data bits, odd parity, 1 stop bit, interrupts
// off, FIFOs on, RTS and OUT2 on, DTR off.
constexpr RegisterWrite LibraryUartSetUp[7] = {{3, 0x80}, {0, 0x30}, {1, 0x00}, {3, 0x0B},
                                               {1, 0x00}, {2, 0xC1}, {4, 0x0A}};

} // namespace testsupport
