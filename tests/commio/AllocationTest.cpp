// The poll path and the host's toggles allocate nothing: every allocation
// of this test program is counted.
#include "CommIoTest.h"
#include "testsupport/Allocations.h"

namespace {

TEST_F(CommIoTest, PollsAndTogglesAllocateNothing)
{
    Claimed();
    LibrarySetUp(0x3F8);
    devices.SetRecording(false); // the simulator's record allocates; the core must not
    const long before = testsupport::AllocationCount();
    for (int i = 0; i < 1000; ++i) {
        devices.SetInput("COM5", uart::ModemLine::Cts, i % 7 == 0);
        if (io.IsDriverInstalled())
            io.GetPortBit(0x3FE, 4);
        if (i % 100 == 0)
            (i % 200 ? io.ClrPortBit(0x3FC, 0) : io.SetPortBit(0x3FC, 0));
    }
    EXPECT_EQ(testsupport::AllocationCount() - before, 0);
    EXPECT_EQ(devices.ModemStatusCalls(), 1000u);
}

} // namespace
