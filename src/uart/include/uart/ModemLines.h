// The six modem lines of a serial port, each with everything the tools say
// of it: its name, its pin on the connector, its register and bit on a
// 16550 (for io.dll's bit read), its bit in the serial driver's modem
// status and its comm event. The comm-port io.dll, the port set-up and the
// key tester speak of a line only by these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "uart/Uart16550.h"

namespace uart {

// One of the six lines, and nothing else: a ModemLine is made from no
// number and no text, only copied from the six below, so whatever reads
// its facts reads a row that is there.
class ModemLine {
public:
    // The four status lines a key can be on, in the order a tie is settled
    // (CTS is what the key library reads), then the two outputs.
    static const ModemLine Cts, Dsr, Dcd, Ri, Rts, Dtr;
    static constexpr std::size_t Count = 6;

    // "CTS", "DSR", "DCD", "RI", "RTS" or "DTR".
    constexpr const char *Name() const { return kFacts[index_].name; }
    // Its pin on the PC's 9-pin serial connector.
    constexpr int Pin() const { return kFacts[index_].pin; }
    // The register a 16550 keeps it in (MSR for a status line, MCR for an
    // output), and its bit there as a mask and as a bit number. A status
    // line's mask is also its bit in GetCommModemStatus's answer.
    constexpr std::uint8_t Register() const { return kFacts[index_].reg; }
    constexpr std::uint8_t Mask() const { return kFacts[index_].mask; }
    constexpr std::uint8_t Bit() const { return BitOf(Mask()); }
    // SetCommMask's and WaitCommEvent's bit for a change of a status line;
    // 0 for an output, which has none.
    constexpr std::uint32_t Event() const { return kFacts[index_].event; }
    constexpr bool IsInput() const { return Register() == Uart16550::MSR; }
    // 0 to Count - 1 in the order above: its place in a PerLine.
    constexpr std::size_t Index() const { return index_; }

    constexpr bool operator==(ModemLine other) const { return index_ == other.index_; }
    constexpr bool operator!=(ModemLine other) const { return index_ != other.index_; }

private:
    struct Facts {
        const char *name;
        int pin;
        std::uint8_t reg;
        std::uint8_t mask;
        std::uint32_t event;
    };
    static constexpr Facts kFacts[Count] = {
        {"CTS", 8, Uart16550::MSR, Uart16550::MSR_CTS, 0x0008}, // EV_CTS
        {"DSR", 6, Uart16550::MSR, Uart16550::MSR_DSR, 0x0010}, // EV_DSR
        {"DCD", 1, Uart16550::MSR, Uart16550::MSR_DCD, 0x0020}, // EV_RLSD
        {"RI", 9, Uart16550::MSR, Uart16550::MSR_RI, 0x0100},   // EV_RING
        {"RTS", 7, Uart16550::MCR, Uart16550::MCR_RTS, 0},
        {"DTR", 4, Uart16550::MCR, Uart16550::MCR_DTR, 0},
    };
    static constexpr std::uint8_t BitOf(std::uint8_t mask)
    {
        std::uint8_t bit = 0;
        while (mask > 1) {
            mask = static_cast<std::uint8_t>(mask >> 1);
            ++bit;
        }
        return bit;
    }

    constexpr explicit ModemLine(std::uint8_t index) : index_(index) {}
    std::uint8_t index_;
};

inline constexpr ModemLine ModemLine::Cts{0};
inline constexpr ModemLine ModemLine::Dsr{1};
inline constexpr ModemLine ModemLine::Dcd{2};
inline constexpr ModemLine ModemLine::Ri{3};
inline constexpr ModemLine ModemLine::Rts{4};
inline constexpr ModemLine ModemLine::Dtr{5};

// The status lines, then all six, in the order above.
inline constexpr ModemLine InputLines[] = {ModemLine::Cts, ModemLine::Dsr, ModemLine::Dcd, ModemLine::Ri};
inline constexpr ModemLine AllLines[] = {ModemLine::Cts, ModemLine::Dsr, ModemLine::Dcd,
                                         ModemLine::Ri,  ModemLine::Rts, ModemLine::Dtr};

// The comm events of all four status lines, as SetCommMask takes them.
inline constexpr std::uint32_t InputLineEvents =
    ModemLine::Cts.Event() | ModemLine::Dsr.Event() | ModemLine::Dcd.Event() | ModemLine::Ri.Event();

// A value for each of the six lines, indexed by the line itself.
template <typename T> struct PerLine {
    T values[ModemLine::Count] = {};

    T &operator[](ModemLine line) { return values[line.Index()]; }
    const T &operator[](ModemLine line) const { return values[line.Index()]; }
    T *begin() { return values; }
    T *end() { return values + ModemLine::Count; }
    const T *begin() const { return values; }
    const T *end() const { return values + ModemLine::Count; }
};

// Levels of the modem lines at one reading, true for on.
using LineLevels = PerLine<bool>;

// The six lines through a bit read such as io.dll's GetPortBit.
template <typename GetPortBit> LineLevels ReadModemLines(GetPortBit getPortBit, std::uint16_t base)
{
    LineLevels lines;
    for (const ModemLine line : AllLines)
        lines[line] = getPortBit(static_cast<std::uint16_t>(base + line.Register()), line.Bit()) != 0;
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
