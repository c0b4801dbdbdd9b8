// Register-level model of a 16550-compatible UART.
//
// Plain data with no pointers, so a machine of these can live in memory that
// several processes share. The model covers what a key on the modem lines
// needs: DLAB and the divisor latch, IER, FCR, LCR, MCR (DTR, RTS, OUT1,
// OUT2, loopback) and MSR with its delta bits. Data written for transmission
// is dropped; nothing is ever received.
#pragma once

#include <cstdint>

namespace uart {

struct Uart16550 {
    // Register offsets from the base address.
    enum : std::uint8_t { RBR_THR_DLL = 0, IER_DLM = 1, IIR_FCR = 2, LCR = 3, MCR = 4, LSR = 5, MSR = 6, SCR = 7 };
    // Modem control bits.
    enum : std::uint8_t { MCR_DTR = 0x01, MCR_RTS = 0x02, MCR_OUT1 = 0x04, MCR_OUT2 = 0x08, MCR_LOOP = 0x10 };
    // Modem status bits: deltas in the low nibble, line levels in the high.
    enum : std::uint8_t { MSR_DCTS = 0x01, MSR_DDSR = 0x02, MSR_TERI = 0x04, MSR_DDCD = 0x08,
                          MSR_CTS = 0x10, MSR_DSR = 0x20, MSR_RI = 0x40, MSR_DCD = 0x80 };
    static constexpr std::uint8_t LCR_DLAB = 0x80;
    static constexpr std::uint8_t RegisterCount = 8;

    std::uint16_t base;
    std::uint8_t dll, dlm, ier, fcr, lcr, mcr, scr;
    std::uint8_t msrDelta;   // delta bits latched since the last MSR read
    std::uint8_t inputs;     // levels driven from outside: MSR_CTS, MSR_DSR, MSR_RI, MSR_DCD

    // A UART after power-on reset at `base`.
    static Uart16550 PowerOn(std::uint16_t base);

    // Bus access by register offset, with the side effects of the hardware:
    // reading MSR clears its delta bits.
    std::uint8_t Read(std::uint8_t offset);
    void Write(std::uint8_t offset, std::uint8_t value);
    // What Read would answer, with no side effect.
    std::uint8_t Peek(std::uint8_t offset) const;

    // The modem status as the lines stand, without clearing the deltas.
    std::uint8_t PeekMsr() const;

    // Drives an input line (one of the MSR level bits) from outside.
    void SetInput(std::uint8_t msrBit, bool level);
    // Reads MSR once the input lines stand at `levels` (its high nibble):
    // their deltas latched against the levels before, then cleared by the
    // read, as a poll of a chip whose lines moved meanwhile sees them.
    std::uint8_t ReadMsrWith(std::uint8_t levels);

    std::uint16_t Divisor() const { return static_cast<std::uint16_t>(dlm << 8 | dll); }

private:
    std::uint8_t LineLevels() const;
};

} // namespace uart
