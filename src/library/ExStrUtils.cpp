#include "library/ExStrUtils.h"

#include <cstring>
#include <new>

namespace library {

namespace {

// Null where memory ran out. The non-throwing form, named with a temporary
// tag: nothing of the C++ runtime is needed for it.
void *Allocate(std::size_t size) noexcept { return ::operator new(size, std::nothrow_t{}); }
void Release(void *block) noexcept { ::operator delete(block); }

} // namespace

// ---- TText --------------------------------------------------------------------

TText::TText(const char *bytes, std::size_t size) noexcept
{
    if (size == 0)
        return; // the empty text needs no memory: Data() answers ""
    auto *copy = static_cast<char *>(Allocate(size + 1));
    if (!copy) {
        failed_ = true;
        return;
    }
    if (size)
        std::memcpy(copy, bytes, size);
    copy[size] = '\0';
    bytes_ = copy;
    size_ = size;
}

TText::TText(TText &&other) noexcept : bytes_(other.bytes_), size_(other.size_), failed_(other.failed_)
{
    other.bytes_ = nullptr;
    other.size_ = 0;
    other.failed_ = false;
}

TText &TText::operator=(TText &&other) noexcept
{
    if (this != &other) {
        Release(bytes_);
        bytes_ = other.bytes_;
        size_ = other.size_;
        failed_ = other.failed_;
        other.bytes_ = nullptr;
        other.size_ = 0;
        other.failed_ = false;
    }
    return *this;
}

TText::~TText() { Release(bytes_); }

bool TText::Equals(const char *text) const noexcept
{
    const std::size_t length = std::strlen(text);
    return length == size_ && std::memcmp(Data(), text, length) == 0;
}

// ---- TSplitArray ------------------------------------------------------------------

TSplitArray::~TSplitArray()
{
    for (std::size_t i = 0; i < count_; ++i)
        items_[i].~TText();
    Release(items_);
}

bool TSplitArray::Append(const char *bytes, std::size_t size) noexcept
{
    if (failed_)
        return false;
    if (count_ == capacity_) {
        // Doubling: a text of N delimiters costs O(N) moves in all.
        const std::size_t capacity = capacity_ ? 2 * capacity_ : 2;
        auto *items = capacity <= static_cast<std::size_t>(-1) / sizeof(TText)
                          ? static_cast<TText *>(Allocate(capacity * sizeof(TText)))
                          : nullptr;
        if (!items) {
            failed_ = true;
            return false;
        }
        for (std::size_t i = 0; i < count_; ++i) {
            new (&items[i]) TText(static_cast<TText &&>(items_[i]));
            items_[i].~TText();
        }
        Release(items_);
        items_ = items;
        capacity_ = capacity;
    }
    new (&items_[count_]) TText(bytes, size);
    if (items_[count_].Failed()) {
        items_[count_].~TText();
        failed_ = true;
        return false;
    }
    ++count_;
    return true;
}

// ---- Split ------------------------------------------------------------------------

TSplitArray Split(const char *text, std::size_t size, const char *delimiter, std::size_t delimiterSize) noexcept
{
    TSplitArray items;
    // One pass: each search starts just after the previous delimiter, so the
    // text is read once and a long run of delimiters costs linear time.
    std::size_t from = 0;
    if (delimiterSize != 0 && delimiterSize <= size) {
        const std::size_t last = size - delimiterSize; // the last place a delimiter can begin
        for (std::size_t at = from; at <= last;) {
            const void *first = std::memchr(text + at, static_cast<unsigned char>(delimiter[0]), last - at + 1);
            if (!first)
                break;
            at = static_cast<std::size_t>(static_cast<const char *>(first) - text);
            if (std::memcmp(text + at, delimiter, delimiterSize) != 0) {
                ++at;
                continue;
            }
            if (!items.Append(text + from, at - from))
                return items;
            from = at = at + delimiterSize;
        }
    }
    if (from < size)
        items.Append(text + from, size - from);
    return items;
}

} // namespace library
