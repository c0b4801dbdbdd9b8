// The key line learnt from the driver's comm events: the waits the io.dll
// keeps pending and the calls a poll makes or doesn't, the waits' end at a
// loss or at unload, presses that fall between two polls (end to end
// through the key library too); for every line a key can be wired to, the event each line waits on, presses missed between two
// reads and judged against what the host last saw, the state an open and a
// reopen start from, waits that end in errors, the refresh on a wrapping
// clock; and the driver check's and the poll's short ways, which read no
// clock and leave bit numbers past 7 alone.
#include <cstdio>
#include <string>
#include <vector>

#include "CommIoTest.h"
#include "CommioWorld.h"
#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"

namespace {

class LineEvents : public CommIoTest {
protected:
    // COM5 mapped as `portMap` and claimed, its driver with comm events
    // unless `events` is false; event calls recorded, the record cleared.
    void Open(const char *portMap = "any = COM5", bool events = true)
    {
        sim::ComDevices::Device &device = devices.Plug("COM5");
        if (events)
            device.refuseEvents = 0;
        devices.SetRecordingEvents(true);
        Map(portMap);
        ASSERT_EQ(io.IsDriverInstalled(), 1);
        devices.TakeCalls();
    }
    int Poll() { return io.GetPortBit(kMsr, 4); }
    int RegisterCts() { return (io.PortIn(kMsr) >> 4) & 1; }
    void Set(ModemLine line, bool level) { devices.SetInput("COM5", line, level); }
    void Key(bool down) { Set(ModemLine::Cts, down); }
    std::string Status() { return io.Status(); }
    void TearDown() override
    {
        io.Release();
        EXPECT_EQ(devices.HandlesHeld(), 0u);
        EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);
        EXPECT_EQ(api.armedWrong, 0u) << "a wait ended with its armed flag wrong";
        EXPECT_EQ(api.closedWatched, 0u) << "a handle closed before its watch ended";
    }
};

// ---- Every line a key can be wired to, either way round --------------------

struct KeyLineCase {
    const char *name;
    const char *map;
    ModemLine line;
    bool invert; // the line rests high and a press takes it low
};

std::ostream &operator<<(std::ostream &os, const KeyLineCase &c) { return os << c.name; }

class EachKeyLine : public LineEvents, public ::testing::WithParamInterface<KeyLineCase> {
protected:
    void Key(bool down) { Set(GetParam().line, down != GetParam().invert); }
    std::vector<int> Polls(int n)
    {
        std::vector<int> answers;
        for (int i = 0; i < n; ++i)
            answers.push_back(Poll());
        return answers;
    }
};

TEST_P(EachKeyLine, PressesBetweenTwoPollsAreSeenOnce)
{
    Open(GetParam().map);
    Key(false);
    EXPECT_EQ(Poll(), 0);
    Key(true);
    Key(false);
    EXPECT_EQ(Polls(3), (std::vector<int>{1, 0, 0})) << "a tap between two polls";
    Key(true);
    EXPECT_EQ(Polls(2), (std::vector<int>{1, 1})) << "held";
    Key(false);
    Key(true);
    EXPECT_EQ(Polls(2), (std::vector<int>{0, 1})) << "let go and pressed again between two polls";
    Key(false);
    EXPECT_EQ(Polls(2), (std::vector<int>{0, 0}));
}

TEST_P(EachKeyLine, ChangesOfTheOtherLinesAreNoPress)
{
    Open(GetParam().map);
    Key(false);
    EXPECT_EQ(Poll(), 0);
    for (const ModemLine other : uart::InputLines) {
        if (other == GetParam().line)
            continue;
        Set(other, true);
        Set(other, false);
        EXPECT_EQ(Poll(), 0) << "a pulse of line " << other.Name();
        Set(other, true);
        EXPECT_EQ(Poll(), 0) << "line " << other.Name() << " high";
        Set(other, false);
        EXPECT_EQ(Poll(), 0);
    }
    EXPECT_EQ(Status().find("edges recovered"), std::string::npos) << Status();
}

const KeyLineCase kKeyLines[] = {
    {"Cts", "any = COM5", ModemLine::Cts, false},
    {"CtsInverted", "any = COM5 invert", ModemLine::Cts, true},
    {"Dsr", "any = COM5 line=DSR", ModemLine::Dsr, false},
    {"DsrInverted", "any = COM5 line=DSR invert", ModemLine::Dsr, true},
    {"Dcd", "any = COM5 line=DCD", ModemLine::Dcd, false},
    {"DcdInverted", "any = COM5 line=DCD invert", ModemLine::Dcd, true},
    {"Ri", "any = COM5 line=RI", ModemLine::Ri, false},
    {"RiInverted", "any = COM5 line=RI invert", ModemLine::Ri, true},
};
INSTANTIATE_TEST_SUITE_P(Table, EachKeyLine, ::testing::ValuesIn(kKeyLines),
                         [](const auto &row) { return std::string(row.param.name); });

// ---- Missed presses, judged against what the host last saw ------------------

// Steps: 'd' key down, 'u' key up, 'k' the poll of the key bit, 'r' a read of
// the whole modem status register (the host sees the key bit too), 'o' a
// read of another status bit only (DSR); a change of the key the other way
// as a completed wait is collected and the next begun: 'A' right after the
// read that follows the completed wait, before the next wait begins, so
// that no wait sees it (Wine's) or the wait ends with it at once
// (Windows'), 'W' right after the next wait begins, before the lines are
// read again, so that both see it; 'L' a change of the key that the driver
// has not looked at yet (a wait thread held up; Windows' driver drops it),
// 'T' the driver looking now. `answers`: the key bit at each 'k' and 'r'.
struct Script {
    const char *name;
    const char *map;
    ModemLine line;
    const char *steps;
    const char *answers;
};

std::ostream &operator<<(std::ostream &os, const Script &s) { return os << s.name; }

class WhatTheHostSaw : public LineEvents, public ::testing::WithParamInterface<Script> {};

TEST_P(WhatTheHostSaw, DecidesWhetherAPressWasMissed)
{
    Open(GetParam().map);
    std::string answers;
    bool down = false;
    const auto flip = [this, &down]() { Set(GetParam().line, down = !down); };
    for (const char *step = GetParam().steps; *step; ++step) {
        switch (*step) {
        case 'd': Set(GetParam().line, down = true); break;
        case 'u': Set(GetParam().line, down = false); break;
        case 'k': answers += static_cast<char>('0' + Poll()); break;
        case 'r': answers += static_cast<char>('0' + RegisterCts()); break;
        case 'o': io.GetPortBit(kMsr, 5); break;
        case 'A': api.afterNextRead = flip; break;
        case 'W': api.afterNextWaitStart = flip; break;
        case 'L':
            devices.Find("COM5")->silent = true;
            flip();
            devices.Find("COM5")->silent = false;
            break;
        case 'T':
            devices.Find("COM5")->silent = false;
            devices.Look("COM5");
            break;
        }
    }
    EXPECT_EQ(answers, GetParam().answers);
}

const Script kScripts[] = {
    {"PressSeenOnlyByAnotherBitsRead", "any = COM5", ModemLine::Cts, "kdoukk", "010"},
    {"ReleaseAndPressAcrossAnotherBitsRead", "any = COM5", ModemLine::Cts, "dkuodkk", "101"},
    {"ARegisterReadShowsAMissedPress", "any = COM5", ModemLine::Cts, "kdurk", "010"},
    {"ARegisterReadIsWhatTheHostSaw", "any = COM5", ModemLine::Cts, "kdrukk", "0100"},
    {"WiredPressSeenOnlyByAnotherBitsRead", "any = COM5 line=DCD", ModemLine::Dcd, "kdoukk", "010"},
    {"WiredReleaseAndPressAcrossAnotherBitsRead", "any = COM5 line=RI", ModemLine::Ri, "dkuodkk", "101"},
    // Released before the wait began: the release is shown, and a press
    // after it is one.
    {"AReleaseNoWaitSawIsShown", "any = COM5", ModemLine::Cts, "kdAkkdukk", "01010"},
    {"APressNoWaitSawIsShown", "any = COM5 line=DSR", ModemLine::Dsr, "dkuAkkudkk", "10101"},
    // A change the driver tells of late, found first by the refresh read
    // (every tenth read) and shown then: its event, when it comes, is no
    // second change, and invents no press.
    {"APressToldLateAfterTheRefreshShowedItIsOnePress", "any = COM5", ModemLine::Cts, "kLkkkkkkkkkkkTkk",
     "00000000001111"},
    {"AReleaseToldLateAfterTheRefreshShowedItIsOneRelease", "any = COM5 line=DSR", ModemLine::Dsr, "dkLkkkkkkkkkkkTkk",
     "11111111110000"},
    // Seen by the second read and told by the wait as well: one change.
    {"AReleaseBothSawIsOneRelease", "any = COM5", ModemLine::Cts, "kdWkkk", "0100"},
    {"ARepressBothSawIsOnePress", "any = COM5", ModemLine::Cts, "dkudWkkk", "1010"},
    // A change the driver never tells, found by the refresh: a refresh
    // period later it holds back no event, and a release and press the
    // driver tells of are both shown.
    {"AnUntoldChangeHoldsBackNoLaterPress", "any = COM5", ModemLine::Cts, "kLkkkkkkkkkkkkkkkkkkkkudkk",
     "00000000001111111111101"},
};
INSTANTIATE_TEST_SUITE_P(Table, WhatTheHostSaw, ::testing::ValuesIn(kScripts),
                         [](const auto &row) { return std::string(row.param.name); });

// The register read after a poll that showed a missed press compares with
// what that poll showed.
TEST_F(LineEvents, ARegisterReadAfterAShownPressShowsItsRelease)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    Set(ModemLine::Cts, true);
    Set(ModemLine::Cts, false);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(io.PortIn(kMsr), 0x01);
    EXPECT_EQ(io.PortIn(kMsr), 0x00);
}

// ---- Where an open and a reopen start ----------------------------------------

TEST_F(LineEvents, ChangesBeforeTheFirstReadAfterTheOpenAreNoPress)
{
    Open();
    Set(ModemLine::Cts, true); // the wait completes before the host has read anything
    Set(ModemLine::Cts, false);
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched");
}

struct ReopenCase {
    const char *name;
    bool beforeLoss, atReopen; // the key
};

std::ostream &operator<<(std::ostream &os, const ReopenCase &c) { return os << c.name; }

class Reopen : public LineEvents, public ::testing::WithParamInterface<ReopenCase> {};

TEST_P(Reopen, StartsFromTheDevicesLinesNotFromBeforeTheLoss)
{
    Open();
    Set(ModemLine::Cts, GetParam().beforeLoss);
    EXPECT_EQ(Poll(), GetParam().beforeLoss ? 1 : 0);
    devices.Unplug("COM5");
    EXPECT_EQ(Poll(), 0);
    devices.Plug("COM5");
    Set(ModemLine::Cts, GetParam().atReopen); // before the open: no event will tell of it
    devices.Advance(commio::CommIo::RetryIntervalMs);
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    const int level = GetParam().atReopen ? 1 : 0;
    EXPECT_EQ(Poll(), level);
    EXPECT_EQ(Poll(), level);
    EXPECT_EQ(RegisterCts(), level);
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched");
}

const ReopenCase kReopens[] = {
    {"UpThenDown", false, true},
    {"DownThenUp", true, false},
    {"DownBoth", true, true},
    {"UpBoth", false, false},
};
INSTANTIATE_TEST_SUITE_P(Table, Reopen, ::testing::ValuesIn(kReopens),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(LineEvents, APressMissedBeforeALossIsNotShownAfterTheReopen)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    Set(ModemLine::Cts, true);
    Set(ModemLine::Cts, false);
    io.GetPortBit(kMsr, 5); // the press is learnt, not yet shown
    devices.Find("COM5")->failNext = commio::ErrorGenFailure;
    io.PortOut(0x3FC, 0x01); // the DTR call fails: the device is lost
    ASSERT_EQ(io.IsDriverInstalled(), 0);
    devices.Advance(commio::CommIo::RetryIntervalMs);
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Poll(), 0);
}

// ---- Waits that end in an error ------------------------------------------------

struct WaitEnd {
    const char *name;
    char where; // 'w' the wait ends in it, 'r' the next wait can't start, 'o' the open's wait can't
    std::uint32_t error;
    bool kept;  // the device stays held, its lines read at every poll
};

std::ostream &operator<<(std::ostream &os, const WaitEnd &w) { return os << w.name; }

class WaitError : public LineEvents, public ::testing::WithParamInterface<WaitEnd> {};

TEST_P(WaitError, KeepsTheDeviceUnlessItSaysTheDeviceIsGone)
{
    const WaitEnd &w = GetParam();
    if (w.where == 'o')
        api.nextStartFails = w.error;
    Open();
    EXPECT_EQ(Poll(), 0);
    if (w.where == 'r')
        devices.Find("COM5")->refuseEvents = w.error;
    else if (w.where == 'w')
        api.nextWaitFails = w.error;
    Set(ModemLine::Cts, true);
    Taken();
    const std::string error = std::to_string(w.error);
    if (w.kept) {
        EXPECT_EQ(Poll(), 1);
        EXPECT_EQ(Status(), "COM5 for any UART: held, line events refused by WaitCommEvent (error " + error +
                                "), lines read at every poll");
        Taken();
        EXPECT_EQ(Poll(), 1);
        Set(ModemLine::Cts, false);
        EXPECT_EQ(Poll(), 0);
        EXPECT_EQ(Taken(), (Calls{"GetCommModemStatus(c1) -> 10", "GetCommModemStatus(c1) -> 00"}));
        EXPECT_EQ(devices.WaitsPending(), 0u);
    } else {
        EXPECT_EQ(Poll(), 0);
        EXPECT_EQ(Status(), "COM5 for any UART: not held, WaitCommEvent failed (error " + error + "); retrying");
        EXPECT_EQ(devices.HandlesHeld(), 0u);
        EXPECT_EQ(io.IsDriverInstalled(), 0);
    }
}

const WaitEnd kWaitEnds[] = {
    {"InvalidFunction", 'w', commio::ErrorInvalidFunction, true},
    {"InvalidParameter", 'w', commio::ErrorInvalidParameter, true},
    {"SemaphoreTimeout", 'w', 121, true},
    {"AccessDenied", 'w', commio::ErrorAccessDenied, false},
    {"InvalidHandle", 'w', commio::ErrorInvalidHandle, false},
    {"BadCommand", 'w', commio::ErrorBadCommand, false},
    {"GenFailure", 'w', commio::ErrorGenFailure, false},
    {"DeviceNotConnected", 'w', commio::ErrorDeviceNotConnected, false},
    {"DeviceRemoved", 'w', commio::ErrorDeviceRemoved, false},
    {"RearmInvalidFunction", 'r', commio::ErrorInvalidFunction, true},
    {"RearmInvalidParameter", 'r', commio::ErrorInvalidParameter, true},
    {"RearmGenFailure", 'r', commio::ErrorGenFailure, false},
    {"RearmDeviceRemoved", 'r', commio::ErrorDeviceRemoved, false},
    // the device was just set up: whatever the code, it is kept
    {"AtTheOpenInvalidParameter", 'o', commio::ErrorInvalidParameter, true},
    {"AtTheOpenGenFailure", 'o', commio::ErrorGenFailure, true},
};
INSTANTIATE_TEST_SUITE_P(Table, WaitError, ::testing::ValuesIn(kWaitEnds),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(LineEvents, AFailingReadAfterACompletedWaitIsNamedInTheStatus)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    Set(ModemLine::Cts, true);
    devices.Find("COM5")->failNext = commio::ErrorGenFailure;
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Status(), "COM5 for any UART: not held, GetCommModemStatus failed (error 31); retrying");
}

// ---- The refresh of a driver that signals nothing -----------------------------

// Counted in reads of the key bit, so that a quiet read needs no call for
// the time, whatever the clock says (its wrap); and a read after a pause of
// GapMs or more reads the lines first.
struct RefreshCase {
    const char *name;
    std::uint32_t start;  // the clock at the open
    std::uint32_t pauseMs; // the clock's step between two reads
};

std::ostream &operator<<(std::ostream &os, const RefreshCase &c) { return os << c.name; }

class Refresh : public LineEvents, public ::testing::WithParamInterface<RefreshCase> {
protected:
    int Read() { return Poll(); }
};

TEST_P(Refresh, ComesAtEveryRefreshReadsThReadOrAfterAPause)
{
    devices.Advance(GetParam().start);
    devices.Plug("COM5").silent = true;
    Open();
    EXPECT_EQ(Read(), 0);
    api.clockReads = 0;
    Set(ModemLine::Cts, true); // no event tells of it
    const int due = GetParam().pauseMs >= commio::CommIo::GapMs ? 1 : commio::CommIo::RefreshReads;
    for (int read = 1; read <= due; ++read) {
        const std::uint64_t calls = devices.ModemStatusCalls();
        devices.Advance(GetParam().pauseMs);
        ASSERT_EQ(Read(), read == due ? 1 : 0) << read << " reads after the change";
        EXPECT_EQ(devices.ModemStatusCalls() - calls, read == due ? 1u : 0u) << read << " reads after the change";
    }
    EXPECT_EQ(api.clockReads, 0u) << "a read of the key bit makes no call for the time";
}

const RefreshCase kRefreshes[] = {
    {"Poll", 1000, 10},
    {"PollAcrossTheWrap", 0xFFFFFFC0u, 10},
    {"PollWithoutTimePassing", 1000, 0},
    {"PollPausedAcrossTheWrap", 0xFFFFFE00u, 100},
    {"PausedForASecond", 1000, commio::CommIo::GapMs},
    {"PausedForASecondAcrossTheWrap", 0xFFFFFF00u, commio::CommIo::GapMs},
    {"PausedForAnHour", 1000, 3600000},
};
INSTANTIATE_TEST_SUITE_P(Table, Refresh, ::testing::ValuesIn(kRefreshes),
                         [](const auto &row) { return std::string(row.param.name); });

// Only the key's line is watched, so only its changes count as found
// before the driver told; another line's are read when asked for.
TEST_F(LineEvents, OnlyAKeyChangeThatTheRefreshFoundIsCounted)
{
    devices.Plug("COM5").silent = true;
    Open();
    EXPECT_EQ(Poll(), 0);
    Set(ModemLine::Dcd, true);
    for (int read = 1; read <= commio::CommIo::RefreshReads; ++read) // the last one refreshes
        EXPECT_EQ(Poll(), 0) << "read " << read;
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched");
    Set(ModemLine::Cts, true);
    for (int read = 1; read <= commio::CommIo::RefreshReads; ++read)
        EXPECT_EQ(Poll(), read == commio::CommIo::RefreshReads ? 1 : 0) << "read " << read;
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched; "
                        "0 edges recovered between polls, 1 changes found only by refresh");
}

// ---- The short ways: no clock, and nothing for bits past 7 --------------------

TEST_F(LineEvents, WhileEveryDeviceIsHeldTheDriverCheckAndQuietPollsReadNoClock)
{
    devices.Plug("COM5").refuseEvents = 0;
    devices.Plug("COM6").refuseEvents = 0;
    const commio::PortMapResult map = commio::ParsePortMap("3F8 = COM5\n2F8 = COM6");
    ASSERT_EQ(map.error, "");
    io.Configure(map.uarts);
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    auto quietSecond = [this] {
        api.clockReads = 0;
        const std::uint64_t reads = devices.ModemStatusCalls();
        for (int ms = 0; ms < 1000; ++ms) {
            ASSERT_EQ(io.IsDriverInstalled(), 1);
            Poll();
            devices.Advance(1);
        }
        EXPECT_EQ(api.clockReads, 0u);
        EXPECT_LE(devices.ModemStatusCalls() - reads, 1000u / commio::CommIo::RefreshReads + 1); // the refreshes only
    };
    quietSecond();

    devices.Unplug("COM6");
    EXPECT_EQ(io.GetPortBit(0x2FE, 4), 0);
    devices.Plug("COM6");
    devices.Advance(commio::CommIo::RetryIntervalMs);
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    ASSERT_TRUE(devices.Find("COM6")->held);
    quietSecond(); // the short way back once both are held again
}

TEST_F(LineEvents, ReadingABitPastSevenOfThePolledPortLeavesTheLinesToTheNextRead)
{
    Open("any = COM5", false); // every read of the lines is a call
    EXPECT_EQ(Poll(), 0);      // the poll's short way to the device from here on
    Set(ModemLine::Cts, true);
    Taken();
    for (unsigned bit = 8; bit < 256; ++bit)
        ASSERT_EQ(io.GetPortBit(kMsr, static_cast<std::uint8_t>(bit)), 0) << bit;
    EXPECT_EQ(Taken(), Calls{});
    EXPECT_EQ(io.PortIn(kMsr), 0x11) << "the change, with its delta";
}

// The poll's short answer, for each status bit of the port it polls.
// The poll's short answer for the key bit; the other status bits of the
// port it polls answer their own lines, read from the device when asked.
TEST_F(LineEvents, EveryStatusBitOfThePolledPortAnswersItsOwnLine)
{
    Open();
    for (const unsigned lines : {0xA0u, 0x50u, 0xF0u, 0x00u}) {
        for (const ModemLine line : uart::InputLines)
            Set(line, (lines & line.Mask()) != 0);
        EXPECT_EQ(Poll(), (lines >> 4) & 1);
        Taken();
        EXPECT_EQ(Poll(), (lines >> 4) & 1); // the short way from here
        EXPECT_EQ(Taken(), Calls{});
        for (std::uint8_t bit = 5; bit < 8; ++bit)
            EXPECT_EQ(io.GetPortBit(kMsr, bit), (lines >> bit) & 1) << lines << " bit " << int(bit);
        char read[40];
        std::snprintf(read, sizeof read, "GetCommModemStatus(c1) -> %02X", lines);
        EXPECT_EQ(Taken(), Calls(3, read));
    }
}

TEST_F(LineEvents, SettingAndClearingBitsZeroToSevenChangesThatBitAlone)
{
    Open();
    for (std::uint8_t bit = 0; bit < 8; ++bit) {
        const auto mask = static_cast<std::uint8_t>(1u << bit);
        io.PortOut(0x3FF, 0x00);
        io.SetPortBit(0x3FF, bit);
        EXPECT_EQ(io.PortIn(0x3FF), mask);
        EXPECT_EQ(io.GetPortBit(0x3FF, bit), 1);
        io.PortOut(0x3FF, 0xFF);
        io.ClrPortBit(0x3FF, bit);
        EXPECT_EQ(io.PortIn(0x3FF), 0xFF ^ mask);
        EXPECT_EQ(io.GetPortBit(0x3FF, bit), 0);
    }
}

TEST_F(LineEvents, SettingOrClearingABitPastSevenChangesNoRegister)
{
    Open("any = COM5", false);
    for (const testsupport::RegisterWrite &write : testsupport::LibraryUartSetUp)
        io.PortOut(static_cast<std::uint16_t>(0x3F8 + write.offset), write.value);
    io.PortOut(0x3FF, 0x5A);
    EXPECT_EQ(Poll(), 0);
    Taken();
    const uart::Uart16550 before = *io.RegistersAt(0x3F8);
    for (std::uint16_t port = 0x3F8; port < 0x400; ++port)
        for (unsigned bit = 8; bit < 256; ++bit) {
            io.SetPortBit(port, static_cast<std::uint8_t>(bit));
            io.ClrPortBit(port, static_cast<std::uint8_t>(bit));
        }
    const uart::Uart16550 &after = *io.RegistersAt(0x3F8);
    EXPECT_EQ(Taken(), Calls{});
    const std::uint8_t registers[][2] = {{before.dll, after.dll}, {before.dlm, after.dlm}, {before.ier, after.ier},
                                         {before.fcr, after.fcr}, {before.lcr, after.lcr}, {before.mcr, after.mcr},
                                         {before.scr, after.scr}, {before.msrDelta, after.msrDelta}};
    for (const auto &pair : registers)
        EXPECT_EQ(pair[0], pair[1]) << "register " << &pair - registers;
}

// ---- The waits the io.dll keeps pending, and a poll's calls ---------------------

TEST_F(LineEvents, OpenArmsAWaitAfterTheMaskAndAQuietPollMakesNoCall)
{
    devices.Plug("COM5").refuseEvents = 0;
    devices.SetRecordingEvents(true);
    Map("any = COM5");
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c1", "SetCommState(c1, dtr off, rts off)",
                              "SetCommMask(c1, CTS)", "WaitCommEvent(c1)"}));
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Taken(), Calls{"GetCommModemStatus(c1) -> 00"}); // the first read after the open
    for (int i = 1; i < commio::CommIo::RefreshReads; ++i) {
        EXPECT_EQ(Poll(), 0);
        devices.Advance(4);
    }
    EXPECT_EQ(Taken(), Calls{}) << "no call, not even for the time";

    Key(true);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), (Calls{"GetOverlappedResult(c1) -> 8", "GetCommModemStatus(c1) -> 10", "WaitCommEvent(c1)",
                              "GetCommModemStatus(c1) -> 10"}));
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), Calls{});
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched");
}

// A driver that signals nothing: the refresh finds the change, and the
// wait is started afresh, since its driver might yet tell of it.
TEST_F(LineEvents, ASilentDriverIsReadAtEveryRefreshReadsThReadAndTheFindIsCounted)
{
    devices.Plug("COM5").silent = true;
    Open();
    EXPECT_EQ(Poll(), 0);
    Taken();
    Key(true);
    for (int i = 1; i < commio::CommIo::RefreshReads; ++i)
        EXPECT_EQ(Poll(), 0) << i; // nothing signalled, nothing read yet
    EXPECT_EQ(Taken(), Calls{});
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), (Calls{"GetCommModemStatus(c1) -> 10", "SetCommMask(c1, CTS)"}));
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched; "
                        "0 edges recovered between polls, 1 changes found only by refresh");
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), (Calls{"GetOverlappedResult(c1) -> 0", "GetCommModemStatus(c1) -> 10", "WaitCommEvent(c1)",
                              "GetCommModemStatus(c1) -> 10"}));
    for (int i = 1; i < commio::CommIo::RefreshReads; ++i)
        EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), Calls{});
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), Calls{"GetCommModemStatus(c1) -> 10"}); // a refresh that found nothing new counts nothing
    EXPECT_NE(Status().find(", 1 changes found only by refresh"), std::string::npos);
}

struct Refusal {
    const char *name;
    std::uint32_t error;
    const char *status;
};

// GoogleTest names each table row by printing it: by its name, not its
// bytes (whose padding valgrind rightly calls uninitialised).
std::ostream &operator<<(std::ostream &os, const Refusal &r) { return os << r.name; }

class RefusedEvents : public LineEvents, public ::testing::WithParamInterface<Refusal> {};

TEST_P(RefusedEvents, FallBackToOneReadPerPoll)
{
    devices.Plug("COM5").refuseEvents = GetParam().error;
    devices.SetRecordingEvents(true);
    Map("any = COM5");
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    Taken();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Taken(), Calls(3, "GetCommModemStatus(c1) -> 00"));
    Key(true);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Status(), GetParam().status);
    Taken();
    io.Release();
    EXPECT_EQ(Taken(), Calls{"CloseHandle(c1)"});
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedEvents,
    ::testing::Values(Refusal{"NotSupported", 50, "COM5 for any UART: held"},
                      Refusal{"InvalidFunction", 1,
                              "COM5 for any UART: held, line events refused by SetCommMask (error 1), "
                              "lines read at every poll"},
                      // even a code that would lose the device later keeps it at the open
                      Refusal{"GenFailure", 31,
                              "COM5 for any UART: held, line events refused by SetCommMask (error 31), "
                              "lines read at every poll"}),
    [](const ::testing::TestParamInfo<Refusal> &p) { return std::string(p.param.name); });

// Wine ends a wait in steps and sets its event last: a wait done by its
// record but not yet given back is collected at a later poll, the lines
// read meanwhile.
TEST_F(LineEvents, AWaitNotYetGivenBackIsCollectedAtTheNextPoll)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    Key(true);
    api.nextResultIncomplete = true;
    Taken();
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), Calls{"GetCommModemStatus(c1) -> 10"});
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), (Calls{"GetOverlappedResult(c1) -> 8", "GetCommModemStatus(c1) -> 10", "WaitCommEvent(c1)",
                              "GetCommModemStatus(c1) -> 10"}));
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched");
}

// The counts outlive the device they were made on, once each.
TEST_F(LineEvents, TheCountsOfALostDeviceAreKeptOnce)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    Key(true);
    Key(false);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Poll(), 0);
    const std::string counted = "; 1 edges recovered between polls, 0 changes found only by refresh";
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched" + counted);
    devices.Unplug("COM5");
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Status(), "COM5 for any UART: not held, WaitCommEvent failed (error 1167); retrying" + counted);
    devices.Plug("COM5");
    devices.Advance(commio::CommIo::RetryIntervalMs);
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched" + counted);
}

TEST_F(LineEvents, AWaitEndingInRemovalLosesTheDeviceAndTheReopenArmsAgain)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    Taken();
    devices.Unplug("COM5");
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Taken(), (Calls{"GetOverlappedResult(c1) fails 1167", "CloseHandle(c1)"}));
    EXPECT_EQ(Status(), "COM5 for any UART: not held, WaitCommEvent failed (error 1167); retrying");
    EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);

    devices.Plug("COM5");
    devices.Advance(commio::CommIo::RetryIntervalMs);
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    const Calls reopen = Taken();
    ASSERT_GE(reopen.size(), 2u);
    EXPECT_EQ(reopen[reopen.size() - 2], "SetCommMask(c2, CTS)");
    EXPECT_EQ(reopen.back(), "WaitCommEvent(c2)");
}

TEST_F(LineEvents, AWaitCancelledWithItsThreadKeepsTheDeviceAndIsArmedAgain)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    Taken();
    devices.EndWaitsWithTheirThread("COM5");
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Taken(), (Calls{"GetOverlappedResult(c1) fails 995", "GetCommModemStatus(c1) -> 00", "WaitCommEvent(c1)",
                              "GetCommModemStatus(c1) -> 00"}));
    EXPECT_EQ(Status().rfind("COM5 for any UART: held,", 0), 0u) << Status();
    Key(true);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), (Calls{"GetOverlappedResult(c1) -> 8", "GetCommModemStatus(c1) -> 10", "WaitCommEvent(c1)",
                              "GetCommModemStatus(c1) -> 10"}));
}

TEST_F(LineEvents, ALostReadCancelsAndCollectsThePendingWaitBeforeTheClose)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    devices.Find("COM5")->failNext = commio::ErrorGenFailure;
    for (int i = 1; i < commio::CommIo::RefreshReads; ++i)
        Poll();
    Taken();
    EXPECT_EQ(Poll(), 0); // the refresh read fails
    EXPECT_EQ(Taken(), (Calls{"GetCommModemStatus(c1) fails 31", "CancelIo(c1)", "CloseHandle(c1)"}));
    EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);
    EXPECT_EQ(devices.WaitsStarted(), devices.WaitsCollected());
}

TEST_F(LineEvents, ReleaseWithAWaitPendingCancelsAndCollectsItFirst)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    Taken();
    EXPECT_EQ(devices.WaitsPending(), 1u);
    io.Release();
    EXPECT_EQ(Taken(), (Calls{"CancelIo(c1)", "CloseHandle(c1)"}));
    EXPECT_EQ(devices.WaitsPending(), 0u);
    EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);
    EXPECT_EQ(devices.HandlesHeld(), 0u);
}

// Nothing waits, at a release or at a loss alike (an unload runs under the
// loader lock): the wait is cancelled, and one the driver hasn't given up
// yet is left to it, its record kept for the driver to complete as the
// handle closes, and freed at the next wait ended or watch begun.
TEST_F(LineEvents, ReleaseCancelsThePendingWaitWithoutWaitingForIt)
{
    for (const bool slow : {false, true}) {
        devices.Reset();
        Open();
        devices.Find("COM5")->slowCancel = slow;
        EXPECT_EQ(Poll(), 0);
        Taken();
        io.Release();
        if (slow)
            EXPECT_EQ(Taken(), (Calls{"CancelIo(c1)", "left to the driver (c1)", "CloseHandle(c1)"}));
        else
            EXPECT_EQ(Taken(), (Calls{"CancelIo(c1)", "CloseHandle(c1)"}));
        EXPECT_EQ(devices.WaitsPending(), 0u) << "the close ended it";
        EXPECT_EQ(devices.WaitsAbandoned(), slow ? 1u : 0u) << "left to the driver, not yet freed";
        EXPECT_EQ(devices.WaitRecordsLive(), 0u) << "every record given back";
        EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);
        EXPECT_EQ(devices.HandlesHeld(), 0u);
    }
}

TEST_F(LineEvents, ARecordLeftToTheDriverIsFreedOnceItGivesItBack)
{
    Open();
    devices.Find("COM5")->slowCancel = true;
    EXPECT_EQ(Poll(), 0);
    devices.Find("COM5")->failNext = commio::ErrorGenFailure;
    for (int i = 1; i < commio::CommIo::RefreshReads; ++i)
        Poll();
    EXPECT_EQ(Poll(), 0); // the refresh read fails: lost, its wait left to the driver
    EXPECT_EQ(devices.WaitsAbandoned(), 1u);
    devices.Advance(commio::CommIo::RetryIntervalMs);
    ASSERT_EQ(io.IsDriverInstalled(), 1); // the reopen's watch frees it
    EXPECT_EQ(devices.WaitsAbandoned(), 0u);
    EXPECT_EQ(devices.WaitRecordsLive(), 1u);
}

// Between two polls: a list of key levels the device goes through; then
// what each of the next polls answers.
struct Between {
    const char *name;
    bool before; // the key as the host last saw it
    std::vector<bool> levels;
    std::vector<int> polls;
};

std::ostream &operator<<(std::ostream &os, const Between &b) { return os << b.name; }

class MissedEdges : public LineEvents, public ::testing::WithParamInterface<Between> {};

TEST_P(MissedEdges, AreShownOnceAtTheNextKeyReads)
{
    Open();
    Key(GetParam().before);
    EXPECT_EQ(Poll(), GetParam().before ? 1 : 0);
    for (bool level : GetParam().levels)
        Key(level);
    std::vector<int> polls;
    for (std::size_t i = 0; i < GetParam().polls.size(); ++i)
        polls.push_back(Poll());
    EXPECT_EQ(polls, GetParam().polls);
}

INSTANTIATE_TEST_SUITE_P(Table, MissedEdges,
    ::testing::Values(Between{"PressAndRelease", false, {true, false}, {1, 0, 0}},
                      Between{"ReleaseAndPress", true, {false, true}, {0, 1, 1}},
                      Between{"Press", false, {true}, {1, 1, 1}},
                      Between{"TwoPressesAreAtLeastOne", false, {true, false, true, false}, {1, 0, 0}},
                      Between{"NothingChanged", true, {}, {1, 1}}),
    [](const ::testing::TestParamInfo<Between> &p) { return std::string(p.param.name); });

TEST_F(LineEvents, ReadsOfOtherBitsNeitherUseUpNorHideAMissedPress)
{
    Open();
    EXPECT_EQ(Poll(), 0);
    Key(true);
    Key(false);
    EXPECT_EQ(io.GetPortBit(0x3FE, 5), 0); // DSR: reads the device, the press waits
    EXPECT_EQ(io.GetPortBit(0x3FE, 7), 0);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched; "
                        "1 edges recovered between polls, 0 changes found only by refresh");
}

TEST_F(LineEvents, AMissedPressOfAWiredLineShowsAsCtsThroughTheWholeRegister)
{
    devices.Plug("COM5").refuseEvents = 0;
    Open("any = COM5 line=DSR invert");
    EXPECT_EQ(io.PortIn(0x3FE) & 0x10, 0x10); // DSR low, inverted: pressed... the key starts down
    devices.SetInput("COM5", uart::ModemLine::Dsr, true);  // up
    devices.SetInput("COM5", uart::ModemLine::Dsr, false); // down again
    EXPECT_EQ(io.PortIn(0x3FE) & 0x11, 0x01); // shown up, with its delta
    EXPECT_EQ(io.PortIn(0x3FE) & 0x11, 0x11); // and down again
}

// The key library itself over the io.dll core, polling every 50 ms.
class EventsEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        NewCommioWorld();
        devices.Plug("COM5").refuseEvents = 0;
        TheCommIo().Configure(commio::ParsePortMap("any = COM5").uarts);
        library::portState = library::PortState{};
        library::Load();
        ZelbinStartListen("COM5;3F8h");
    }
    void TearDown() override
    {
        ZelbinStopListen();
        library::Unload();
        TheCommIo().Release();
        EXPECT_EQ(devices.HandlesHeld(), 0u);
        EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);
    }
    int Poll()
    {
        devices.Advance(50);
        return ZelbinIsZBToggle();
    }
    void Key(bool down) { devices.SetInput("COM5", uart::ModemLine::Cts, down); }
    sim::ComDevices &devices = TheComDevices();
};

TEST_F(EventsEndToEnd, AOneMillisecondPressBetweenTwoPollsIsReportedOnce)
{
    int presses = 0;
    for (int i = 0; i < 4; ++i)
        presses += Poll();
    devices.Advance(20);
    Key(true);
    devices.Advance(1);
    Key(false);
    for (int i = 0; i < 10; ++i)
        presses += Poll();
    EXPECT_EQ(presses, 1);
}

TEST_F(EventsEndToEnd, APressHeldAcrossManyPollsIsOnePress)
{
    int presses = Poll();
    Key(true);
    for (int i = 0; i < 40; ++i)
        presses += Poll();
    Key(false);
    for (int i = 0; i < 5; ++i)
        presses += Poll();
    EXPECT_EQ(presses, 1);
}

TEST_F(EventsEndToEnd, AReleaseAndPressBetweenTwoPollsIsOnePress)
{
    Key(true);
    int presses = 0;
    for (int i = 0; i < 5; ++i)
        presses += Poll();
    EXPECT_EQ(presses, 1);
    Key(false);
    Key(true);
    presses = 0;
    for (int i = 0; i < 5; ++i)
        presses += Poll();
    EXPECT_EQ(presses, 1);
}

TEST_F(EventsEndToEnd, QuietPollsMakeNoDeviceCall)
{
    Poll();
    const std::uint64_t before = devices.ModemStatusCalls();
    for (int i = 0; i < 50; ++i) {
        devices.Advance(1);
        ZelbinIsZBToggle();
    }
    // The refreshes only: one read in every RefreshReads polls.
    EXPECT_LE(devices.ModemStatusCalls() - before, 50u / commio::CommIo::RefreshReads);
}

} // namespace
