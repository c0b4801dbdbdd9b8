// When and how devices are claimed and given back.
#include "CommIoTest.h"

namespace {

TEST_F(CommIoTest, ClaimsAtTheFirstDriverCheckWithBothLinesOff)
{
    devices.Plug("COM5");
    Map("any = COM5");
    io.PortOut(0x3FC, 0x0B); // before the claim: kept in the register file
    EXPECT_EQ(Taken(), Calls{});
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c1", "SetCommState(c1, dtr off, rts off)",
                              "EscapeCommFunction(c1, SETRTS)", "EscapeCommFunction(c1, SETDTR)"}));
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), Calls{}); // held: the driver check makes no call
}

TEST_F(CommIoTest, AFormatProgrammedBeforeTheClaimFollowsIt)
{
    devices.Plug("COM5");
    Map("any = COM5");
    LibrarySetUp(0x3F8);
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c1", "SetCommState(c1, dtr off, rts off)",
                              "SetCommState(c1, 2400 8O1, dtr off, rts off)", "EscapeCommFunction(c1, SETRTS)"}));
}

TEST_F(CommIoTest, HoldsTheDeviceSoThatAnotherOpenFails)
{
    Claimed();
    commio::DeviceHandle other = nullptr;
    EXPECT_EQ(devices.Open("COM5", other), sim::ComDevices::ErrorAccessDenied);
    io.Release();
    EXPECT_EQ(devices.HandlesHeld(), 0u);
    EXPECT_EQ(devices.Opens(), devices.Closes());
    EXPECT_EQ(io.IsDriverInstalled(), 0);
    EXPECT_STREQ(io.Status(), "released: io.dll is being unloaded");
}

struct Unusable {
    const char *name;
    bool plugged, serial;
    Calls calls;
    const char *status;
};

// Named in failure messages, instead of gtest's dump of the raw bytes
// (padding included).
std::ostream &operator<<(std::ostream &os, const Unusable &u) { return os << u.name; }

class UnusableDevice : public CommIoTest, public ::testing::WithParamInterface<Unusable> {};

TEST_P(UnusableDevice, LeavesTheLibraryIdleAndSaysWhy)
{
    if (GetParam().plugged)
        devices.Plug("COM5").serial = GetParam().serial;
    Map("any = COM5");
    EXPECT_EQ(io.IsDriverInstalled(), 0);
    EXPECT_EQ(io.GetPortBit(0x3FE, 4), 0);
    io.PortOut(0x3FC, 0x03);
    EXPECT_EQ(Taken(), GetParam().calls);
    EXPECT_STREQ(io.Status(), GetParam().status);
    EXPECT_EQ(devices.HandlesHeld(), 0u);
}

const Unusable kUnusable[] = {
    {"Missing", false, true, {"CreateFile(\"\\\\.\\COM5\") fails 2"},
     "COM5 for any UART: not held, CreateFile failed (error 2); retrying"},
    {"NotASerialPort", true, false,
     {"CreateFile(\"\\\\.\\COM5\") -> c1", "GetCommState(c1) fails 1", "CloseHandle(c1)"},
     "COM5 for any UART: not held, GetCommState failed (error 1); retrying"},
};
INSTANTIATE_TEST_SUITE_P(Table, UnusableDevice, ::testing::ValuesIn(kUnusable),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(CommIoTest, WithoutAPortMapNothingIsOpened)
{
    devices.Plug("COM1");
    io.ConfigureFailed("no io-ports.txt beside io.dll");
    EXPECT_EQ(io.IsDriverInstalled(), 0);
    io.PortOut(0x3FC, 0x03);
    EXPECT_EQ(io.PortIn(0x3FC), 0xFF);
    EXPECT_EQ(Taken(), Calls{});
    EXPECT_STREQ(io.Status(), "no io-ports.txt beside io.dll");
}

TEST_F(CommIoTest, StatusNamesEachUartAndItsDevice)
{
    devices.Plug("COM5");
    Map("3F8 = COM5\nany = COM7");
    EXPECT_STREQ(io.Status(), "COM5 for 03F8h: opens at the first IsDriverInstalled; "
                              "COM7 for any UART: opens at the first IsDriverInstalled");
    EXPECT_EQ(io.IsDriverInstalled(), 1); // one of the two is enough
    EXPECT_STREQ(io.Status(), "COM5 for 03F8h: held; COM7 for any UART: not held, CreateFile failed (error 2); retrying");
}

TEST_F(CommIoTest, ARefusedRateKeepsTheDeviceAndIsReported)
{
    Claimed();
    devices.Find("COM5")->maxBaud = 19200;
    io.PortOut(0x3FB, 0x80);
    io.PortOut(0x3F8, 0x01);
    io.PortOut(0x3FB, 0x03);
    EXPECT_EQ(Taken(), Calls{"SetCommState(c1, 115200 8N1, dtr off, rts off) fails 87"});
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_STREQ(io.Status(), "COM5 for any UART: held, 115200 baud refused by SetCommState (error 87)");
}

} // namespace
