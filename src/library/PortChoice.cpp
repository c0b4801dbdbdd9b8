#include "library/PortChoice.h"

#include <utility>

#include "library/ExStrUtils.h"

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

// A copy in which only the ASCII capitals 'A'..'Z' are lowered.
std::string AsciiLowerCase(const std::string &text)
{
    std::string lower(text);
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    return lower;
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

PortChoice ChoosePort(const char *params)
{
    TSplitArray items = Split(params ? params : "", ";");
    if (items.size() >= 2) // items past the second are never looked at
        return {std::move(items[0]), std::move(items[1]), ChoiceSource::Given, {}};
    if (items.size() == 1) {
        for (const ComPort &row : ComPortTable)
            if (items[0] == row.name)
                return {row.name, row.addressText, ChoiceSource::TableRow, {}};
        return {ComPortTable[0].name, ComPortTable[0].addressText, ChoiceSource::UnknownName, std::move(items[0])};
    }
    return {ComPortTable[0].name, ComPortTable[0].addressText, ChoiceSource::NoText, {}};
}

std::uint16_t DecodeBaseAddress(const std::string &addressText)
{
    std::string digits = AsciiLowerCase(addressText.substr(0, addressText.empty() ? 0 : addressText.size() - 1));
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), '0');
    // Bytes that decoding stops short of stay zero: "0x3F8h" gives 0x0000 and
    // "12x4h" gives 0x1200.
    std::uint8_t base[2] = {0, 0};
    DecodeHexPairs(digits.c_str(), base, 2);
    return static_cast<std::uint16_t>(base[0] * 256 + base[1]);
}

} // namespace library
