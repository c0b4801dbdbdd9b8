// A USB adapter pulled out and plugged in again while the host polls.
#include "CommIoTest.h"

namespace {

class HotPlug : public CommIoTest {
protected:
    // One poll of the key library: the driver check, then the CTS bit.
    int Poll()
    {
        if (!io.IsDriverInstalled())
            return -1;
        return io.GetPortBit(0x3FE, 4);
    }
    // Presses seen over a tap of the key, as the library counts them.
    int Tap()
    {
        int presses = 0;
        devices.SetInput("COM5", uart::ModemLine::Cts, true);
        presses += Poll() == 1;
        devices.SetInput("COM5", uart::ModemLine::Cts, false);
        presses += Poll() == 1;
        return presses;
    }
    int CreateFileCalls()
    {
        int opens = 0;
        for (const std::string &call : Taken())
            opens += call.rfind("CreateFile", 0) == 0;
        return opens;
    }
};

TEST_F(HotPlug, PressesBeforeNoneWhileOutAndAgainAfter)
{
    Claimed();
    LibrarySetUp(0x3F8);
    io.SetPortBit(0x3FC, 0); // the host's DTR on
    EXPECT_EQ(Tap(), 1);
    EXPECT_EQ(Tap(), 1);

    devices.Unplug("COM5");
    Taken();
    EXPECT_EQ(Poll(), 0); // the failing read answers 0 and gives the device up
    EXPECT_EQ(Taken(), (Calls{"GetCommModemStatus(c1) fails 22", "CloseHandle(c1)"}));
    EXPECT_EQ(Poll(), -1);
    EXPECT_EQ(io.GetPortBit(0x3FE, 4), 0);
    io.ClrPortBit(0x3FC, 0); // the host toggles while the device is out...
    io.SetPortBit(0x3FC, 0); // ...and back
    EXPECT_EQ(Taken(), Calls{}); // nothing tried before the retry interval
    EXPECT_EQ(std::string(io.Status()),
              "COM5 for any UART: not held, GetCommModemStatus failed (error 22); retrying");

    devices.Advance(500);
    EXPECT_EQ(Poll(), -1);
    EXPECT_EQ(Taken(), Calls{"CreateFile(\"\\\\.\\COM5\") fails 2"});

    devices.Plug("COM5");
    devices.Advance(499);
    EXPECT_EQ(Poll(), -1);
    devices.Advance(1);
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c2", "SetCommState(c2, 2400 8O1, dtr off, rts off)",
                              "EscapeCommFunction(c2, SETRTS)", "EscapeCommFunction(c2, SETDTR)",
                              "GetCommModemStatus(c2) -> 00"}));
    EXPECT_EQ(Tap(), 1);
    EXPECT_EQ(Tap(), 1);
    EXPECT_EQ(devices.Opens(), devices.Closes() + 1);
    EXPECT_EQ(devices.BadCloses(), 0u);
}

TEST_F(HotPlug, RetriesAtMostTwiceASecond)
{
    Claimed();
    devices.Unplug("COM5");
    Poll();
    Taken();
    for (int ms = 0; ms < 10000; ms += 10) {
        Poll();
        devices.Advance(10);
    }
    EXPECT_EQ(CreateFileCalls(), 19); // at 500, 1000, ... 9500 ms
}

TEST_F(HotPlug, AFailingLineCallAlsoGivesTheDeviceUp)
{
    Claimed();
    devices.Find("COM5")->failNext = 31; // ERROR_GEN_FAILURE
    io.PortOut(0x3FC, 0x02);
    EXPECT_EQ(Taken(), (Calls{"EscapeCommFunction(c1, SETRTS) fails 31", "CloseHandle(c1)"}));
    EXPECT_EQ(io.IsDriverInstalled(), 0);
    devices.Advance(500);
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c2", "SetCommState(c2, dtr off, rts off)",
                              "EscapeCommFunction(c2, SETRTS)"}));
}

TEST_F(HotPlug, GoneDuringTheOpenIsClosedOnce)
{
    devices.Plug("COM5");
    Map("any = COM5");
    LibrarySetUp(0x3F8); // a format and RTS to carry at the claim
    devices.Find("COM5")->failNext = 22;
    devices.Find("COM5")->failAfter = 1; // the claim works, the format fails
    EXPECT_EQ(io.IsDriverInstalled(), 0);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c1", "SetCommState(c1, dtr off, rts off)",
                              "SetCommState(c1, 2400 8O1, dtr off, rts off) fails 22", "CloseHandle(c1)"}));
    EXPECT_EQ(devices.BadCloses(), 0u);
    devices.Advance(500);
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_TRUE(devices.Find("COM5")->rts);
}

TEST_F(HotPlug, AnotherAdapterThatRefusesTheFormatIsStillClaimed)
{
    Claimed();
    LibrarySetUp(0x3F8);
    devices.Unplug("COM5");
    Poll();
    devices.Plug("COM5").maxBaud = 1200;
    devices.Advance(500);
    Taken();
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c2", "SetCommState(c2, 2400 8O1, dtr off, rts off) fails 87",
                              "SetCommState(c2, dtr off, rts off)", "SetCommState(c2, 2400 8O1, dtr off, rts off) fails 87",
                              "EscapeCommFunction(c2, SETRTS)"}));
    EXPECT_STREQ(io.Status(), "COM5 for any UART: held, 2400 baud refused by SetCommState (error 87)");
    devices.SetInput("COM5", uart::ModemLine::Cts, true);
    EXPECT_EQ(Poll(), 1);
}

TEST_F(HotPlug, ATickCountThatWrapsStillRetries)
{
    devices.Advance(0xFFFFFF00u);
    Claimed();
    devices.Unplug("COM5");
    Poll();
    devices.Plug("COM5");
    devices.Advance(0x200); // past 2^32
    EXPECT_EQ(Poll(), 0);
}

} // namespace
