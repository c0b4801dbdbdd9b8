// The key library's own code over the comm-port io.dll core and a simulated
// COM device: the way a host on a PC without a legacy UART uses it.
#include <gtest/gtest.h>

#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"
#include "commio/PortMap.h"
#include "CommioWorld.h"

namespace {

using Calls = std::vector<std::string>;

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        NewCommioWorld();
        devices.Plug("COM5");
        io().Configure(commio::ParsePortMap("any = COM5").uarts);
        library::portState = library::PortState{};
        library::Load();
    }
    void TearDown() override
    {
        ZelbinStopListen();
        library::Unload();
        io().Release();
        EXPECT_EQ(devices.HandlesHeld(), 0u);
        EXPECT_EQ(devices.BadCloses(), 0u);
    }
    static commio::CommIo &io() { return TheCommIo(); }
    void Key(bool down) { devices.SetInput("COM5", uart::ModemLine::Cts, down); }
    // Polls `n` times; the presses reported, and one modem status call each.
    int Polls(int n)
    {
        const std::uint64_t before = devices.ModemStatusCalls();
        int presses = 0;
        for (int i = 0; i < n; ++i)
            presses += ZelbinIsZBToggle();
        EXPECT_EQ(devices.ModemStatusCalls() - before, static_cast<std::uint64_t>(library::portState.PortOpen ? n : 0));
        return presses;
    }

    sim::ComDevices &devices = TheComDevices();
};

TEST_F(EndToEnd, StartClaimsTheDeviceFirstAndSetsTheLineUp)
{
    ZelbinStartListen("COM5;3F8h");
    EXPECT_EQ(devices.TakeCalls(),
              (Calls{"CreateFile(\"\\\\.\\COM5\") -> c1", "SetCommState(c1, dtr off, rts off)",
                     "CreateFile(\"COM5\") fails 5", // the library's own open: held already, ignored by design
                     "SetCommState(c1, 2400 8O1, dtr off, rts off)", "EscapeCommFunction(c1, SETRTS)"}));
    EXPECT_TRUE(devices.Find("COM5")->rts);
    EXPECT_FALSE(devices.Find("COM5")->dtr);
}

TEST_F(EndToEnd, APressIsReportedOnceAndDtrFollowsTheToggle)
{
    ZelbinStartListen("COM5;3F8h");
    EXPECT_EQ(Polls(3), 0);
    Key(true);
    EXPECT_EQ(Polls(5), 1);
    Key(false);
    EXPECT_EQ(Polls(5), 0);
    Key(true);
    EXPECT_EQ(Polls(1), 1);

    ZelbinSetToggled(1);
    EXPECT_TRUE(devices.Find("COM5")->dtr);
    EXPECT_TRUE(devices.Find("COM5")->rts);
    ZelbinSetToggled(0);
    EXPECT_FALSE(devices.Find("COM5")->dtr);
    EXPECT_TRUE(devices.Find("COM5")->rts);
}

TEST_F(EndToEnd, PressesStopWhileTheAdapterIsOutAndComeBackWithIt)
{
    ZelbinStartListen("COM5;3F8h");
    ZelbinSetToggled(1);
    Key(true);
    EXPECT_EQ(Polls(2), 1);
    Key(false);
    EXPECT_EQ(Polls(2), 0);

    devices.Unplug("COM5");
    int presses = 0;
    for (int ms = 0; ms < 2000; ms += 10) {
        presses += ZelbinIsZBToggle();
        devices.Advance(10);
    }
    EXPECT_EQ(presses, 0);

    devices.Plug("COM5");
    devices.Advance(500);
    EXPECT_EQ(Polls(1), 0); // reopened by the driver check; the key is up
    EXPECT_TRUE(devices.Find("COM5")->rts);
    EXPECT_TRUE(devices.Find("COM5")->dtr); // as the host last set it
    EXPECT_EQ(devices.Find("COM5")->settings.BaudRate, 2400u);
    Key(true);
    EXPECT_EQ(Polls(3), 1);
}

TEST_F(EndToEnd, StoppingKeepsTheDeviceHeldUntilUnload)
{
    ZelbinStartListen("COM5;3F8h");
    devices.TakeCalls();
    ZelbinStopListen();
    EXPECT_EQ(devices.TakeCalls(), Calls{"CloseHandle(INVALID_HANDLE_VALUE)"});
    EXPECT_EQ(devices.HandlesHeld(), 1u);
    io().Release();
    EXPECT_EQ(devices.TakeCalls(), Calls{"CloseHandle(c1)"});
}

} // namespace
