#include "uart/Uart16550.h"

namespace uart {

namespace {

// The delta bits a change of the line levels latches: each level bit has its
// delta four bits lower; RI reports only its trailing edge. Loopback's
// outputs are lines like the inputs: a 16550 latches their edges alike.
std::uint8_t Deltas(std::uint8_t before, std::uint8_t after)
{
    const auto changed = static_cast<std::uint8_t>(before ^ after);
    auto delta = static_cast<std::uint8_t>(
        (changed & (Uart16550::MSR_CTS | Uart16550::MSR_DSR | Uart16550::MSR_DCD)) >> 4);
    if ((changed & Uart16550::MSR_RI) && !(after & Uart16550::MSR_RI))
        delta |= Uart16550::MSR_TERI;
    return delta;
}

} // namespace

Uart16550 Uart16550::PowerOn(std::uint16_t base)
{
    Uart16550 uart{};
    uart.base = base;
    return uart;
}

std::uint8_t Uart16550::LineLevels() const
{
    if ((mcr & MCR_LOOP) == 0)
        return inputs;
    // Loopback wires the outputs back to the inputs inside the chip.
    std::uint8_t levels = 0;
    if (mcr & MCR_RTS) levels |= MSR_CTS;
    if (mcr & MCR_DTR) levels |= MSR_DSR;
    if (mcr & MCR_OUT1) levels |= MSR_RI;
    if (mcr & MCR_OUT2) levels |= MSR_DCD;
    return levels;
}

std::uint8_t Uart16550::PeekMsr() const { return static_cast<std::uint8_t>(LineLevels() | msrDelta); }

void Uart16550::SetInput(std::uint8_t msrBit, bool level)
{
    const std::uint8_t before = LineLevels();
    inputs = static_cast<std::uint8_t>(level ? (inputs | msrBit) : (inputs & ~msrBit));
    msrDelta |= Deltas(before, LineLevels());
}

std::uint8_t Uart16550::ReadMsrWith(std::uint8_t levels)
{
    const std::uint8_t before = LineLevels();
    inputs = static_cast<std::uint8_t>(levels & 0xF0);
    msrDelta |= Deltas(before, LineLevels());
    return Read(MSR);
}

std::uint8_t Uart16550::Peek(std::uint8_t offset) const
{
    const bool dlab = (lcr & LCR_DLAB) != 0;
    switch (offset & 7) {
    case RBR_THR_DLL: return dlab ? dll : 0;
    case IER_DLM: return dlab ? dlm : ier;
    case IIR_FCR: return static_cast<std::uint8_t>(((fcr & 0x01) ? 0xC0 : 0x00) | 0x01); // no interrupt pending
    case LCR: return lcr;
    case MCR: return mcr;
    case LSR: return 0x60; // transmitter idle, nothing received
    case MSR: return PeekMsr();
    default: return scr;
    }
}

std::uint8_t Uart16550::Read(std::uint8_t offset)
{
    const std::uint8_t value = Peek(offset);
    if ((offset & 7) == MSR)
        msrDelta = 0;
    return value;
}

void Uart16550::Write(std::uint8_t offset, std::uint8_t value)
{
    const bool dlab = (lcr & LCR_DLAB) != 0;
    switch (offset & 7) {
    case RBR_THR_DLL:
        if (dlab) dll = value; // else a byte sent, and dropped
        break;
    case IER_DLM:
        if (dlab) dlm = value;
        else ier = value & 0x0F;
        break;
    case IIR_FCR: fcr = value & 0xC9; break; // the FIFO reset bits clear themselves
    case LCR: lcr = value; break;
    case MCR: {
        const std::uint8_t before = LineLevels();
        mcr = value & 0x1F;
        msrDelta |= Deltas(before, LineLevels());
        break;
    }
    case LSR: break; // read-only
    case MSR: break; // read-only
    default: scr = value; break;
    }
}

} // namespace uart
