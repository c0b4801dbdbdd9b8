// What the simulated world does to a UART that a program driving one never
// does: moves CTS from outside, as a key does, reads a line's level without
// a register read's side effects, and finds which UART a port address
// reaches.
#pragma once

#include <cstdint>

#include "uart/ModemLines.h"
#include "uart/Uart16550.h"

namespace sim {

inline void SetCts(uart::Uart16550 &uart, bool level) { uart.SetInput(uart::ModemLine::Cts.Mask(), level); }

inline bool LineOn(const uart::Uart16550 &uart, uart::ModemLine line)
{
    return (uart.Peek(line.Register()) & line.Mask()) != 0;
}

// Whether `port` falls among the UART's eight registers (addresses wrap).
inline bool Decodes(const uart::Uart16550 &uart, std::uint16_t port)
{
    return static_cast<std::uint16_t>(port - uart.base) < uart::Uart16550::RegisterCount;
}

} // namespace sim
