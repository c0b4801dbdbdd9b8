// The rule that shows each press once, on its own: what it keeps (the
// baseline, the changes owed, an event since the last read, the mark of a
// wait that may tell of a change the reads counted) and where each is set,
// used up or left alone.
//
// Steps, a token each: `e` a wait ended telling of the key, `n` one that
// told nothing of it (or ended at once as it started); `sN`, `aN`, `wN`,
// `uN` a read with the key at N: settling (a wait ended, the next not yet
// started), armed (the first after the next wait started), while a wait is
// pending, with no events at all, `gN` after a wait ended but before it
// was given back; `k` the host reads the key bit, `o`
// another bit. The answer: the key bit at each `k`, and `*` where a read
// asks for the wait to be started afresh.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "commio/KeyLineTracker.h"

namespace {

using Read = commio::KeyLineTracker::Read;
constexpr std::uint8_t kKey = 0x20; // the key on DSR: any status bit will do

struct Steps {
    const char *name;
    const char *steps;
    const char *answers;
};

std::ostream &operator<<(std::ostream &os, const Steps &s) { return os << s.name; }

std::string Drive(commio::KeyLineTracker &tracker, const char *steps)
{
    std::string answers;
    std::istringstream tokens(steps);
    std::string token;
    while (tokens >> token) {
        const std::uint8_t lines = token.size() > 1 && token[1] == '1' ? kKey | 0x50 : 0x50;
        bool fresh = false;
        switch (token[0]) {
        case 'e': tracker.WaitEnded(true); break;
        case 'n': tracker.WaitEnded(false); break;
        case 's': fresh = tracker.Saw(lines, Read::Settling); break;
        case 'a': fresh = tracker.Saw(lines, Read::Armed); break;
        case 'w': fresh = tracker.Saw(lines, Read::WhileWaiting); break;
        case 'g': fresh = tracker.Saw(lines, Read::Ending); break;
        case 'u': fresh = tracker.Saw(lines, Read::Unwatched); break;
        case 'k': {
            const std::uint8_t shown = tracker.Show(true);
            EXPECT_EQ(shown & ~kKey, 0x50) << "the other lines as read, at " << answers.size();
            answers += (shown & kKey) ? '1' : '0';
            break;
        }
        case 'o': EXPECT_EQ(tracker.Show(false) & ~kKey, 0x50); break;
        default: ADD_FAILURE() << "no step " << token;
        }
        if (fresh)
            answers += '*';
    }
    return answers;
}

class Tracker : public ::testing::TestWithParam<Steps> {};

TEST_P(Tracker, ShowsEachChangeOnce)
{
    commio::KeyLineTracker tracker;
    tracker.Start(kKey);
    EXPECT_EQ(Drive(tracker, GetParam().steps), GetParam().answers);
}

const Steps kSteps[] = {
    // The baseline: the first read after the wait's start, or with no events.
    {"TheFirstReadIsNoPress", "s1 a1 k k", "11"},
    {"WhatAWaitToldBeforeTheBaselineIsNoPress", "e s0 e a0 k k", "00"},
    {"ASettlingReadSetsNoBaseline", "s1 a0 k", "*0"},
    {"WithoutEventsTheFirstReadIsTheBaseline", "u1 k u1 k", "11"},
    {"ChangesAroundTheFirstStartMarkTheWait", "s0 a1 k e s1 a1 k", "*11"},
    // Changes owed: a level read is one, the same level after an event two.
    {"APressSeenByARead", "a0 k e s1 a1 k k", "011"},
    {"ATapBetweenTwoPolls", "a0 k e s0 a0 k k k", "0100"},
    {"AReleaseAndPressBetweenTwoPolls", "s1 a1 k e s1 a1 k k", "101"},
    {"ThreeChangesShowAsTheOneTheLevelSays", "a0 k e s1 a0 a1 k k k", "0*111"},
    {"ATapWhileTheLastIsStillShown", "a0 k e s0 a0 k e s0 a0 k k", "0101"},
    {"APressWhileATapIsStillShown", "a0 k e s0 a0 k e s1 a1 k k", "0101"},
    {"AReleasePressAndReleaseShowAll", "s1 a1 k e s1 a0 k k k", "1*010"},
    {"MoreThanAPairBeyondTheLevelIsNotKept", "a0 k e s0 a0 e s0 a0 k k k k", "01000"},
    {"AnEventWithNoReadAfterItIsKept", "a0 k e k s0 a0 k k", "0010"},
    // Reads of the other bits show nothing of the key and use nothing up.
    {"OtherBitsNeitherShowNorUseUp", "a0 k e s0 a0 o o k o k", "010"},
    {"WithoutEventsOnlyLevelsCount", "u0 k u1 u0 k k u0 k", "0100"},
    // The mark: a wait that may tell of a change a read counted.
    {"AChangeBetweenTheReadsAroundAStart", "a0 k e s1 a0 k k e s0 a0 k", "0*100"},
    {"AnEventForWhatTheArmedReadShowed", "a0 k n s0 a1 k e s1 a1 k", "0*11"},
    {"AFindBeforeTheDriverTold", "a0 k w1 k e s1 a1 k", "0*11"},
    {"AFindMarksTheWaitOnce", "a0 k w1 w0 w1 k k k", "0*111"},
    {"ALevelTheWaitStartedFromIsNoFind", "a0 k w0 k", "00"},
    {"AReadBeforeAnEndedWaitIsGivenBackShowsWhatItTold", "a0 k g1 k e s1 a1 k", "011"},
    {"TwoChangesBeforeAnEndedWaitIsGivenBack", "a0 k g0 k e s0 a0 k k", "0010"},
    {"TheMarkEndsWithTheNextWait", "a0 k w1 k n s1 a1 k e s1 a1 k k", "0*1101"},
    {"AnEventAfterTheMarkedWaitCounts", "a0 k w1 k e s1 a1 e s1 a1 k k", "0*101"},
};

INSTANTIATE_TEST_SUITE_P(Table, Tracker, ::testing::ValuesIn(kSteps),
                         [](const auto &row) { return std::string(row.param.name); });

// The counts the status text reports.
TEST(TrackerCounts, EdgesShownAndFindsBeforeTheDriverTold)
{
    commio::KeyLineTracker tracker;
    tracker.Start(kKey);
    Drive(tracker, "a0 k e s0 a0 k k w1 k e s1 a1 k w0 k");
    EXPECT_EQ(tracker.EdgesShown(), 1u);
    EXPECT_EQ(tracker.FoundBeforeTold(), 2u);
    tracker.Start(kKey);
    EXPECT_EQ(tracker.EdgesShown(), 0u) << "a new open counts afresh";
    EXPECT_FALSE(tracker.Known());
}

} // namespace
