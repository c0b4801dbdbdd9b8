#include "commio/FixedText.h"

namespace commio::fixed_text {

bool Append(char *bytes, std::size_t capacity, std::size_t &size, std::string_view text) noexcept
{
    const std::size_t room = capacity - size;
    const std::size_t count = text.size() < room ? text.size() : room;
    for (std::size_t i = 0; i < count; ++i)
        bytes[size + i] = text[i];
    size += count;
    bytes[size] = '\0';
    return count == text.size();
}

bool AppendDecimal(char *bytes, std::size_t capacity, std::size_t &size, std::uint32_t value) noexcept
{
    char digits[10];
    std::size_t count = sizeof digits;
    do
        digits[--count] = static_cast<char>('0' + value % 10);
    while ((value /= 10) != 0);
    return Append(bytes, capacity, size, std::string_view(digits + count, sizeof digits - count));
}

bool AppendHex(char *bytes, std::size_t capacity, std::size_t &size, std::uint32_t value, std::size_t width) noexcept
{
    char digits[8];
    std::size_t count = sizeof digits;
    do
        digits[--count] = "0123456789ABCDEF"[value & 15];
    while ((value >>= 4) != 0);
    bool whole = true;
    for (std::size_t shown = sizeof digits - count; shown < width; ++shown)
        whole &= Append(bytes, capacity, size, "0");
    return Append(bytes, capacity, size, std::string_view(digits + count, sizeof digits - count)) && whole;
}

} // namespace commio::fixed_text
