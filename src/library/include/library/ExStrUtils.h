// The key library's text: counted byte strings on the heap, released when
// they go out of scope, and the splitting of the parameter text.
//
// Nothing here throws. Memory comes from the non-throwing operator new; an
// allocation that fails leaves the text or list that needed it marked
// Failed(), and whoever made it goes no further. So the library needs no
// C++ exception support at all.
#pragma once

#include <cstddef>

namespace library {

// A counted byte string: any byte, NUL included, with a NUL kept after the
// last one so that it can be handed to the device open as it is.
class TText {
public:
    TText() noexcept = default; // the empty text
    // A copy of `size` bytes; Failed() and empty where memory ran out.
    TText(const char *bytes, std::size_t size) noexcept;
    TText(TText &&other) noexcept;
    TText &operator=(TText &&other) noexcept;
    TText(const TText &) = delete;
    TText &operator=(const TText &) = delete;
    ~TText();

    const char *Data() const noexcept { return bytes_ ? bytes_ : ""; }
    std::size_t Size() const noexcept { return size_; }
    bool Failed() const noexcept { return failed_; }
    // The same bytes as the NUL-terminated `text`, no more and no fewer.
    bool Equals(const char *text) const noexcept;

private:
    char *bytes_ = nullptr;
    std::size_t size_ = 0;
    bool failed_ = false;
};

// Split's result: the items in text order, zero-based.
class TSplitArray {
public:
    TSplitArray() noexcept = default;
    TSplitArray(TSplitArray &&other) noexcept
        : items_(other.items_), count_(other.count_), capacity_(other.capacity_), failed_(other.failed_)
    {
        other.items_ = nullptr;
        other.count_ = other.capacity_ = 0;
    }
    TSplitArray &operator=(TSplitArray &&other) = delete;
    TSplitArray(const TSplitArray &) = delete;
    TSplitArray &operator=(const TSplitArray &) = delete;
    ~TSplitArray();

    std::size_t Count() const noexcept { return count_; }
    const TText &operator[](std::size_t index) const noexcept { return items_[index]; }
    TText &operator[](std::size_t index) noexcept { return items_[index]; }
    // Memory ran out while the list was made: it holds fewer items than it
    // should, and is to be thrown away.
    bool Failed() const noexcept { return failed_; }
    // Adds a copy of the bytes as the last item; false where memory ran out.
    bool Append(const char *bytes, std::size_t size) noexcept;

private:
    TText *items_ = nullptr;
    std::size_t count_ = 0, capacity_ = 0;
    bool failed_ = false;
};

// Cuts the text at every occurrence of the delimiter (exact byte
// comparison). Every delimiter closes one item, empty or not; what follows
// the last delimiter becomes an item only when it is not empty. An empty
// delimiter is never found, so it yields the whole text as one item (none
// for ""). Both are counted: they may hold any byte.
//   "a;;b" -> {"a", "", "b"}    ";x" -> {"", "x"}    "COM2;" -> {"COM2"}
// Runs in time linear in the length of the text.
TSplitArray Split(const char *text, std::size_t size, const char *delimiter, std::size_t delimiterSize) noexcept;

} // namespace library
