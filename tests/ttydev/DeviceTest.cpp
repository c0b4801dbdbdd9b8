// The scripted device's driver: what each behaviour answers to Wine's
// threads, the counts, the outputs and their record, and removal.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "ttydev/Device.h"

namespace {

using namespace ttydev;

constexpr std::int64_t Ms = 1000000;

struct Fixture {
    std::unique_ptr<SharedState> state = std::make_unique<SharedState>();
    Device device{*state};
    int plug = 0;

    Fixture(Behaviour behaviour, std::uint32_t keyLine, std::vector<std::pair<int, bool>> changes)
    {
        Initialise(*state, behaviour, keyLine);
        plug = AddPlug(*state, 0x8801, 0);
        std::vector<Change> made;
        for (const auto &[ms, down] : changes)
            made.push_back(Change{ms * Ms, down, 0});
        EXPECT_TRUE(PublishChanges(*state, made.data(), static_cast<std::uint32_t>(made.size())));
    }
    std::uint32_t Read(Caller caller, int ms)
    {
        std::uint32_t lines = 0xDEAD;
        EXPECT_EQ(device.ReadLines(plug, caller, ms * Ms, lines), 0);
        return lines;
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
    Fixture f(GetParam().behaviour, GetParam().keyLine, {{10, true}, {30, false}});
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
        EXPECT_EQ(Fixture(behaviour, LineCts, {}).device.ReadDelayNs(), behaviour == Behaviour::Slow ? SlowReadNs : 0);
}

TEST(ScriptedDevice, StaleReadsAnswerTheLinesOfTheLastCompletedWait)
{
    Fixture stale(Behaviour::Stale, LineCts, {{10, true}, {30, false}});
    EXPECT_EQ(stale.Read(Caller::Program, 15), 0u) << "no wait has completed: stale zeros";
    EXPECT_EQ(stale.Read(Caller::Wait, 16), LineCts);
    EXPECT_EQ(stale.Read(Caller::Program, 40), LineCts) << "released, but no wait has read it";
    EXPECT_EQ(stale.Read(Caller::Wait, 41), 0u);
    EXPECT_EQ(stale.Read(Caller::Program, 42), 0u);

    Fixture uart(Behaviour::Uart, LineCts, {{10, true}, {30, false}});
    EXPECT_EQ(uart.Read(Caller::Program, 15), LineCts);
    EXPECT_EQ(uart.Read(Caller::Program, 40), 0u);
}

TEST(ScriptedDevice, TellsTheWaitThreadEveryChangeInOrderAndTheProgramTheLevel)
{
    // Two presses of 2 ms, both over before any wait thread reads.
    Fixture f(Behaviour::Uart, LineCts, {{10, true}, {12, false}, {14, true}, {16, false}});
    EXPECT_EQ(f.Read(Caller::Program, 20), 0u);
    const std::vector<std::uint32_t> told = {f.Read(Caller::Wait, 20), f.Read(Caller::Wait, 20),
                                             f.Read(Caller::Wait, 21), f.Read(Caller::Wait, 21),
                                             f.Read(Caller::Wait, 22)};
    EXPECT_EQ(told, (std::vector<std::uint32_t>{LineCts, 0, LineCts, 0, 0}));
}

TEST(ScriptedDevice, TellsAWaitNothingThatChangedBeforeItBegan)
{
    Fixture f(Behaviour::Uart, LineCts, {{10, true}, {12, false}, {14, true}});
    EXPECT_EQ(f.Read(Caller::WaitStart, 15), LineCts);
    EXPECT_EQ(f.Read(Caller::Wait, 16), LineCts) << "the level, not the press and release before the wait";
    EXPECT_EQ(f.Read(Caller::Wait, 17), LineCts);

    Fixture stale(Behaviour::Stale, LineCts, {{10, true}, {12, false}, {14, true}});
    EXPECT_EQ(stale.Read(Caller::WaitStart, 15), 0u) << "the wait compares with the stale lines";
    EXPECT_EQ(stale.Read(Caller::Wait, 16), LineCts);
}

TEST(ScriptedDevice, CountsTheKeyLinesChangesSinceThePlugIn)
{
    Fixture f(Behaviour::Uart, LineDsr, {{10, true}, {20, false}, {30, true}, {40, false}});
    LineCounts counts{};
    ASSERT_EQ(f.device.ReadCounts(f.plug, 35 * Ms, counts), 0);
    EXPECT_EQ(counts.dsr, 3);
    EXPECT_EQ(counts.cts + counts.rng + counts.dcd, 0);

    SetPlugEnd(*f.state, f.plug, 25 * Ms);
    const int again = AddPlug(*f.state, 0x8802, 26 * Ms);
    ASSERT_EQ(f.device.ReadCounts(again, 45 * Ms, counts), 0);
    EXPECT_EQ(counts.dsr, 2) << "a new plug-in counts from its own start";

    Fixture cdc(Behaviour::Cdc, LineCts, {{10, true}, {20, false}});
    ASSERT_EQ(cdc.device.ReadCounts(cdc.plug, 35 * Ms, counts), 0);
    EXPECT_EQ(counts.cts, 0) << "a line the adapter doesn't report isn't counted";
}

TEST(ScriptedDevice, KeepsAndRecordsTheOutputsAsSetInAnyBehaviour)
{
    Fixture f(Behaviour::Stale, LineCts, {});
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
    Fixture f(Behaviour::Uart, LineCts, {});
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
    Fixture f(Behaviour::Uart, LineCts, {{10, true}, {60, false}});
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

TEST(ScriptedDevice, TakesOnlyChangesOfLevelInTimeOrderOnce)
{
    const auto publish = [](std::vector<Change> changes) {
        auto state = std::make_unique<SharedState>();
        Initialise(*state, Behaviour::Uart, LineCts);
        return PublishChanges(*state, changes.data(), static_cast<std::uint32_t>(changes.size())) &&
               !PublishChanges(*state, changes.data(), static_cast<std::uint32_t>(changes.size()));
    };
    EXPECT_TRUE(publish({{1, 1, 0}, {2, 0, 0}, {2, 1, 0}}));
    EXPECT_FALSE(publish({{1, 0, 0}}));
    EXPECT_FALSE(publish({{1, 1, 0}, {2, 1, 0}}));
    EXPECT_FALSE(publish({{5, 1, 0}, {2, 0, 0}}));
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
