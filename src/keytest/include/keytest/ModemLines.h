// Where each modem line is read: its register's offset from the UART base
// and its bit there, for io.dll's bit read.
#pragma once

#include <cstdint>

#include "keytest/KeyAnalysis.h"
#include "uart/Uart16550.h"

namespace keytest {

struct ModemLineBit {
    std::uint8_t offset; // from the UART base
    std::uint8_t bit;    // 0..7
};

constexpr std::uint8_t BitNumber(std::uint8_t mask)
{
    std::uint8_t bit = 0;
    while (mask > 1) {
        mask = static_cast<std::uint8_t>(mask >> 1);
        ++bit;
    }
    return bit;
}

// Indexed by Line: the status lines from the modem status register, RTS and
// DTR from the modem control register.
constexpr ModemLineBit ModemLineBits[LineCount] = {
    {uart::Uart16550::MSR, BitNumber(uart::Uart16550::MSR_CTS)},
    {uart::Uart16550::MSR, BitNumber(uart::Uart16550::MSR_DSR)},
    {uart::Uart16550::MSR, BitNumber(uart::Uart16550::MSR_DCD)},
    {uart::Uart16550::MSR, BitNumber(uart::Uart16550::MSR_RI)},
    {uart::Uart16550::MCR, BitNumber(uart::Uart16550::MCR_RTS)},
    {uart::Uart16550::MCR, BitNumber(uart::Uart16550::MCR_DTR)},
};

// An input line's bit in the modem status register, which is also its bit
// in GetCommModemStatus's answer and the port map's KeyLine.
constexpr std::uint8_t InputLineMask(int line)
{
    return static_cast<std::uint8_t>(1u << ModemLineBits[line].bit);
}

// The six lines through a bit read such as io.dll's GetPortBit.
template <typename GetPortBit> LineLevels ReadModemLines(GetPortBit getPortBit, std::uint16_t base)
{
    LineLevels lines;
    for (int line = 0; line < LineCount; ++line)
        lines.on[line] = getPortBit(static_cast<std::uint16_t>(base + ModemLineBits[line].offset),
                                    ModemLineBits[line].bit) != 0;
    return lines;
}

// A 16550's modem control register reads its top bit as 0; a port where no
// UART answers reads FFh: an empty bus, or a base the comm-port io.dll's map
// doesn't cover.
template <typename GetPortBit> bool UartAnswersAt(GetPortBit getPortBit, std::uint16_t base)
{
    return getPortBit(static_cast<std::uint16_t>(base + uart::Uart16550::MCR), 7) == 0;
}

} // namespace keytest
