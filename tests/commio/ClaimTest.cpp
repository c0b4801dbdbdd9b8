// When and how devices are claimed and given back; an adapter named by its
// USB identity found through the port list, up to the top of the COM range;
// the key line's name in the status text.
#include <string>

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

// ---- Adapters found through the port list -------------------------------------

const char *const kAdapter = "USB\\VID_0403&PID_6001\\A1B2C3";
const char *const kNotCarried = "usb=0403:6001:A1B2C3 (no port carries it) for any UART: not held; retrying";

struct Listed {
    const char *name;
    const char *map;
    std::vector<std::pair<const char *, const char *>> ports; // PortName, instance ID ("": not listed)
    const char *held;                                          // the device held, or null
    const char *status;
};

std::ostream &operator<<(std::ostream &os, const Listed &l) { return os << l.name; }

class ListedAdapter : public CommIoTest, public ::testing::WithParamInterface<Listed> {};

TEST_P(ListedAdapter, IsHeldOnlyOnAPortItCanBe)
{
    for (const auto &port : GetParam().ports)
        if (*port.second)
            devices.PlugAdapter(port.first, port.second);
        else
            devices.Plug(port.first); // not listed
    Map(GetParam().map);
    EXPECT_EQ(io.IsDriverInstalled(), GetParam().held ? 1 : 0);
    for (const auto &port : GetParam().ports)
        EXPECT_EQ(devices.Find(port.first)->held, GetParam().held && std::string(GetParam().held) == port.first)
            << port.first;
    EXPECT_STREQ(io.Status(), GetParam().status);
}

const Listed kListed[] = {
    {"OnCom9", "any = usb=0403:6001:A1B2C3", {{"COM9", kAdapter}}, "COM9",
     "usb=0403:6001:A1B2C3 on COM9 for any UART: held"},
    {"OnCom256", "any = usb=0403:6001:A1B2C3", {{"COM256", kAdapter}}, "COM256",
     "usb=0403:6001:A1B2C3 on COM256 for any UART: held"},
    {"OnCom257", "any = usb=0403:6001:A1B2C3", {{"COM257", kAdapter}}, nullptr, kNotCarried},
    {"OnCom1000", "any = usb=0403:6001:A1B2C3", {{"COM1000", kAdapter}}, nullptr, kNotCarried},
    {"OnCom05", "any = usb=0403:6001:A1B2C3", {{"COM05", kAdapter}}, nullptr, kNotCarried},
    {"OnCom0", "any = usb=0403:6001:A1B2C3", {{"COM0", kAdapter}}, nullptr, kNotCarried},
    {"OnAPortWithoutANumber", "any = usb=0403:6001:A1B2C3", {{"COM", kAdapter}}, nullptr, kNotCarried},
    {"OnAPrinterPort", "any = usb=0403:6001:A1B2C3", {{"LPT1", kAdapter}}, nullptr, kNotCarried},
    {"BesideAnotherWhoseSerialItBegins", "any = usb=0403:6001:A1B2C3",
     {{"COM5", "USB\\VID_0403&PID_6001\\A1B2C34"}, {"COM6", kAdapter}}, "COM6",
     "usb=0403:6001:A1B2C3 on COM6 for any UART: held"},
    {"ALongerSerialIsAnotherAdapter", "any = usb=0403:6001:A1B2C34", {{"COM6", kAdapter}}, nullptr,
     "usb=0403:6001:A1B2C34 (no port carries it) for any UART: not held; retrying"},
    {"OnePortOfATwoPortAdapter", "any = usb=0403:6001:A1B2C3B",
     {{"COM5", "SERIALBUS\\VID_0403+PID_6001+A1B2C3A\\0000"}, {"COM6", "SERIALBUS\\VID_0403+PID_6001+A1B2C3B\\0000"}},
     "COM6", "usb=0403:6001:A1B2C3B on COM6 for any UART: held"},
    {"ComNameBesideIsNotAmongSeveral", "any = usb=0403:6001 COM7",
     {{"COM5", kAdapter}, {"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}, {"COM7", "USB\\VID_2341&PID_0043\\99"}}, nullptr,
     "usb=0403:6001 (2 ports carry it: give its serial number) for any UART: not held; retrying"},
    {"ComNameBesideIsAPrefixOfAnother", "any = usb=0403:6001:A1B2C3 COM5",
     {{"COM5", ""}, {"COM56", "USB\\VID_2341&PID_0043\\99"}}, "COM5",
     "usb=0403:6001:A1B2C3 (no port carries it, so COM5) for any UART: held"},
    // The COM name beside listed before the other ports: what is found there still counts.
    {"ComNameBesideIsFirstAmongSeveral", "any = usb=0403:6001 COM5",
     {{"COM5", kAdapter}, {"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}}, "COM5",
     "usb=0403:6001 (2 ports carry it: give its serial number, so COM5) for any UART: held"},
    {"ComNameBesideIsAnotherDeviceListedFirst", "any = usb=0403:6001:A1B2C3 COM5",
     {{"COM5", "USB\\VID_2341&PID_0043\\99"}, {"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}}, nullptr,
     "usb=0403:6001:A1B2C3 (no port carries it; COM5 is another device) for any UART: not held; retrying"},
};
INSTANTIATE_TEST_SUITE_P(Table, ListedAdapter, ::testing::ValuesIn(kListed),
                         [](const auto &row) { return std::string(row.param.name); });

// More ports than the count holds: still several, never none.
TEST_F(CommIoTest, TwoHundredAndFiftySixPortsCarryingTheAdapterAreSeveral)
{
    for (int n = 1; n <= 256; ++n)
        devices.PlugAdapter("COM" + std::to_string(n), "USB\\VID_0403&PID_6001\\S" + std::to_string(n));
    devices.SetRecording(false);
    Map("any = usb=0403:6001");
    EXPECT_EQ(io.IsDriverInstalled(), 0);
    EXPECT_STREQ(io.Status(),
                 "usb=0403:6001 (255 ports carry it: give its serial number) for any UART: not held; retrying");
}

// ---- The key line's name in the status text -----------------------------------

struct Named {
    const char *name;
    const char *map;
    const char *status;
};

std::ostream &operator<<(std::ostream &os, const Named &n) { return os << n.name; }

class KeyLineInTheStatus : public CommIoTest, public ::testing::WithParamInterface<Named> {};

TEST_P(KeyLineInTheStatus, IsNamedWithItsWiring)
{
    Map(GetParam().map);
    EXPECT_STREQ(io.Status(), GetParam().status);
}

const Named kNamed[] = {
    {"Dsr", "any = COM5 line=DSR", "COM5 for any UART (key line DSR): opens at the first IsDriverInstalled"},
    {"Dcd", "3F8 = COM5 line=DCD", "COM5 for 03F8h (key line DCD): opens at the first IsDriverInstalled"},
    {"Ri", "any = COM5 line=RI", "COM5 for any UART (key line RI): opens at the first IsDriverInstalled"},
    {"CtsInverted", "any = COM5 invert", "COM5 for any UART (key line CTS inverted): opens at the first IsDriverInstalled"},
    {"CtsDebounced", "any = COM5 debounce=250",
     "COM5 for any UART (key line CTS, debounce 250 ms): opens at the first IsDriverInstalled"},
    {"RiInvertedDebounced", "any = COM5 line=RI invert debounce=1",
     "COM5 for any UART (key line RI inverted, debounce 1 ms): opens at the first IsDriverInstalled"},
    {"PlainCtsSaysNothing", "any = COM5 line=CTS debounce=0", "COM5 for any UART: opens at the first IsDriverInstalled"},
};
INSTANTIATE_TEST_SUITE_P(Table, KeyLineInTheStatus, ::testing::ValuesIn(kNamed),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace
