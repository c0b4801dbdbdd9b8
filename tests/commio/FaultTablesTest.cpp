// The comm-port io.dll's behaviour at the edges where a small slip in the
// code would still look right in the everyday case: one table per area.
#include "CommIoTest.h"

#include <cstring>

namespace {

// A story told to the io.dll after the claim of COM5 for any UART, and the
// calls and status text it must end in.
class Story : public CommIoTest {
public:
    void Format(std::uint16_t divisor, std::uint8_t lcr)
    {
        io.PortOut(0x3FB, 0x80);
        io.PortOut(0x3F8, static_cast<std::uint8_t>(divisor));
        io.PortOut(0x3F9, static_cast<std::uint8_t>(divisor >> 8));
        io.PortOut(0x3FB, lcr);
    }
    void LoseCom5() // pulled out and noticed by the next read
    {
        devices.Unplug("COM5");
        io.GetPortBit(0x3FE, 4);
    }
    void BackAfterTheRetry()
    {
        devices.Plug("COM5");
        devices.Advance(commio::CommIo::RetryIntervalMs);
        io.IsDriverInstalled();
    }
    using CommIoTest::Claimed;
    using CommIoTest::LibrarySetUp;
    using CommIoTest::devices;
    using CommIoTest::io;
};

struct StoryCase {
    const char *name;
    void (*tell)(Story &);
    Calls calls;
    const char *status;
};

std::ostream &operator<<(std::ostream &os, const StoryCase &s) { return os << s.name; }

class Stories : public Story, public ::testing::WithParamInterface<StoryCase> {};

TEST_P(Stories, EndInTheseCallsAndThisStatus)
{
    Claimed();
    GetParam().tell(*this);
    EXPECT_EQ(Taken(), GetParam().calls);
    EXPECT_STREQ(io.Status(), GetParam().status);
    EXPECT_EQ(devices.BadCloses(), 0u);
}

const char *const kHeld = "COM5 for any UART: held";
const std::string kReopen = "CreateFile(\"\\\\.\\COM5\") -> c2";

// The line format request: which of DTR and RTS it carries, what happens
// to a format asked for while the device is out, and what an accepted
// format does to an earlier refusal.
const StoryCase kFormats[] = {
    {"CarriesDtrAlone", [](Story &s) { s.io.PortOut(0x3FC, 0x01); s.Format(1, 0x03); },
     {"EscapeCommFunction(c1, SETDTR)", "SetCommState(c1, 115200 8N1, dtr on, rts off)"}, kHeld},
    {"CarriesRtsAlone", [](Story &s) { s.io.PortOut(0x3FC, 0x02); s.Format(1, 0x03); },
     {"EscapeCommFunction(c1, SETRTS)", "SetCommState(c1, 115200 8N1, dtr off, rts on)"}, kHeld},
    {"ChangedWhileOutIsSentAtTheReopen",
     [](Story &s) {
         s.LibrarySetUp(0x3F8);
         s.LoseCom5();
         s.Format(12, 0x03);
         s.BackAfterTheRetry();
     },
     {"SetCommState(c1, 2400 8O1, dtr off, rts off)", "EscapeCommFunction(c1, SETRTS)",
      "GetCommModemStatus(c1) fails 22", "CloseHandle(c1)", kReopen, "SetCommState(c2, 2400 8O1, dtr off, rts off)",
      "SetCommState(c2, 9600 8N1, dtr off, rts off)", "EscapeCommFunction(c2, SETRTS)"},
     kHeld},
    {"AcceptedClearsAnEarlierRefusal",
     [](Story &s) {
         s.devices.Find("COM5")->maxBaud = 19200;
         s.Format(1, 0x03);
         s.Format(6, 0x03);
     },
     {"SetCommState(c1, 115200 8N1, dtr off, rts off) fails 87", "SetCommState(c1, 19200 8N1, dtr off, rts off)"},
     kHeld},
    {"RefusedIsAskedAgainAtTheReopen",
     [](Story &s) {
         s.devices.Find("COM5")->maxBaud = 19200;
         s.Format(1, 0x03);
         s.LoseCom5();
         s.BackAfterTheRetry();
     },
     {"SetCommState(c1, 115200 8N1, dtr off, rts off) fails 87", "GetCommModemStatus(c1) fails 22", "CloseHandle(c1)",
      kReopen, "SetCommState(c2, dtr off, rts off)", "SetCommState(c2, 115200 8N1, dtr off, rts off) fails 87"},
     "COM5 for any UART: held, 115200 baud refused by SetCommState (error 87)"},
};
INSTANTIATE_TEST_SUITE_P(LineFormat, Stories, ::testing::ValuesIn(kFormats),
                         [](const auto &row) { return std::string(row.param.name); });

// Line and bit writes: a failing escape call, bits already as asked, bit
// numbers past the register.
const StoryCase kWrites[] = {
    {"FailingDtrEscapeLosesTheDeviceAndTheReopenCarriesDtr",
     [](Story &s) {
         s.devices.Find("COM5")->failNext = 31;
         s.io.SetPortBit(0x3FC, 0);
         EXPECT_EQ(s.io.IsDriverInstalled(), 0);
         s.devices.Advance(commio::CommIo::RetryIntervalMs);
         EXPECT_EQ(s.io.IsDriverInstalled(), 1);
     },
     {"EscapeCommFunction(c1, SETDTR) fails 31", "CloseHandle(c1)", kReopen, "SetCommState(c2, dtr off, rts off)",
      "EscapeCommFunction(c2, SETDTR)"},
     kHeld},
    {"FailingRtsEscapeAfterDtr",
     [](Story &s) {
         s.io.PortOut(0x3FC, 0x01);
         s.devices.Find("COM5")->failNext = 1167;
         s.io.PortOut(0x3FC, 0x03);
     },
     {"EscapeCommFunction(c1, SETDTR)", "EscapeCommFunction(c1, SETRTS) fails 1167", "CloseHandle(c1)"},
     "COM5 for any UART: not held, EscapeCommFunction failed (error 1167); retrying"},
    {"ClearingClearBitsChangesNothing",
     [](Story &s) {
         s.io.ClrPortBit(0x3FC, 0);
         s.io.ClrPortBit(0x3FC, 1);
         EXPECT_EQ(s.io.RegistersAt(0x3FC)->mcr, 0x00);
     },
     {}, kHeld},
    {"SettingSetBitsChangesNothing",
     [](Story &s) {
         s.io.PortOut(0x3FC, 0x03);
         s.io.SetPortBit(0x3FC, 0);
         s.io.SetPortBit(0x3FC, 1);
         EXPECT_EQ(s.io.RegistersAt(0x3FC)->mcr, 0x03);
     },
     {"EscapeCommFunction(c1, SETRTS)", "EscapeCommFunction(c1, SETDTR)"}, kHeld},
    {"BitNumbersPastSevenChangeNothing",
     [](Story &s) {
         s.io.PortOut(0x3FC, 0x01);
         s.io.PortOut(0x3FF, 0x5A);
         for (const int number : {8, 9, 12, 15, 16, 31, 32, 63, 64, 128, 255}) {
             const auto bit = static_cast<std::uint8_t>(number);
             s.io.ClrPortBit(0x3FC, bit);
             s.io.SetPortBit(0x3FC, bit);
             s.io.ClrPortBit(0x3FF, bit);
             s.io.SetPortBit(0x3FF, bit);
             EXPECT_EQ(s.io.GetPortBit(0x3FE, bit), 0) << int(bit);
             EXPECT_EQ(s.io.GetPortBit(0x3FF, bit), 0) << int(bit);
         }
         EXPECT_EQ(s.io.RegistersAt(0x3FC)->mcr, 0x01);
         EXPECT_EQ(s.io.PortIn(0x3FF), 0x5A);
     },
     {"EscapeCommFunction(c1, SETDTR)"}, kHeld},
};
INSTANTIATE_TEST_SUITE_P(Writes, Stories, ::testing::ValuesIn(kWrites),
                         [](const auto &row) { return std::string(row.param.name); });

// Reads: the modem status deltas, reads while the device is lost, and
// loopback together with the poll's short way to the device.
const StoryCase kReads[] = {
    {"DeltasLatchedInsideClearOnTheDeviceRead",
     [](Story &s) {
         s.io.PortOut(0x3FC, 0x10); // loopback, all off
         s.io.PortOut(0x3FC, 0x12); // RTS loops to CTS: a delta
         s.io.PortOut(0x3FC, 0x00); // out of loopback: CTS back to the device's, another
         EXPECT_EQ(s.io.PortIn(0x3FE), 0x01);
         EXPECT_EQ(s.io.PortIn(0x3FE), 0x00);
         EXPECT_EQ(s.io.GetPortBit(0x3FE, 0), 0);
     },
     Calls(3, "GetCommModemStatus(c1) -> 00"), kHeld},
    {"PollsKeepTheLevelsTheNextReadComparesWith",
     [](Story &s) {
         s.devices.SetInput("COM5", uart::ModemLine::Cts, true);
         EXPECT_EQ(s.io.GetPortBit(0x3FE, 4), 1);
         s.devices.SetInput("COM5", uart::ModemLine::Cts, false);
         EXPECT_EQ(s.io.GetPortBit(0x3FE, 4), 0); // the short way
         EXPECT_EQ(s.io.PortIn(0x3FE), 0x00);
     },
     {"GetCommModemStatus(c1) -> 10", "GetCommModemStatus(c1) -> 00", "GetCommModemStatus(c1) -> 00"}, kHeld},
    {"EveryRegisterReadsZeroWhileLost",
     [](Story &s) {
         s.io.PortOut(0x3FF, 0x5A);
         s.io.PortOut(0x3FC, 0x0B);
         s.LoseCom5();
         s.devices.TakeCalls();
         for (std::uint16_t port = 0x3F8; port < 0x400; ++port) {
             EXPECT_EQ(s.io.PortIn(port), 0) << port;
             EXPECT_EQ(s.io.GetPortBit(port, 4), 0) << port;
         }
     },
     {}, "COM5 for any UART: not held, GetCommModemStatus failed (error 22); retrying"},
    {"LoopbackAfterThePollsShortWayStaysInside",
     [](Story &s) {
         EXPECT_EQ(s.io.GetPortBit(0x3FE, 4), 0);
         EXPECT_EQ(s.io.GetPortBit(0x3FE, 4), 0); // the short way from now on
         s.io.SetPortBit(0x3FC, 4);               // loopback...
         s.io.SetPortBit(0x3FC, 1);               // ...RTS to CTS
         EXPECT_EQ(s.io.GetPortBit(0x3FE, 4), 1);
         EXPECT_EQ(s.io.GetPortBit(0x3FE, 4), 1);
         s.io.ClrPortBit(0x3FC, 4); // the device's lines again
         EXPECT_EQ(s.io.GetPortBit(0x3FE, 4), 0);
         EXPECT_EQ(s.io.GetPortBit(0x3FE, 4), 0);
     },
     {"GetCommModemStatus(c1) -> 00", "GetCommModemStatus(c1) -> 00", "EscapeCommFunction(c1, SETRTS)",
      "GetCommModemStatus(c1) -> 00", "GetCommModemStatus(c1) -> 00"},
     kHeld},
};
INSTANTIATE_TEST_SUITE_P(Reads, Stories, ::testing::ValuesIn(kReads),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(CommIoTest, UnmappedPortsAnswerEveryBitOfFFh)
{
    Claimed("3F8 = COM5");
    std::string answers, expected;
    for (unsigned bit = 0; bit < 256; ++bit) {
        answers += std::to_string(io.GetPortBit(0x2FE, static_cast<std::uint8_t>(bit)));
        answers += std::to_string(io.GetPortBit(0x400, static_cast<std::uint8_t>(bit)));
        expected += bit <= 7 ? "11" : "00";
    }
    EXPECT_EQ(answers, expected);
    EXPECT_EQ(Taken(), Calls{});
}

// The retry interval, counted from the loss, wherever the millisecond
// clock stands: also when it wraps at 2^32 (every 49.7 days).
struct RetryCase {
    const char *name;
    std::uint32_t claimAt, lostAt;
};

std::ostream &operator<<(std::ostream &os, const RetryCase &r) { return os << r.name; }

class RetryInterval : public CommIoTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryInterval, IsCountedFromTheLoss)
{
    devices.Advance(GetParam().claimAt);
    Claimed();
    devices.Advance(GetParam().lostAt - GetParam().claimAt);
    devices.Unplug("COM5");
    EXPECT_EQ(io.GetPortBit(0x3FE, 4), 0);
    devices.Plug("COM5");
    Taken();
    for (const std::uint32_t step : {1u, commio::CommIo::RetryIntervalMs / 2, commio::CommIo::RetryIntervalMs / 2 - 2}) {
        devices.Advance(step); // up to one tick before the interval is over
        EXPECT_EQ(io.IsDriverInstalled(), 0);
        EXPECT_EQ(Taken(), Calls{});
    }
    devices.Advance(1);
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c2", "SetCommState(c2, dtr off, rts off)"}));
}

const RetryCase kRetries[] = {
    {"LossLongAfterTheClaim", 0, 5000},
    {"LossJustAfterTheClaim", 100, 101},
    {"RetryPastTheWrap", 0xFFFFFD00u, 0xFFFFFE80u},
    {"LossAtTheLastTick", 0xFFFFF000u, 0xFFFFFFFFu},
    {"LossJustAfterTheWrap", 0xFFFFFF00u, 0x00000100u},
    {"LossBeforeTheWrapRetryAfterIt", 0xFFFFFE00u, 0xFFFFFF00u},
    {"HalfwayRound", 0x7FFFFF00u, 0x80000000u},
};
INSTANTIATE_TEST_SUITE_P(Table, RetryInterval, ::testing::ValuesIn(kRetries),
                         [](const auto &row) { return std::string(row.param.name); });

// The driver check's short answer is only for every device open: a device
// still closed, or lost again, is retried.
struct TwoDevicesCase {
    const char *name;
    bool com6AtTheClaim;
    bool loseCom6;
    Calls calls; // from the retry
};

std::ostream &operator<<(std::ostream &os, const TwoDevicesCase &t) { return os << t.name; }

class TwoDevices : public CommIoTest, public ::testing::WithParamInterface<TwoDevicesCase> {};

TEST_P(TwoDevices, OneClosedIsRetriedWhileTheOtherAnswers)
{
    devices.Plug("COM5");
    if (GetParam().com6AtTheClaim)
        devices.Plug("COM6");
    Map("3F8 = COM5\n2F8 = COM6");
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    if (GetParam().loseCom6) {
        devices.Unplug("COM6");
        EXPECT_EQ(io.GetPortBit(0x2FE, 4), 0);
    }
    devices.Plug("COM6");
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    Taken();
    devices.Advance(commio::CommIo::RetryIntervalMs);
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), GetParam().calls);
    EXPECT_STREQ(io.Status(), "COM5 for 03F8h: held; COM6 for 02F8h: held");
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), Calls{});
}

const TwoDevicesCase kTwoDevices[] = {
    {"SecondMissingAtTheClaim", false, false, {"CreateFile(\"\\\\.\\COM6\") -> c2", "SetCommState(c2, dtr off, rts off)"}},
    {"SecondLostAfterBothOpened", true, true, {"CreateFile(\"\\\\.\\COM6\") -> c3", "SetCommState(c3, dtr off, rts off)"}},
};
INSTANTIATE_TEST_SUITE_P(Table, TwoDevices, ::testing::ValuesIn(kTwoDevices),
                         [](const auto &row) { return std::string(row.param.name); });

// The status text fills a fixed buffer; one that would not fit ends in a
// marker, and one that fits exactly is whole.
struct StatusCase {
    const char *name;
    std::size_t lengthA, lengthB; // of the two \\.\ device names
    std::size_t full;             // the text's length untruncated
};

std::ostream &operator<<(std::ostream &os, const StatusCase &s) { return os << s.name; }

class StatusText : public CommIoTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusText, IsWholeOrEndsInTheMarker)
{
    const std::string a = "\\\\.\\" + std::string(GetParam().lengthA - 4, 'A');
    const std::string b = "\\\\.\\" + std::string(GetParam().lengthB - 4, 'B');
    Map(("100 = " + a + "\n108 = " + b).c_str());
    const std::string full = a + " for 0100h: opens at the first IsDriverInstalled; " + b +
                             " for 0108h: opens at the first IsDriverInstalled";
    ASSERT_EQ(full.size(), GetParam().full);
    const std::string status = io.Status();
    constexpr std::size_t room = 319; // characters the buffer holds
    if (full.size() <= room)
        EXPECT_EQ(status, full);
    else
        EXPECT_EQ(status, full.substr(0, room - 3) + "...");
}

const StatusCase kStatus[] = {
    {"OneShort", 110, 110, 318},
    {"ExactlyFull", 110, 111, 319},
    {"OneOver", 110, 112, 320},
    {"TwoOver", 110, 113, 321},
    {"FarOver", 190, 190, 478},
};
INSTANTIATE_TEST_SUITE_P(Table, StatusText, ::testing::ValuesIn(kStatus),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace
