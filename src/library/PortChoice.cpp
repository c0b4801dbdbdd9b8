#include "library/PortChoice.h"

#include <cstring>

namespace library {

namespace {

// Hex digit values for the characters '0' (0x30) to 'f' (0x66); -1 marks the
// characters in that range that are not hexadecimal digits.
constexpr int HexTableFirst = 0x30;
constexpr int HexTableLast = 0x66;
const std::int16_t HexDigitTable[HexTableLast - HexTableFirst + 1] = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  9,                              // '0'..'9'
    -1, -1, -1, -1, -1, -1, -1,                                         // ':'..'@'
    10, 11, 12, 13, 14, 15,                                             // 'A'..'F'
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, // 'G'..'W'
    -1, -1, -1, -1, -1, -1, -1, -1, -1,                                 // 'X'..'`'
    10, 11, 12, 13, 14, 15,                                             // 'a'..'f'
};

// A copy of `size` bytes into `lower`, in which only the ASCII capitals
// 'A'..'Z' are lowered.
void AsciiLowerCase(const char *text, std::size_t size, char *lower)
{
    for (std::size_t i = 0; i < size; ++i) {
        const char c = text[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c;
    }
}

// Decodes pairs of characters from a NUL-terminated text into at most
// `maxBytes` bytes and returns how many it wrote. Only characters '0'..'f'
// (0x30..0x66) take part; those in that range that are not hex digits count
// as -1 (":8" gives 0xF8). Stops at the first pair with a character outside
// the range, so it never reads past the NUL.
int DecodeHexPairs(const char *text, std::uint8_t *buffer, int maxBytes)
{
    auto inRange = [](char c) {
        auto code = static_cast<unsigned char>(c);
        return code >= HexTableFirst && code <= HexTableLast;
    };
    int written = 0;
    // A NUL fails the range test, so the second character is only read when
    // the first one was in range.
    while (written < maxBytes && inRange(text[0]) && inRange(text[1])) {
        int value = 16 * HexDigitTable[static_cast<unsigned char>(text[0]) - HexTableFirst] +
                    HexDigitTable[static_cast<unsigned char>(text[1]) - HexTableFirst];
        buffer[written++] = static_cast<std::uint8_t>(value & 0xFF);
        text += 2;
    }
    return written;
}

} // namespace

const ComPort ComPortTable[4] = {
    {"COM1", "3F8h"},
    {"COM2", "2F8h"},
    {"COM3", "3E8h"},
    {"COM4", "2E8h"},
};

namespace {

TText CopyOf(const char *text) { return TText(text, std::strlen(text)); }

// Both texts of a table row.
void TakeRow(PortChoice &choice, const ComPort &row, ChoiceSource source)
{
    choice.portName = CopyOf(row.name);
    choice.addressText = CopyOf(row.addressText);
    choice.source = source;
}

// The first row whose port name is the text exactly (case matters, no
// trimming), or null.
const ComPort *RowNamed(const TText &name)
{
    for (const ComPort &row : ComPortTable)
        if (name.Equals(row.name))
            return &row;
    return nullptr;
}

} // namespace

PortChoice ChoosePort(const char *params) noexcept
{
    PortChoice choice;
    const char *text = params ? params : "";
    TSplitArray items = Split(text, std::strlen(text), ";", 1);
    if (items.Failed()) {
        choice.outOfMemory = true;
        return choice;
    }
    if (items.Count() >= 2) { // items past the second are never looked at
        choice.portName = static_cast<TText &&>(items[0]);
        choice.addressText = static_cast<TText &&>(items[1]);
        choice.source = ChoiceSource::Given;
    } else if (items.Count() == 1) {
        if (const ComPort *row = RowNamed(items[0])) {
            TakeRow(choice, *row, ChoiceSource::TableRow);
        } else {
            TakeRow(choice, ComPortTable[0], ChoiceSource::UnknownName);
            choice.unknownName = static_cast<TText &&>(items[0]);
        }
    } else {
        TakeRow(choice, ComPortTable[0], ChoiceSource::NoText);
    }
    choice.outOfMemory = choice.portName.Failed() || choice.addressText.Failed();
    return choice;
}

std::uint16_t DecodeBaseAddress(const char *addressText, std::size_t size) noexcept
{
    // The text without its suffix, lower-cased and padded with zeros in
    // front to four characters. Decoding reads two pairs at the most, so of
    // a longer text only the first four characters are taken.
    const std::size_t kept = size == 0 ? 0 : size - 1;
    char digits[5] = {'0', '0', '0', '0', '\0'};
    if (kept < 4)
        AsciiLowerCase(addressText, kept, digits + (4 - kept));
    else
        AsciiLowerCase(addressText, 4, digits);
    // Bytes that decoding stops short of stay zero: "0x3F8h" gives 0x0000 and
    // "12x4h" gives 0x1200.
    std::uint8_t base[2] = {0, 0};
    DecodeHexPairs(digits, base, 2);
    return static_cast<std::uint16_t>(base[0] * 256 + base[1]);
}

} // namespace library
