// The key library's own code, unchanged, over the comm-port io.dll core
// with a normally closed key on DSR whose contacts bounce: the map's
// wiring makes it read as a clean CTS key.
#include <gtest/gtest.h>

#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"
#include "commio/PortMap.h"
#include "CommioWorld.h"

namespace {

class WiredEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        NewCommioWorld();
        devices.Plug("COM5");
        Released(); // a normally closed key holds DSR up at rest
        const commio::PortMapResult map = commio::ParsePortMap("any = COM5 line=DSR invert debounce=20\n");
        ASSERT_EQ(map.error, "");
        TheCommIo().Configure(map.uarts);
        library::portState = library::PortState{};
        library::Load();
        ZelbinStartListen("COM5;3F8h");
        devices.TakeCalls();
    }
    void TearDown() override
    {
        ZelbinStopListen();
        library::Unload();
        TheCommIo().Release();
        EXPECT_EQ(devices.HandlesHeld(), 0u);
    }
    void Pressed() { devices.SetInput("COM5", uart::ModemLine::Dsr, false); }
    void Released() { devices.SetInput("COM5", uart::ModemLine::Dsr, true); }
    // Polls every `interval` ms for `ms`; the presses reported.
    int PollFor(std::uint32_t ms, std::uint32_t interval = 5)
    {
        int presses = 0;
        for (std::uint32_t t = 0; t < ms; t += interval) {
            presses += ZelbinIsZBToggle();
            devices.Advance(interval);
        }
        return presses;
    }

    sim::ComDevices &devices = TheComDevices();
};

TEST_F(WiredEndToEnd, ABouncingPressIsOnePressAndTheFirstPollSeesIt)
{
    EXPECT_EQ(PollFor(100), 0); // at rest: DSR up reads as the key open
    Pressed();
    EXPECT_EQ(ZelbinIsZBToggle(), 1); // no added latency
    int presses = 0;
    for (int bounce = 0; bounce < 3; ++bounce) { // 15 ms of bounce, within the 20 ms hold
        devices.Advance(1);
        Released();
        presses += PollFor(2, 1);
        Pressed();
        presses += PollFor(2, 1);
    }
    presses += PollFor(200);
    Released();
    for (int bounce = 0; bounce < 3; ++bounce) {
        presses += PollFor(3, 1);
        Pressed();
        presses += PollFor(3, 1);
        Released();
    }
    presses += PollFor(200);
    EXPECT_EQ(presses, 0);
}

TEST_F(WiredEndToEnd, EveryCleanPressCountsAndDtrFollowsTheToggle)
{
    PollFor(50);
    int presses = 0;
    for (int i = 0; i < 5; ++i) {
        Pressed();
        presses += PollFor(60);
        Released();
        presses += PollFor(60);
        ZelbinSetToggled(static_cast<ZelbinBool>(presses % 2));
        EXPECT_EQ(devices.Find("COM5")->dtr, presses % 2 == 1);
    }
    EXPECT_EQ(presses, 5);
    EXPECT_TRUE(devices.Find("COM5")->rts);
}

} // namespace
