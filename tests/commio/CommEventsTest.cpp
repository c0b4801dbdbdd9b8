// Line changes learnt from the driver's comm events: the waits the io.dll
// keeps pending, the calls a poll makes or doesn't, presses that fall
// between two polls, and the waits' end at a loss or at unload.
#include <string>
#include <vector>

#include "CommIoTest.h"
#include "CommioWorld.h"
#include "Zelbin_Serial.h"
#include "library/Zelbin_SerialCore.h"

namespace {

class CommEvents : public CommIoTest {
protected:
    // COM5 with comm events, claimed, event calls recorded, record cleared.
    void Watched(const char *portMap = "any = COM5")
    {
        devices.Plug("COM5").refuseEvents = 0;
        devices.SetRecordingEvents(true);
        Map(portMap);
        ASSERT_EQ(io.IsDriverInstalled(), 1);
        devices.TakeCalls();
    }
    int Poll() { return io.GetPortBit(0x3FE, 4); }
    void Key(bool down) { devices.SetInput("COM5", commio::ModemCts, down); }
    std::string Status() { return io.Status(); }
};

TEST_F(CommEvents, OpenArmsAWaitAfterTheMaskAndAQuietPollMakesNoCall)
{
    devices.Plug("COM5").refuseEvents = 0;
    devices.SetRecordingEvents(true);
    Map("any = COM5");
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c1", "SetCommState(c1, dtr off, rts off)",
                              "SetCommMask(c1, CTS DSR RLSD RING)", "WaitCommEvent(c1)"}));
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Taken(), Calls{"GetCommModemStatus(c1) -> 00"}); // the first read after the open
    for (int i = 1; i < commio::CommIo::RefreshReads; ++i) {
        EXPECT_EQ(Poll(), 0);
        devices.Advance(4);
    }
    EXPECT_EQ(Taken(), Calls{}) << "no call, not even for the time";

    Key(true);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), (Calls{"GetOverlappedResult(c1) -> 8", "GetCommModemStatus(c1) -> 10", "WaitCommEvent(c1)"}));
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), Calls{});
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched");
}

TEST_F(CommEvents, ASilentDriverIsReadAtEveryRefreshReadsThReadAndTheFindIsCounted)
{
    devices.Plug("COM5").silent = true;
    Watched();
    EXPECT_EQ(Poll(), 0);
    Taken();
    Key(true);
    for (int i = 1; i < commio::CommIo::RefreshReads; ++i)
        EXPECT_EQ(Poll(), 0) << i; // nothing signalled, nothing read yet
    EXPECT_EQ(Taken(), Calls{});
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), Calls{"GetCommModemStatus(c1) -> 10"});
    EXPECT_EQ(Status(), "COM5 for any UART: held, line events watched; "
                        "0 edges recovered between polls, 1 changes found only by refresh");
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

class RefusedEvents : public CommEvents, public ::testing::WithParamInterface<Refusal> {};

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

TEST_F(CommEvents, AWaitEndingInRemovalLosesTheDeviceAndTheReopenArmsAgain)
{
    Watched();
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
    EXPECT_EQ(reopen[reopen.size() - 2], "SetCommMask(c2, CTS DSR RLSD RING)");
    EXPECT_EQ(reopen.back(), "WaitCommEvent(c2)");
}

TEST_F(CommEvents, AWaitCancelledWithItsThreadKeepsTheDeviceAndIsArmedAgain)
{
    Watched();
    EXPECT_EQ(Poll(), 0);
    Taken();
    devices.EndWaitsWithTheirThread("COM5");
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Taken(), (Calls{"GetOverlappedResult(c1) fails 995", "GetCommModemStatus(c1) -> 00", "WaitCommEvent(c1)"}));
    EXPECT_EQ(Status().rfind("COM5 for any UART: held,", 0), 0u) << Status();
    Key(true);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Taken(), (Calls{"GetOverlappedResult(c1) -> 8", "GetCommModemStatus(c1) -> 10", "WaitCommEvent(c1)"}));
}

TEST_F(CommEvents, ALostReadCancelsAndCollectsThePendingWaitBeforeTheClose)
{
    Watched();
    EXPECT_EQ(Poll(), 0);
    devices.Find("COM5")->failNext = commio::ErrorGenFailure;
    for (int i = 1; i < commio::CommIo::RefreshReads; ++i)
        Poll();
    Taken();
    EXPECT_EQ(Poll(), 0); // the refresh read fails
    EXPECT_EQ(Taken(), (Calls{"GetCommModemStatus(c1) fails 31", "CancelIo(c1)", "GetOverlappedResult(c1, wait)",
                              "CloseHandle(c1)"}));
    EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);
    EXPECT_EQ(devices.WaitsStarted(), devices.WaitsCollected());
}

TEST_F(CommEvents, ReleaseWithAWaitPendingCancelsAndCollectsItFirst)
{
    Watched();
    EXPECT_EQ(Poll(), 0);
    Taken();
    EXPECT_EQ(devices.WaitsPending(), 1u);
    io.Release();
    EXPECT_EQ(Taken(), (Calls{"CancelIo(c1)", "GetOverlappedResult(c1, wait)", "CloseHandle(c1)"}));
    EXPECT_EQ(devices.WaitsPending(), 0u);
    EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);
    EXPECT_EQ(devices.HandlesHeld(), 0u);
}

// Unloading runs under the loader lock, where nothing may wait: the wait is
// cancelled, and one the driver hasn't given up yet is left to it, its
// record kept alive, never freed, for the driver to complete into.
TEST_F(CommEvents, AnUnloadCancelsThePendingWaitWithoutWaitingForIt)
{
    for (const bool slow : {false, true}) {
        devices.Reset();
        Watched();
        devices.Find("COM5")->slowCancel = slow;
        EXPECT_EQ(Poll(), 0);
        Taken();
        io.Release(/*unloading*/ true);
        if (slow)
            EXPECT_EQ(Taken(), (Calls{"CancelIo(c1)", "left to the driver (c1)", "CloseHandle(c1)"}));
        else
            EXPECT_EQ(Taken(), (Calls{"CancelIo(c1)", "GetOverlappedResult(c1, wait)", "CloseHandle(c1)"}));
        EXPECT_EQ(devices.WaitsAbandoned(), slow ? 1u : 0u);
        EXPECT_EQ(devices.WaitRecordsLive(), 0u) << "every record given back";
        EXPECT_EQ(devices.ClosedWithWaitPending(), 0u);
        EXPECT_EQ(devices.HandlesHeld(), 0u);
    }
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

class MissedEdges : public CommEvents, public ::testing::WithParamInterface<Between> {};

TEST_P(MissedEdges, AreShownOnceAtTheNextKeyReads)
{
    Watched();
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

TEST_F(CommEvents, ReadsOfOtherBitsNeitherUseUpNorHideAMissedPress)
{
    Watched();
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

TEST_F(CommEvents, AMissedPressOfAWiredLineShowsAsCtsThroughTheWholeRegister)
{
    devices.Plug("COM5").refuseEvents = 0;
    Watched("any = COM5 line=DSR invert");
    EXPECT_EQ(io.PortIn(0x3FE) & 0x10, 0x10); // DSR low, inverted: pressed... the key starts down
    devices.SetInput("COM5", commio::ModemDsr, true);  // up
    devices.SetInput("COM5", commio::ModemDsr, false); // down again
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
    void Key(bool down) { devices.SetInput("COM5", commio::ModemCts, down); }
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
