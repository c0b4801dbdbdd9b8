// What the io.dll asks of the serial driver: exactly its own fields of the
// device's settings block, whatever the driver had there (but a format no
// UART makes), and what a failing settings call means for the device.
#include "CommIoTest.h"

#include "commio/DeviceClaim.h"
#include "commio/WindowsErrors.h"

namespace {

struct FieldCase {
    const char *name;
    std::uint8_t fill;          // the device's settings block before the claim
    std::vector<IoAccess> after;  // register writes after the claim
    std::string changes;        // sim::DescribeChanges from the fill
    std::uint8_t dtrControl, rtsControl;
};

std::ostream &operator<<(std::ostream &os, const FieldCase &f) { return os << f.name; }

class SettingsFields : public CommIoTest, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(SettingsFields, OnlyTheIoDllsOwnFieldsChange)
{
    const commio::DeviceSettings before = sim::ComDevices::FilledWith(GetParam().fill);
    devices.StartFrom(before);
    Claimed();
    Apply(GetParam().after);
    const commio::DeviceSettings &now = devices.Find("COM5")->settings;
    EXPECT_EQ(sim::DescribeChanges(before, now), GetParam().changes);
    EXPECT_EQ(now.fDtrControl, GetParam().dtrControl);
    EXPECT_EQ(now.fRtsControl, GetParam().rtsControl);
}

// The library's set-up, then DTR on, then 115200 8N1 with both lines on.
const std::vector<IoAccess> kSetUpThenFast = {{'o', 3, 0x80}, {'o', 0, 0x30}, {'o', 1, 0}, {'o', 3, 0x0B}, {'o', 4, 0x0A},
                                            {'s', 4, 0},    {'o', 3, 0x80}, {'o', 0, 1}, {'o', 3, 0x03}};

const FieldCase kFields[] = {
    // A format no UART makes (as Wine answers a terminal mode it can't
    // name) goes back as 8N1: the driver would refuse the claim for it.
    {"OnesClaimTurnsEveryHandshakeOffAndTheFormatValid", 0xFF, {},
     "fParity 1->0, fOutxCtsFlow 1->0, fOutxDsrFlow 1->0, fDtrControl 3->0, fDsrSensitivity 1->0, fOutX 1->0, "
     "fInX 1->0, fRtsControl 3->0, fAbortOnError 1->0, ByteSize 255->8, Parity 255->0, StopBits 255->0",
     0, 0},
    {"ZerosClaimOnlyMakesItBinaryOfEightBits", 0x00, {}, "fBinary 0->1, ByteSize 0->8", 0, 0},
    {"OnesFormatAndLinesOn", 0xFF, kSetUpThenFast,
     "BaudRate 4294967295->115200, fParity 1->0, fOutxCtsFlow 1->0, fOutxDsrFlow 1->0, fDtrControl 3->1, "
     "fDsrSensitivity 1->0, fOutX 1->0, fInX 1->0, fRtsControl 3->1, fAbortOnError 1->0, ByteSize 255->8, "
     "Parity 255->0, StopBits 255->0",
     1, 1},
    {"ZerosFormatAndLinesOn", 0x00, kSetUpThenFast,
     "BaudRate 0->115200, fBinary 0->1, fDtrControl 0->1, fRtsControl 0->1, ByteSize 0->8", 1, 1},
    {"ZerosOddParityChecksParity", 0x00, {{'o', 3, 0x80}, {'o', 0, 0x30}, {'o', 3, 0x0B}},
     "BaudRate 0->2400, fBinary 0->1, fParity 0->1, ByteSize 0->8, Parity 0->1", 0, 0},
    {"ZerosRtsOnlyThenFormat", 0x00, {{'o', 4, 0x02}, {'o', 3, 0x80}, {'o', 0, 0x30}, {'o', 3, 0x03}},
     "BaudRate 0->2400, fBinary 0->1, fRtsControl 0->1, ByteSize 0->8", 0, 1},
};
INSTANTIATE_TEST_SUITE_P(Table, SettingsFields, ::testing::ValuesIn(kFields),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(CommIoTest, EverySetCommStateFollowsAGetCommStateOfTheSameDevice)
{
    devices.SetRecordingStateReads(true);
    devices.Plug("COM5");
    Map("any = COM5");
    LibrarySetUp(0x3F8);
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c1", "GetCommState(c1)", "SetCommState(c1, dtr off, rts off)",
                              "GetCommState(c1)", "SetCommState(c1, 2400 8O1, dtr off, rts off)",
                              "EscapeCommFunction(c1, SETRTS)"}));
}

// A failed SetCommState of a new format, by its code: a removed device is
// closed and opened again at the next retry; any other code is a refusal
// of the format, and the device stays held.
struct ErrorCase {
    std::uint32_t error;
    bool removed;
};

std::ostream &operator<<(std::ostream &os, const ErrorCase &e) { return os << e.error; }

class FormatError : public CommIoTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(FormatError, LosesTheDeviceOnlyWhenItWasRemoved)
{
    const std::uint32_t error = GetParam().error;
    const std::string code = std::to_string(error);
    Claimed();
    devices.Find("COM5")->failNext = error;
    Apply({{'o', 3, 0x80}, {'o', 0, 1}, {'o', 3, 0x03}});
    EXPECT_EQ(commio::MeansDeviceRemoved(error), GetParam().removed);
    if (GetParam().removed) {
        EXPECT_EQ(Taken(), (Calls{"SetCommState(c1, 115200 8N1, dtr off, rts off) fails " + code, "CloseHandle(c1)"}));
        EXPECT_EQ(io.IsDriverInstalled(), 0);
        EXPECT_EQ(std::string(io.Status()),
                  "COM5 for any UART: not held, SetCommState failed (error " + code + "); retrying");
        devices.Advance(500);
        EXPECT_EQ(io.IsDriverInstalled(), 1);
        EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c2", "SetCommState(c2, dtr off, rts off)",
                                  "SetCommState(c2, 115200 8N1, dtr off, rts off)"}));
    } else {
        EXPECT_EQ(Taken(), Calls{"SetCommState(c1, 115200 8N1, dtr off, rts off) fails " + code});
        EXPECT_EQ(io.IsDriverInstalled(), 1);
        EXPECT_EQ(std::string(io.Status()),
                  "COM5 for any UART: held, 115200 baud refused by SetCommState (error " + code + ")");
        devices.Advance(500);
        EXPECT_EQ(io.IsDriverInstalled(), 1);
        EXPECT_EQ(Taken(), Calls{});
    }
    EXPECT_EQ(devices.BadCloses(), 0u);
}

const ErrorCase kErrors[] = {
    {5, true},     {6, true},     {22, true},  {31, true},  {995, true}, {1167, true}, {1617, true},
    {87, false},   {1, false},    {2, false},  {13, false}, {50, false}, {121, false}, {1784, false},
    {0xDEADBEEF, false},
};
INSTANTIATE_TEST_SUITE_P(Table, FormatError, ::testing::ValuesIn(kErrors),
                         [](const auto &row) { return "Error" + std::to_string(row.param.error); });

// GetCommState failing, at the claim or before a format: the device can't
// be driven, whatever the code, and the status text names that call.
struct GetStateCase {
    const char *name;
    bool atTheClaim;
    std::uint32_t error;
    Calls calls;
    const char *status;
};

std::ostream &operator<<(std::ostream &os, const GetStateCase &g) { return os << g.name; }

class GetStateFails : public CommIoTest, public ::testing::WithParamInterface<GetStateCase> {};

TEST_P(GetStateFails, ClosesTheDeviceAndNamesGetCommState)
{
    devices.Plug("COM5");
    Map("any = COM5");
    if (GetParam().atTheClaim) {
        devices.Find("COM5")->failGetState = GetParam().error;
        EXPECT_EQ(io.IsDriverInstalled(), 0);
    } else {
        ASSERT_EQ(io.IsDriverInstalled(), 1);
        Taken();
        devices.Find("COM5")->failGetState = GetParam().error;
        LibrarySetUp(0x3F8);
        EXPECT_EQ(io.IsDriverInstalled(), 0);
    }
    EXPECT_EQ(Taken(), GetParam().calls);
    EXPECT_STREQ(io.Status(), GetParam().status);
    EXPECT_EQ(devices.HandlesHeld(), 0u);
    EXPECT_EQ(devices.Find("COM5")->setStates, GetParam().atTheClaim ? 0u : 1u);
    devices.Find("COM5")->failGetState = 0;
    devices.Advance(500);
    EXPECT_EQ(io.IsDriverInstalled(), 1);
}

const GetStateCase kGetState[] = {
    {"AtTheClaim", true, 31, {"CreateFile(\"\\\\.\\COM5\") -> c1", "GetCommState(c1) fails 31", "CloseHandle(c1)"},
     "COM5 for any UART: not held, GetCommState failed (error 31); retrying"},
    {"AtTheClaimWithARefusalCode", true, 87,
     {"CreateFile(\"\\\\.\\COM5\") -> c1", "GetCommState(c1) fails 87", "CloseHandle(c1)"},
     "COM5 for any UART: not held, GetCommState failed (error 87); retrying"},
    {"BeforeAFormat", false, 87, {"GetCommState(c1) fails 87", "CloseHandle(c1)"},
     "COM5 for any UART: not held, GetCommState failed (error 87); retrying"},
};
INSTANTIATE_TEST_SUITE_P(Table, GetStateFails, ::testing::ValuesIn(kGetState),
                         [](const auto &row) { return std::string(row.param.name); });


// The format a driver answers, as the claim hands it back: one a UART
// makes as it is, else the nearest a driver takes (a driver refuses the
// whole block for one field, and the claim with it).
struct FormatCase {
    std::uint8_t byteSize, parity, stopBits; // as the driver answered
    std::uint8_t wantByteSize, wantParity, wantStopBits;
};

class ClaimedFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(ClaimedFormat, IsOneADriverTakes)
{
    const FormatCase &c = GetParam();
    commio::DeviceSettings settings = sim::ComDevices::DriverDefaults();
    settings.ByteSize = c.byteSize;
    settings.Parity = c.parity;
    settings.StopBits = c.stopBits;
    commio::AskForKeyLines(settings, nullptr, false, false);
    EXPECT_EQ(+settings.ByteSize, +c.wantByteSize);
    EXPECT_EQ(+settings.Parity, +c.wantParity);
    EXPECT_EQ(+settings.StopBits, +c.wantStopBits);
}

INSTANTIATE_TEST_SUITE_P(Table, ClaimedFormat, ::testing::Values(
    FormatCase{8, 0, 0, 8, 0, 0}, FormatCase{7, 2, 2, 7, 2, 2}, FormatCase{5, 4, 1, 5, 4, 1},
    FormatCase{5, 0, 0, 5, 0, 0},
    FormatCase{8, 200, 0, 8, 0, 0}, FormatCase{4, 0, 0, 8, 0, 0}, FormatCase{9, 1, 3, 8, 1, 0},
    FormatCase{8, 0, 1, 8, 0, 0},   // 1.5 stop bits with 8 data bits
    FormatCase{5, 0, 2, 5, 0, 1})); // 2 stop bits with 5 data bits

} // namespace
