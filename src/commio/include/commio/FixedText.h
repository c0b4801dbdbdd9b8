// The comm-port io.dll's text: up to a fixed number of bytes kept inside
// the object that holds them. Making, copying and joining text allocates
// nothing and so can't fail; text that doesn't fit is cut at the capacity
// and says so (Cut), which the io.dll's texts are sized never to need but
// for a status line or a folder name longer than anything it shows.
//
// Nothing here calls the C++ runtime, nor a std::string_view member that
// could throw: the io.dll links no C++ runtime.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

namespace commio {

// The work of every FixedText, whatever its capacity, in one place
// (FixedText.cpp): `bytes` holds `capacity` bytes and a NUL, of which
// `size` are used. Each appends what fits, keeps the NUL after it, and
// answers false where something was cut.
namespace fixed_text {
bool Append(char *bytes, std::size_t capacity, std::size_t &size, std::string_view text) noexcept;
bool AppendDecimal(char *bytes, std::size_t capacity, std::size_t &size, std::uint32_t value) noexcept;
bool AppendHex(char *bytes, std::size_t capacity, std::size_t &size, std::uint32_t value, std::size_t width) noexcept;
} // namespace fixed_text

template <std::size_t Capacity>
class FixedText {
public:
    static constexpr std::size_t capacity = Capacity;

    FixedText() noexcept = default;
    // From any text: a literal, a std::string_view, another FixedText (and
    // in the host tools a std::string).
    template <typename Text, typename = std::enable_if_t<std::is_convertible_v<const Text &, std::string_view>>>
    FixedText(const Text &text) noexcept
    {
        Append(std::string_view(text));
    }
    template <typename Text, typename = std::enable_if_t<std::is_convertible_v<const Text &, std::string_view>>>
    FixedText &operator=(const Text &text) noexcept
    {
        clear();
        return Append(std::string_view(text));
    }

    const char *c_str() const noexcept { return bytes_; }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::string_view view() const noexcept { return std::string_view(bytes_, size_); }
    operator std::string_view() const noexcept { return view(); }
    // Something appended did not fit, and was cut at the capacity.
    bool Cut() const noexcept { return cut_; }

    void clear() noexcept
    {
        size_ = 0;
        bytes_[0] = '\0';
        cut_ = false;
    }
    // Keeps the first `size` bytes.
    void Shorten(std::size_t size) noexcept
    {
        if (size < size_) {
            size_ = size;
            bytes_[size] = '\0';
        }
    }

    FixedText &Append(std::string_view text) noexcept
    {
        cut_ |= !fixed_text::Append(bytes_, Capacity, size_, text);
        return *this;
    }
    FixedText &Append(char c) noexcept { return Append(std::string_view(&c, 1)); }
    // In decimal, as "%u" writes it.
    FixedText &AppendDecimal(std::uint32_t value) noexcept
    {
        cut_ |= !fixed_text::AppendDecimal(bytes_, Capacity, size_, value);
        return *this;
    }
    // In upper-case hexadecimal with at least `width` digits, as "%0*X"
    // writes it.
    FixedText &AppendHex(std::uint32_t value, std::size_t width = 1) noexcept
    {
        cut_ |= !fixed_text::AppendHex(bytes_, Capacity, size_, value, width);
        return *this;
    }

    template <std::size_t Other>
    friend bool operator==(const FixedText &a, const FixedText<Other> &b) noexcept { return a.view() == b.view(); }
    template <std::size_t Other>
    friend bool operator!=(const FixedText &a, const FixedText<Other> &b) noexcept { return !(a.view() == b.view()); }
    friend bool operator==(const FixedText &a, std::string_view b) noexcept { return a.view() == b; }
    friend bool operator==(std::string_view a, const FixedText &b) noexcept { return a == b.view(); }
    friend bool operator!=(const FixedText &a, std::string_view b) noexcept { return !(a == b); }
    friend bool operator!=(std::string_view a, const FixedText &b) noexcept { return !(a == b); }

private:
    char bytes_[Capacity + 1] = {};
    std::size_t size_ = 0;
    bool cut_ = false;
};

// Written to a stream as its text, in the host tools and tests; the io.dll
// has no streams.
template <typename Stream, std::size_t Capacity>
auto operator<<(Stream &stream, const FixedText<Capacity> &text) -> decltype(stream << text.view())
{
    return stream << text.view();
}

} // namespace commio
