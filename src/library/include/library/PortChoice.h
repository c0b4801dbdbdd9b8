// Which device and which UART base a parameter text selects. Nothing here
// touches a port or a device, so the key tester links the same code to show
// what a start will do before it starts.
#pragma once

#include <cstdint>

#include "library/ExStrUtils.h"

namespace library {

struct ComPort {
    const char *name;
    const char *addressText;
};

// The four standard PC serial ports; row 0 is the default. The simulator
// keeps its own list of the ports it models on purpose: the tests compare
// the two, so neither may be derived from the other.
extern const ComPort ComPortTable[4];

// Where a choice came from.
enum class ChoiceSource {
    Given,       // "NAME;ADDRh": both as written
    TableRow,    // a single name that a table row holds
    NoText,      // no item at all: row 0
    UnknownName, // a single name no row holds: row 0 instead
};

struct PortChoice {
    TText portName;
    TText addressText;
    ChoiceSource source = ChoiceSource::NoText;
    TText unknownName; // the single name no row holds (UnknownName only)
    bool outOfMemory = false; // the texts couldn't be made: nothing was chosen
};

// The device name and address text that `params` selects (null reads as
// ""): "COM1".."COM4" alone pick their table row, any other single name or
// none picks row 0, and "NAME;ADDRh" is taken as given. Where memory runs
// out on the way, outOfMemory says so and the texts are to be ignored.
PortChoice ChoosePort(const char *params) noexcept;

// Address text to base: the last character is dropped unseen, the rest is
// lower-cased, padded with leading zeros to four characters and read as two
// hex pairs; bytes that decoding doesn't reach are zero. Allocates nothing.
std::uint16_t DecodeBaseAddress(const char *addressText, std::size_t size) noexcept;
inline std::uint16_t DecodeBaseAddress(const TText &addressText) noexcept
{
    return DecodeBaseAddress(addressText.Data(), addressText.Size());
}

// A UART's seven registers, base+0 to base+6, must lie in 0100h..FFFFh
// without wrapping: below 0100h are the motherboard's own ports (DMA,
// interrupt and chipset configuration), where a mistyped address must never
// send the set-up bytes.
constexpr std::uint16_t LowestUartBase = 0x0100;
constexpr std::uint16_t HighestUartBase = 0xFFF9;
constexpr bool IsUartBase(std::uint16_t base) { return base >= LowestUartBase && base <= HighestUartBase; }

} // namespace library
