// The scripted device's driver: what each behaviour answers to Wine's
// threads, with the key and the other lines moving, DSR following DTR,
// the counts, the outputs and their record, and removal.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "ttydev/Device.h"
#include "ttydev/Records.h"
#include "ttydev/Script.h"

namespace {

using namespace ttydev;

constexpr std::int64_t Ms = 1000000;

struct Fixture {
    std::unique_ptr<SharedState> state = std::make_unique<SharedState>();
    Device device{*state};
    int plug = 0;

    // The script's times from 0 ns on.
    Fixture(Behaviour behaviour, std::uint32_t keyLine, const std::string &script, std::uint32_t options = 0)
    {
        Initialise(*state, behaviour, keyLine, options);
        plug = AddPlug(*state, 0x8801, 0);
        DeviceScript parsed;
        std::string error;
        EXPECT_TRUE(ParseDeviceScript(script, parsed, error)) << error;
        const std::vector<InputChange> made = InputChanges(parsed, keyLine, 0);
        EXPECT_TRUE(PublishChanges(*state, made.data(), static_cast<std::uint32_t>(made.size())));
    }
    std::uint32_t Read(Caller caller, double ms)
    {
        std::uint32_t lines = 0xDEAD;
        EXPECT_EQ(device.ReadLines(plug, caller, static_cast<std::int64_t>(ms * Ms), lines), 0);
        return lines;
    }
    void SetDtr(bool on, double ms)
    {
        EXPECT_EQ(device.SetLines(plug, on ? Request::LinesRaise : Request::LinesLower, LineDtr,
                                  static_cast<std::int64_t>(ms * Ms), 7),
                  0);
    }
    // A wait thread's reads at `ms` until it is told nothing new.
    std::vector<std::uint32_t> Told(double ms)
    {
        std::vector<std::uint32_t> told;
        for (std::uint32_t last = ~0u, now; told.size() < 64 && (now = Read(Caller::Wait, ms)) != last; last = now)
            told.push_back(now);
        return told;
    }
};

struct Wiring {
    Behaviour behaviour;
    std::uint32_t keyLine;
    std::uint32_t shown; // the bit a press sets, if any
};

class KeyLineByBehaviour : public ::testing::TestWithParam<Wiring> {};

TEST_P(KeyLineByBehaviour, ShowsThePressOnItsLineOnly)
{
    Fixture f(GetParam().behaviour, GetParam().keyLine, "press@10 release@30");
    EXPECT_EQ(f.Read(Caller::Wait, 20), GetParam().shown);
    EXPECT_EQ(f.Read(Caller::Program, 20), GetParam().shown);
    EXPECT_EQ(f.Read(Caller::Wait, 40), 0u);
    EXPECT_EQ(f.Read(Caller::Program, 40), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyLineByBehaviour, ::testing::Values(
    Wiring{Behaviour::Uart, LineCts, LineCts}, Wiring{Behaviour::Uart, LineRi, LineRi},
    Wiring{Behaviour::Stale, LineDcd, LineDcd}, Wiring{Behaviour::Slow, LineDsr, LineDsr},
    // A CDC-class adapter reports DSR, DCD and RI, and never CTS.
    Wiring{Behaviour::Cdc, LineCts, 0}, Wiring{Behaviour::Cdc, LineDsr, LineDsr},
    Wiring{Behaviour::Cdc, LineDcd, LineDcd}));

TEST(ScriptedDevice, OnlySlowReadsTakeTime)
{
    for (const Behaviour behaviour : {Behaviour::Uart, Behaviour::Stale, Behaviour::Cdc, Behaviour::Slow})
        EXPECT_EQ(Fixture(behaviour, LineCts, "").device.ReadDelayNs(), behaviour == Behaviour::Slow ? SlowReadNs : 0);
}

TEST(ScriptedDevice, StaleReadsAnswerTheLinesOfTheLastCompletedWait)
{
    Fixture stale(Behaviour::Stale, LineCts, "press@10 release@30");
    EXPECT_EQ(stale.Read(Caller::Program, 15), 0u) << "no wait has completed: stale zeros";
    EXPECT_EQ(stale.Read(Caller::Wait, 16), LineCts);
    EXPECT_EQ(stale.Read(Caller::Program, 40), LineCts) << "released, but no wait has read it";
    EXPECT_EQ(stale.Read(Caller::Wait, 41), 0u);
    EXPECT_EQ(stale.Read(Caller::Program, 42), 0u);

    Fixture uart(Behaviour::Uart, LineCts, "press@10 release@30");
    EXPECT_EQ(uart.Read(Caller::Program, 15), LineCts);
    EXPECT_EQ(uart.Read(Caller::Program, 40), 0u);
}

TEST(ScriptedDevice, TellsTheWaitThreadEveryChangeInOrderAndTheProgramTheLevel)
{
    // Two presses of 2 ms, both over before any wait thread reads.
    Fixture f(Behaviour::Uart, LineCts, "press@10 release@12 press@14 release@16");
    EXPECT_EQ(f.Read(Caller::Program, 20), 0u);
    const std::vector<std::uint32_t> told = {f.Read(Caller::Wait, 20), f.Read(Caller::Wait, 20),
                                             f.Read(Caller::Wait, 21), f.Read(Caller::Wait, 21),
                                             f.Read(Caller::Wait, 22)};
    EXPECT_EQ(told, (std::vector<std::uint32_t>{LineCts, 0, LineCts, 0, 0}));
    const Record record = Collect(*f.state, 0, {});
    ASSERT_EQ(record.changes.size(), 4u);
    EXPECT_EQ(record.changes[0].toldNs, 20 * Ms) << "kept for the oracle: when the driver was told";
    EXPECT_EQ(record.changes[3].toldNs, 21 * Ms);
}

TEST(ScriptedDevice, ShowsAWaitTheLevelNotTheChangesBeforeItBegan)
{
    Fixture f(Behaviour::Uart, LineCts, "press@10 release@12 press@14");
    EXPECT_EQ(f.Read(Caller::WaitStart, 15), LineCts);
    EXPECT_EQ(f.Read(Caller::Wait, 16), LineCts) << "the level, not the press and release before the wait";
    EXPECT_EQ(f.Read(Caller::Wait, 17), LineCts);
    const std::vector<Change> uart = Collect(*f.state, 0, {}).changes;
    ASSERT_EQ(uart.size(), 3u);
    EXPECT_EQ(uart[0].toldNs, 0) << "no wait thread was told of it";
    EXPECT_EQ(uart[1].toldNs, 0);
    EXPECT_EQ(uart[2].toldNs, 16 * Ms) << "the level it was shown";

    Fixture stale(Behaviour::Stale, LineCts, "press@10 release@12 press@14 dsr-pulse@20/2 release@30");
    EXPECT_EQ(stale.Read(Caller::WaitStart, 15), 0u) << "the wait compares with the stale lines";
    EXPECT_EQ(stale.Read(Caller::Wait, 16), LineCts);
    EXPECT_EQ(stale.Read(Caller::Wait, 25), LineCts | LineDsr);
    const std::vector<Change> changes = Collect(*stale.state, 0, {}).changes;
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_EQ(changes[1].toldNs, 0) << "changed before the wait, and never shown";
    EXPECT_EQ(changes[2].toldNs, 16 * Ms) << "the stale start hid it: shown at the wait thread's first read";
    EXPECT_EQ(changes[3].toldNs, 0);
}

TEST(ScriptedDevice, AnotherLinesChangeShowsTheKeyLineAsItIsThen)
{
    // The key pressed just before a new wait began on stale lines; its
    // thread sleeps until DSR's pulse, which shows the press along with it.
    Fixture f(Behaviour::Stale, LineCts, "press@10 dsr-pulse@20/2 release@30");
    EXPECT_EQ(f.Read(Caller::WaitStart, 12), 0u);
    EXPECT_EQ(f.Read(Caller::Wait, 21), LineCts | LineDsr);
    const std::vector<Change> changes = Collect(*f.state, 0, {}).changes;
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].toldNs, 21 * Ms);
    EXPECT_EQ(changes[1].toldNs, 0);
}

// What a program thread and then a wait thread read at one moment, with
// other lines moving and DTR set along the way.
struct LinesCase {
    const char *what;
    Behaviour behaviour;
    std::uint32_t keyLine, options;
    const char *script;
    std::vector<std::pair<double, bool>> dtr; // DTR set on or off, ms
    double readMs;
    std::uint32_t program;
    std::vector<std::uint32_t> told; // a wait thread's reads, one after the other
};

std::ostream &operator<<(std::ostream &os, const LinesCase &c) { return os << c.what; }

class OtherLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(OtherLines, TellTheWaitThreadOneChangePerReadInOrderAndTheProgramTheLinesNow)
{
    const LinesCase &c = GetParam();
    Fixture f(c.behaviour, c.keyLine, c.script, c.options);
    for (const auto &[ms, on] : c.dtr)
        f.SetDtr(on, ms);
    EXPECT_EQ(f.Read(Caller::Program, c.readMs), c.program);
    std::vector<std::uint32_t> told;
    for (std::size_t i = 0; i < c.told.size(); ++i)
        told.push_back(f.Read(Caller::Wait, c.readMs));
    EXPECT_EQ(told, c.told);
}

constexpr std::uint32_t Cts = LineCts, Dsr = LineDsr, Dcd = LineDcd, Ri = LineRi, Dtr = LineDtr;

INSTANTIATE_TEST_SUITE_P(Cases, OtherLines, ::testing::Values(
    LinesCase{"pulses around the key's edges, each change told", Behaviour::Uart, Cts, 0,
              "dsr-pulse@10/0.5 press@10 ri-pulse@11/0.2 release@12", {}, 20, 0,
              {Dsr, Dsr | Cts, Cts, Cts | Ri, Cts, 0, 0}},
    LinesCase{"levels of every line", Behaviour::Uart, Cts, 0, "press@10 dsr-on@12 dcd-pulse@14/2 ri-on@20", {}, 15,
              Cts | Dsr | Dcd, {Cts, Cts | Dsr, Cts | Dsr | Dcd, Cts | Dsr | Dcd}},
    LinesCase{"a line's word that leaves it as it is", Behaviour::Uart, Cts, 0, "dcd-on@5 dcd-on@6 dcd-off@7 dcd-off@8",
              {}, 10, 0, {Dcd, 0, 0}},
    LinesCase{"a CDC-class adapter: CTS never, the others", Behaviour::Cdc, Dsr, 0, "cts-on@5 press@10 dcd-on@12", {},
              15, Dsr | Dcd, {0, Dsr, Dsr | Dcd, Dsr | Dcd}},
    LinesCase{"stale: the lines a wait thread last read", Behaviour::Stale, Cts, 0, "dsr-on@5 press@10", {}, 15, 0,
              {Dsr, Dsr | Cts}},
    LinesCase{"slow: the same changes, one per read", Behaviour::Slow, Dcd, 0, "ri-pulse@5/1 press@10", {}, 15,
              Dcd, {Ri, 0, Dcd, Dcd}},
    LinesCase{"DSR follows DTR as it is set", Behaviour::Uart, Cts, DsrFollowsDtr, "", {{20, true}}, 20, Dsr | Dtr,
              {Dsr | Dtr, Dsr | Dtr}},
    LinesCase{"DSR following DTR told among the key's changes", Behaviour::Uart, Cts, DsrFollowsDtr,
              "press@10 release@30", {{20, true}, {25, false}}, 40, 0, {Cts, Cts | Dsr, Cts, 0, 0}},
    LinesCase{"DSR following DTR over the script's DSR", Behaviour::Uart, Cts, DsrFollowsDtr, "dsr-on@5 press@10",
              {{20, true}}, 40, Cts | Dsr | Dtr, {Dtr, Cts | Dtr, Cts | Dsr | Dtr}},
    LinesCase{"DSR following DTR, stale", Behaviour::Stale, Dcd, DsrFollowsDtr, "press@10", {{20, true}}, 40, Dtr,
              {Dcd | Dtr, Dcd | Dsr | Dtr, Dcd | Dsr | Dtr}},
    LinesCase{"DSR following DTR behind a CDC-class adapter", Behaviour::Cdc, Cts, DsrFollowsDtr, "press@10",
              {{20, true}}, 40, Dsr | Dtr, {Dtr, Dsr | Dtr}}));

TEST(ScriptedDevice, TellsAWaitNoOtherLineNorDsrFollowingDtrThatChangedBeforeItBegan)
{
    Fixture f(Behaviour::Uart, LineCts, "dsr-pulse@10/1 press@12 ri-pulse@13/1", DsrFollowsDtr);
    f.SetDtr(true, 11);
    EXPECT_EQ(f.Read(Caller::WaitStart, 15), LineCts | LineDsr | LineDtr);
    EXPECT_EQ(f.Read(Caller::Wait, 16), LineCts | LineDsr | LineDtr);
    f.SetDtr(false, 17);
    EXPECT_EQ(f.Read(Caller::Wait, 18), LineCts) << "DSR following DTR off, told";
}

TEST(ScriptedDevice, DsrFollowsEachPlugInsOwnDtrFromOff)
{
    Fixture f(Behaviour::Uart, LineCts, "", DsrFollowsDtr);
    f.SetDtr(true, 5);
    SetPlugEnd(*f.state, f.plug, 10 * Ms);
    f.plug = AddPlug(*f.state, 0x8802, 11 * Ms);
    EXPECT_EQ(f.Read(Caller::Program, 12), 0u) << "a new plug-in's DTR is off, and so its DSR";
    EXPECT_EQ(f.Read(Caller::Wait, 12), 0u) << "its predecessor's DSR is not told";
    f.SetDtr(true, 13);
    EXPECT_EQ(f.Read(Caller::Wait, 14), LineDsr | LineDtr);
}

TEST(ScriptedDevice, FollowsOnlyChangesOfDtr)
{
    for (const std::uint32_t options : {0u, DsrFollowsDtr}) {
        Fixture f(Behaviour::Uart, LineCts, "", options);
        for (const auto &[request, bits] : std::vector<std::pair<Request, std::uint32_t>>{
                 {Request::LinesRaise, LineDtr}, {Request::LinesRaise, LineDtr | LineRts},
                 {Request::LinesSet, LineDtr}, {Request::LinesLower, LineRts}, {Request::LinesSet, LineRts}})
            ASSERT_EQ(f.device.SetLines(f.plug, request, bits, 1 * Ms, 1), 0);
        EXPECT_EQ(f.state->loopCount, options ? 2u : 0u) << "DTR on, then off";
        EXPECT_EQ(f.state->setCount, 5u);
    }
}

TEST(ScriptedDevice, CountsEachInputLinesChangesAsAUartDoes)
{
    LineCounts counts{};
    Fixture f(Behaviour::Uart, LineCts, "press@10 dsr-pulse@12 ri-pulse@14 ri-pulse@16 ri-on@17 dcd-on@18");
    ASSERT_EQ(f.device.ReadCounts(f.plug, 20 * Ms, counts), 0);
    EXPECT_EQ(counts.cts, 1);
    EXPECT_EQ(counts.dsr, 2);
    EXPECT_EQ(counts.rng, 2) << "RI at its trailing edges";
    EXPECT_EQ(counts.dcd, 1);

    Fixture looped(Behaviour::Cdc, LineCts, "press@10 dsr-pulse@12", DsrFollowsDtr);
    looped.SetDtr(true, 13);
    looped.SetDtr(false, 14);
    looped.SetDtr(true, 15);
    ASSERT_EQ(looped.device.ReadCounts(looped.plug, 20 * Ms, counts), 0);
    EXPECT_EQ(counts.dsr, 3) << "DSR as DTR made it";
    EXPECT_EQ(counts.cts, 0);
}

TEST(ScriptedDevice, CountsTheKeyLinesChangesSinceThePlugIn)
{
    Fixture f(Behaviour::Uart, LineDsr, "press@10 release@20 press@30 release@40");
    LineCounts counts{};
    ASSERT_EQ(f.device.ReadCounts(f.plug, 35 * Ms, counts), 0);
    EXPECT_EQ(counts.dsr, 3);
    EXPECT_EQ(counts.cts + counts.rng + counts.dcd, 0);

    SetPlugEnd(*f.state, f.plug, 25 * Ms);
    const int again = AddPlug(*f.state, 0x8802, 26 * Ms);
    ASSERT_EQ(f.device.ReadCounts(again, 45 * Ms, counts), 0);
    EXPECT_EQ(counts.dsr, 2) << "a new plug-in counts from its own start";

    Fixture cdc(Behaviour::Cdc, LineCts, "press@10 release@20");
    ASSERT_EQ(cdc.device.ReadCounts(cdc.plug, 35 * Ms, counts), 0);
    EXPECT_EQ(counts.cts, 0) << "a line the adapter doesn't report isn't counted";
}

TEST(ScriptedDevice, KeepsAndRecordsTheOutputsAsSetInAnyBehaviour)
{
    Fixture f(Behaviour::Stale, LineCts, "");
    ASSERT_EQ(f.device.SetLines(f.plug, Request::LinesRaise, LineDtr | LineCts, 1 * Ms, 41), 0);
    EXPECT_EQ(f.Read(Caller::Program, 2), LineDtr) << "outputs are never stale; inputs can't be set";
    ASSERT_EQ(f.device.SetLines(f.plug, Request::LinesSet, LineRts, 3 * Ms, 41), 0);
    ASSERT_EQ(f.device.SetLines(f.plug, Request::LinesLower, LineRts, 4 * Ms, 42), 0);
    EXPECT_EQ(f.Read(Caller::Wait, 5), 0u);
    ASSERT_EQ(f.state->setCount, 3u);
    EXPECT_EQ(f.state->sets[0].outputs, LineDtr);
    EXPECT_EQ(f.state->sets[1].outputs, LineRts);
    EXPECT_EQ(f.state->sets[2].outputs, 0u);
    EXPECT_EQ(f.state->sets[2].tid, 42);
    EXPECT_EQ(f.state->sets[2].atNs, 4 * Ms);
}

TEST(ScriptedDevice, RecordsProgramCallsAndOnlyCountsTheWaitThreads)
{
    Fixture f(Behaviour::Uart, LineCts, "");
    f.device.Note(f.plug, Caller::Program, Request::StatusRead, 7 * Ms, 99);
    f.device.Note(f.plug, Caller::Wait, Request::CountsRead, 8 * Ms, 100);
    f.device.Note(f.plug, Caller::Wait, Request::StatusRead, 8 * Ms, 100);
    ASSERT_EQ(f.state->callCount, 1u);
    EXPECT_EQ(f.state->calls[0].tid, 99);
    EXPECT_EQ(f.state->calls[0].kind, static_cast<std::uint16_t>(CallKind::StatusRead));
    EXPECT_EQ(f.state->waitCalls, 2u);
}

TEST(ScriptedDevice, APulledOutDeviceFailsEveryCallAndItsSuccessorWorks)
{
    Fixture f(Behaviour::Uart, LineCts, "press@10 release@60");
    SetPlugEnd(*f.state, f.plug, 50 * Ms);
    std::uint32_t lines = 0;
    LineCounts counts{};
    EXPECT_EQ(f.device.ReadLines(f.plug, Caller::Program, 49 * Ms, lines), 0);
    EXPECT_EQ(f.device.ReadLines(f.plug, Caller::Wait, 50 * Ms, lines), EIO);
    EXPECT_EQ(f.device.SetLines(f.plug, Request::LinesRaise, LineDtr, 50 * Ms, 1), EIO);
    EXPECT_EQ(f.device.ReadCounts(f.plug, 51 * Ms, counts), EIO);

    // The pseudo-terminal's number comes back for the next plug-in.
    const int again = AddPlug(*f.state, 0x8801, 55 * Ms);
    EXPECT_EQ(f.device.PlugOf(0x8801), again);
    EXPECT_EQ(f.device.PlugOf(0x8899), -1);
    EXPECT_EQ(f.device.ReadLines(again, Caller::Program, 56 * Ms, lines), 0);
    EXPECT_EQ(lines, LineCts) << "the key still held when it comes back";
    EXPECT_EQ(f.device.ReadLines(again, Caller::Wait, 56 * Ms, lines), 0);
    EXPECT_EQ(lines, LineCts) << "changes before the plug-in aren't told as events";
}

TEST(ScriptedDevice, TakesOnlyChangesOfOneInputLineInTimeOrderOnce)
{
    const auto publish = [](std::vector<InputChange> changes) {
        auto state = std::make_unique<SharedState>();
        Initialise(*state, Behaviour::Uart, LineCts);
        return PublishChanges(*state, changes.data(), static_cast<std::uint32_t>(changes.size())) &&
               !PublishChanges(*state, changes.data(), static_cast<std::uint32_t>(changes.size()));
    };
    EXPECT_TRUE(publish({{1, LineCts, LineCts, {}}, {2, LineDsr, LineCts | LineDsr, {}}, {2, LineCts, LineDsr, {}}}));
    EXPECT_FALSE(publish({{1, LineCts, 0, {}}})) << "no change";
    EXPECT_FALSE(publish({{1, LineCts, LineCts | LineDsr, {}}})) << "two lines at once";
    EXPECT_FALSE(publish({{1, LineDtr, LineDtr, {}}})) << "an output";
    EXPECT_FALSE(publish({{5, LineCts, LineCts, {}}, {2, LineCts, 0, {}}})) << "out of order";
}

struct RoleCase {
    const char *who;
    std::vector<Request> calls;
    std::vector<Caller> roles;
};

class ThreadRoles : public ::testing::TestWithParam<RoleCase> {};

TEST_P(ThreadRoles, TellWinesWaitThreadsFromTheProgramsByTheirCalls)
{
    ThreadRole role;
    std::vector<Caller> got;
    for (const Request call : GetParam().calls)
        got.push_back(role.Observe(call));
    EXPECT_EQ(got, GetParam().roles) << GetParam().who;
}

constexpr Request Counts = Request::CountsRead, Status = Request::StatusRead, Set = Request::LinesSet;
constexpr Caller W = Caller::Wait, P = Caller::Program, S = Caller::WaitStart;

INSTANTIATE_TEST_SUITE_P(Cases, ThreadRoles, ::testing::Values(
    RoleCase{"Wine's wait thread", {Counts, Status, Counts, Status}, {W, W, W, W}},
    RoleCase{"open, escape, then a wait start", {Status, Status, Set, Counts, Status}, {P, P, P, P, S}},
    RoleCase{"a read alone, then a wait start, then a read", {Status, Counts, Status, Status}, {P, P, S, P}},
    RoleCase{"a thread that sets lines after pair reads", {Counts, Status, Set, Counts, Status},
             {W, W, P, P, S}}));

} // namespace
