// The six modem lines of a serial port, by name, and where each is read:
// its register's offset from the UART base and its bit there, for io.dll's
// bit read. The key tester and the port set-up name the lines by these.
#pragma once

#include <cstdint>

#include "uart/Uart16550.h"

namespace uart {

// The four status lines a key can be on, in the order a tie is settled
// (CTS is what the key library reads), then the two outputs.
enum Line { LineCts, LineDsr, LineDcd, LineRi, LineRts, LineDtr, LineCount };
constexpr int InputLineCount = LineRts;

// "CTS", "DSR", "DCD", "RI", "RTS" or "DTR"; "?" for no line.
const char *LineName(int line);

// Levels of the modem lines at one reading, true for on.
struct LineLevels {
    bool on[LineCount] = {};
};

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
    {Uart16550::MSR, BitNumber(Uart16550::MSR_CTS)},
    {Uart16550::MSR, BitNumber(Uart16550::MSR_DSR)},
    {Uart16550::MSR, BitNumber(Uart16550::MSR_DCD)},
    {Uart16550::MSR, BitNumber(Uart16550::MSR_RI)},
    {Uart16550::MCR, BitNumber(Uart16550::MCR_RTS)},
    {Uart16550::MCR, BitNumber(Uart16550::MCR_DTR)},
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
    return getPortBit(static_cast<std::uint16_t>(base + Uart16550::MCR), 7) == 0;
}

} // namespace uart
