// Allocation behaviour of the library, with global operator new replaced
// by a counting one that can also fail on demand (testsupport). Runs over the do-nothing
// backend, so every allocation counted is the library's own.
#include <gtest/gtest.h>

#include <string>

#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"
#include "testsupport/Allocations.h"

namespace {

using testsupport::AllocationCount;
using testsupport::FailAllocationNumber;

class Allocation : public ::testing::Test {
protected:
    void SetUp() override
    {
        library::portState = library::PortState{};
        library::Load();
        FailAllocationNumber(-1);
    }
    void TearDown() override
    {
        FailAllocationNumber(-1);
        ZelbinStopListen();
    }
};

TEST_F(Allocation, PollingAndTogglingAllocateNothing)
{
    ZelbinStartListen("COM2");
    ASSERT_TRUE(library::portState.PortOpen);
    const long before = AllocationCount();
    for (int i = 0; i < 1000; ++i) {
        ZelbinIsZBToggle();
        ZelbinSetToggled(static_cast<ZelbinBool>(i & 1));
    }
    ZelbinIsCustom();
    EXPECT_EQ(AllocationCount() - before, 0);
}

TEST_F(Allocation, StopAllocatesNothing)
{
    ZelbinStartListen("COM2");
    const long before = AllocationCount();
    ZelbinStopListen();
    EXPECT_EQ(AllocationCount() - before, 0);
}

// Memory running out at any allocation of a start leaves the library idle
// without having opened the device, never half-started or crashed.
TEST_F(Allocation, StartThatRunsOutOfMemoryStaysIdleWithoutOpeningTheDevice)
{
    const std::string params = "A device name too long for any short-string buffer;2F8h";
    long failing = 0;
    for (;; ++failing) {
        library::portState = library::PortState{};
        library::Load();
        FailAllocationNumber(AllocationCount() + failing);
        ZelbinStartListen(params.c_str());
        FailAllocationNumber(-1);
        if (library::portState.PortOpen)
            break; // no allocation failed this time: the start went through
        EXPECT_EQ(library::portState.PortHandle, nullptr) << "allocation " << failing << " failed after the device open";
    }
    EXPECT_GT(failing, 2) << "the start should allocate for the split and the address";
    EXPECT_EQ(library::portState.PortBase, 0x02F8);
}

// A start releases the port it holds first, whatever happens next: one
// that runs out of memory while it reads its parameter text leaves the
// library idle with the old device closed, not listening on the old port.
TEST_F(Allocation, AStartThatRunsOutOfMemoryStillReleasesTheHeldPort)
{
    ZelbinStartListen("COM1");
    ASSERT_TRUE(library::portState.PortOpen);
    FailAllocationNumber(AllocationCount());
    ZelbinStartListen("COM2;2F8h");
    FailAllocationNumber(-1);
    EXPECT_FALSE(library::portState.PortOpen) << "still listening on the old port";
    EXPECT_EQ(ZelbinIsZBToggle(), 0);
}

} // namespace
