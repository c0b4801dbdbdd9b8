#include "testsupport/Allocations.h"

#include <cstdlib>
#include <new>

namespace {
long allocations = 0;
long failAt = -1;
} // namespace

namespace testsupport {
long AllocationCount() { return allocations; }
void FailAllocationNumber(long number) { failAt = number; }
} // namespace testsupport

void *operator new(std::size_t size)
{
    if (allocations++ == failAt)
        throw std::bad_alloc();
    if (void *block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    if (allocations++ == failAt)
        return nullptr;
    return std::malloc(size ? size : 1);
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, const std::nothrow_t &) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }
