// The time a quiet poll reads from the page Windows maps into every process
// is GetTickCount's, here as on Windows.
#include <windows.h>

#include <gtest/gtest.h>

#include "commio/Win32Comm.h"

namespace {

TEST(QuietTicks, AreGetTickCountsWithNoCall)
{
    commio::Win32Comm api;
    for (int sample = 0; sample < 4; ++sample) {
        const DWORD before = GetTickCount();
        const std::uint32_t quiet = api.QuietTicks();
        const DWORD after = GetTickCount();
        // One clock tick (15.6 ms on Windows) apart at the most.
        EXPECT_LE(before - 16, quiet) << sample;
        EXPECT_LE(quiet, after + 16) << sample;
        Sleep(40);
    }
}

} // namespace
