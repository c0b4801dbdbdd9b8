// The poll path and the host's toggles allocate nothing: every allocation
// of this test program is counted.
#include <cstdlib>
#include <new>

#include "tests/commio/CommIoTest.h"

namespace {
long allocations = 0;
}

void *operator new(std::size_t size)
{
    ++allocations;
    if (void *block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    ++allocations;
    return std::malloc(size ? size : 1);
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, const std::nothrow_t &) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }

namespace {

TEST_F(CommIoTest, PollsAndTogglesAllocateNothing)
{
    Claimed();
    LibrarySetUp(0x3F8);
    devices.SetRecording(false); // the simulator's record allocates; the core must not
    const long before = allocations;
    for (int i = 0; i < 1000; ++i) {
        devices.SetInput("COM5", commio::ModemCts, i % 7 == 0);
        if (io.IsDriverInstalled())
            io.GetPortBit(0x3FE, 4);
        if (i % 100 == 0)
            (i % 200 ? io.ClrPortBit(0x3FC, 0) : io.SetPortBit(0x3FC, 0));
    }
    EXPECT_EQ(allocations - before, 0);
    EXPECT_EQ(devices.ModemStatusCalls(), 1000u);
}

} // namespace
