// The oracle that judges a host's polls against the script: reported,
// merged, lost and invented presses, the DTR it set, and the record files
// it reads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>

#include "ttydev/Device.h"
#include "ttydev/Oracle.h"
#include "ttydev/Script.h"

namespace {

using namespace ttydev;

constexpr std::int64_t Ms = 1000000;

// Polls every 20 ms from 20 ms, each taking 0.1 ms; `reports` are the
// indexes of those that answer a press. The host toggles at each.
std::vector<Poll> Polls(std::size_t count, std::vector<std::size_t> reports)
{
    std::vector<Poll> polls;
    bool toggled = false;
    for (std::size_t k = 0; k < count; ++k) {
        const bool answer = std::find(reports.begin(), reports.end(), k) != reports.end();
        toggled = toggled != answer;
        const std::int64_t at = static_cast<std::int64_t>(k + 1) * 20 * Ms;
        polls.push_back(Poll{at, at + Ms / 10, answer, toggled});
    }
    return polls;
}

// The device's DTR as a host that toggles at each report sets it, set
// during the reporting poll.
std::vector<Set> SetsFor(const std::vector<Poll> &polls)
{
    std::vector<Set> sets{{polls[0].startNs - Ms, 1, 0, 0}};
    for (const Poll &poll : polls)
        if (poll.answer)
            sets.push_back(Set{poll.endNs - 1, 1, 0, static_cast<std::uint16_t>(poll.toggled ? LineDtr : 0)});
    return sets;
}

// A row: presses (start, end, and when the io.dll could know of the press
// and of its release, ms: 0 at the change itself, -1 never), the polls
// that report, what the oracle must count, and how soon the driver lets
// the io.dll show a change. Poll k begins at 20(k+1) ms: poll 0 at 20,
// poll 4 at 100.
struct JudgeCase {
    const char *what;
    std::vector<Press> presses;
    std::vector<std::size_t> reports;
    std::uint32_t reported, merged, lost, invented, unseen = 0;
    Showing showing = {};
};

std::ostream &operator<<(std::ostream &os, const JudgeCase &c) { return os << c.what; }

// A driver that tells nothing, read every 5th poll: a press is due by the
// 5th poll after the first to begin after it, and one spanning fewer than 5
// poll starts may go unseen.
constexpr Showing kFifth{5, false};

class Judging : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(Judging, CountsEachPressOnceFromTheScriptAndThePollTimesAlone)
{
    const auto ns = [](std::int64_t ms) { return ms <= 0 ? ms : ms * Ms; };
    std::vector<Press> presses;
    for (const Press &p : GetParam().presses)
        presses.push_back(Press{p.startNs * Ms, p.endNs * Ms, ns(p.knownNs), ns(p.releaseKnownNs)});
    const std::vector<Poll> polls = Polls(40, GetParam().reports);
    const Verdict v = Judge(presses, polls, SetsFor(polls), {}, true, 0, GetParam().showing);
    EXPECT_EQ(v.reported, GetParam().reported);
    EXPECT_EQ(v.merged, GetParam().merged);
    EXPECT_EQ(v.lost, GetParam().lost);
    EXPECT_EQ(v.invented, GetParam().invented);
    EXPECT_EQ(v.unseen, GetParam().unseen);
    EXPECT_EQ(v.dtrMismatches, 0u);
    EXPECT_EQ(v.Passed(), GetParam().lost == 0 && GetParam().invented == 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Judging, ::testing::Values(
    JudgeCase{"reported at the first poll after it began", {{105, 110}}, {5}, 1, 0, 0, 0},
    JudgeCase{"reported at the second", {{105, 110}}, {6}, 1, 0, 0, 0},
    JudgeCase{"a poll under way as it began may see it", {{100, 130}}, {4}, 1, 0, 0, 0},
    JudgeCase{"reported a poll too late", {{105, 110}}, {7}, 0, 0, 1, 1},
    JudgeCase{"never reported", {{105, 110}}, {}, 0, 0, 1, 0},
    JudgeCase{"reported with no press", {}, {7}, 0, 0, 0, 1},
    JudgeCase{"reported twice", {{105, 110}}, {5, 6}, 1, 0, 0, 1},
    JudgeCase{"two presses between the same polls", {{102, 104}, {110, 112}}, {5}, 1, 1, 0, 0},
    JudgeCase{"a press just after a reported one ended", {{102, 104}, {125, 127}}, {5}, 1, 1, 0, 0},
    JudgeCase{"a press just after a long one ended", {{102, 190}, {195, 197}}, {5}, 1, 1, 0, 0},
    JudgeCase{"the same press three polls on is its own", {{102, 104}, {162, 164}}, {5}, 1, 0, 1, 0},
    JudgeCase{"two presses reported apart", {{102, 104}, {162, 164}}, {5, 8}, 2, 0, 0, 0},
    // A driver that tells nothing, read every 5th poll.
    JudgeCase{"read: reported at the first poll after it began", {{105, 300}}, {5}, 1, 0, 0, 0, 0, kFifth},
    JudgeCase{"read: reported five polls after that", {{105, 300}}, {10}, 1, 0, 0, 0, 0, kFifth},
    JudgeCase{"read: reported a poll later still", {{105, 300}}, {11}, 0, 0, 1, 1, 0, kFifth},
    JudgeCase{"read: spanning five poll starts, never reported", {{105, 205}}, {}, 0, 0, 1, 0, 0, kFifth},
    JudgeCase{"read: spanning four, never reported", {{105, 185}}, {}, 0, 0, 0, 0, 1, kFifth},
    JudgeCase{"read: spanning four, reported", {{105, 185}}, {7}, 1, 0, 0, 0, 0, kFifth},
    JudgeCase{"read: a long press just after a long one was seen to end", {{105, 300}, {310, 500}}, {9, 19}, 2, 0,
              0, 0, 0, kFifth},
    JudgeCase{"read: a long press the read after a long one ended may hide", {{105, 300}, {310, 500}}, {9}, 1, 1, 0,
              0, 0, kFifth},
    // A driver late to tell (Wine's wait thread held up on a busy machine):
    // a press is due by the poll after the first to begin once it was
    // told, and after its predecessor's release was; one never told, nor
    // seen by a read, is unseen unless reported.
    JudgeCase{"told at once, reported two polls late", {{105, 110, 0, 0}}, {7}, 0, 0, 1, 1, 0},
    JudgeCase{"told 50 ms late, reported after", {{105, 110, 155, 155}}, {8}, 1, 0, 0, 0, 0},
    JudgeCase{"told 50 ms late, reported a poll later still", {{105, 110, 155, 155}}, {10}, 0, 0, 1, 1, 0},
    JudgeCase{"never told, never reported", {{105, 110, -1, -1}}, {}, 0, 0, 0, 0, 1},
    JudgeCase{"never told, reported", {{105, 110, -1, -1}}, {5}, 1, 0, 0, 0, 0},
    JudgeCase{"after a release told late, a press a poll later",
             {{45, 50, 0, 95}, {65, 200, 0, 0}}, {2, 5}, 2, 0, 0, 0, 0},
    JudgeCase{"after a release told at once, the same press a poll late",
             {{45, 50, 0, 0}, {65, 200, 0, 0}}, {2, 5}, 1, 1, 0, 1, 0}));

TEST(Judging, ReportsOnALineTheDeviceNeverShowsAreInventedAndNothingIsLost)
{
    const std::vector<Poll> polls = Polls(30, {9});
    const Verdict v = Judge({{105 * Ms, 110 * Ms}, {300 * Ms, 320 * Ms}}, polls, SetsFor(polls), {}, false);
    EXPECT_EQ(v.invented, 1u);
    EXPECT_EQ(v.lost, 0u);
    EXPECT_FALSE(v.Passed());
    EXPECT_TRUE(Judge({{105 * Ms, 110 * Ms}}, Polls(30, {}), {}, {}, false).Passed());
}

TEST(Judging, ARunsPressesAreKnownWhenToldOrWhenAReadSawThem)
{
    Record record;
    record.changes = {{100 * Ms, 1, 0, 130 * Ms}, {150 * Ms, 0, 0, 0}, {300 * Ms, 1, 0, 0}, {350 * Ms, 0, 0, 0},
                      {400 * Ms, 1, 0, 420 * Ms}};
    record.calls = {{160 * Ms, 1, 0, static_cast<std::uint16_t>(CallKind::StatusRead)},
                    {340 * Ms, 1, 0, static_cast<std::uint16_t>(CallKind::CountsRead)},
                    {405 * Ms, 1, 0, static_cast<std::uint16_t>(CallKind::StatusRead)}};
    std::vector<Press> presses = PressesOf(record);
    ASSERT_EQ(presses.size(), 3u);
    EXPECT_EQ(presses[0].knownNs, 130 * Ms) << "told by a wait thread";
    EXPECT_EQ(presses[0].releaseKnownNs, 160 * Ms) << "seen by the program's status read";
    EXPECT_EQ(presses[1].knownNs, Unknown) << "a read of the counts sees no level";
    EXPECT_EQ(presses[2].knownNs, 405 * Ms) << "read before a wait thread was shown it";
    record.behaviour = "stale";
    EXPECT_EQ(PressesOf(record)[0].releaseKnownNs, Unknown) << "stale reads show only what a wait thread saw";
    EXPECT_EQ(PressesOf(record)[2].knownNs, 420 * Ms);
}

TEST(Judging, APressDueAfterTheLastPollIsUnjudged)
{
    const Verdict v = Judge({{595 * Ms, 599 * Ms}}, Polls(30, {}), {}, {}, true);
    EXPECT_EQ(v.unjudged, 1u);
    EXPECT_FALSE(v.Passed());
}

TEST(Judging, DtrMustBeAsTheHostSetItOutsideAnOutage)
{
    const std::vector<Poll> polls = Polls(30, {5, 8});
    std::vector<Set> sets = SetsFor(polls);
    const std::vector<Press> presses{{102 * Ms, 104 * Ms}, {162 * Ms, 164 * Ms}};
    EXPECT_EQ(Judge(presses, polls, sets, {}, true).dtrMismatches, 0u);
    EXPECT_EQ(Judge(presses, polls, sets, {}, true).latenciesMs, (std::vector<double>{18.1, 18.1}));

    sets.pop_back(); // the second toggle never reached the device
    const Verdict v = Judge(presses, polls, sets, {}, true);
    EXPECT_EQ(v.dtrMismatches, 21u);
    EXPECT_EQ(Judge(presses, polls, sets, {{150 * Ms, 1000 * Ms}}, true).dtrMismatches, 0u);
}

TEST(Judging, AnOutageLastsUntilThePollThatSetTheNewDevicesLines)
{
    Record record;
    record.plugs = {{0, 0, "COM10", 100 * Ms}, {1, 150 * Ms, "COM10", 0}};
    record.sets = {{10 * Ms, 1, 0, 0}, {241 * Ms, 1, 1, LineRts}};
    const std::vector<Outage> outages = OutagesOf(record, Polls(30, {}));
    ASSERT_EQ(outages.size(), 1u);
    EXPECT_EQ(outages[0].fromNs, 100 * Ms);
    EXPECT_EQ(outages[0].untilNs, 260 * Ms + Ms / 10);
}

// The same presses, with the other lines still and with them moving: the
// record keeps the key's changes apart, so the verdicts are the same.
TEST(Judging, TheOtherLinesChangeNoVerdict)
{
    const std::vector<Poll> polls = Polls(30, {5, 8});
    std::vector<Verdict> verdicts;
    for (const char *others : {"", "dcd-pulse@101/0.5 dcd-on@103 dcd-off@150 ri-pulse@159/2"}) {
        auto state = std::make_unique<SharedState>();
        Initialise(*state, Behaviour::Uart, LineCts, DsrFollowsDtr);
        DeviceScript script;
        std::string error;
        ASSERT_TRUE(ParseDeviceScript(std::string("press@102 release@104 press@162 release@164 ") + others, script,
                                      error));
        const std::vector<InputChange> changes = InputChanges(script, LineCts, 0);
        ASSERT_TRUE(PublishChanges(*state, changes.data(), static_cast<std::uint32_t>(changes.size())));
        const int plug = AddPlug(*state, 1, 0);
        Device device(*state);
        for (const Poll &poll : polls)
            if (poll.answer)
                device.SetLines(plug, Request::LinesSet, poll.toggled ? LineDtr : 0, poll.endNs - 1, 1);

        const Record record = Collect(*state, 0, {});
        EXPECT_EQ(record.changes.size(), 4u);
        EXPECT_EQ(record.others.size(), *others ? 8u : 2u) << "the script's, and DSR following DTR on and off";
        verdicts.push_back(Judge(PressesOf(record.changes), polls, record.sets, {}, true));
    }
    EXPECT_EQ(verdicts[1].reported, 2u);
    EXPECT_EQ(verdicts[1].reported, verdicts[0].reported);
    EXPECT_EQ(verdicts[1].latenciesMs, verdicts[0].latenciesMs);
    EXPECT_TRUE(verdicts[1].Passed());
}

TEST(Records, ReadBackWhatWasWrittenAndNameTheBadLine)
{
    Record record;
    record.behaviour = "slow";
    record.keyLine = "DCD";
    record.dsrFollowsDtr = true;
    record.originNs = 1796880894921607100;
    record.changes = {{record.originNs + Ms, 1, 0, record.originNs + 2 * Ms}, {record.originNs + 9 * Ms, 0, 0, 0}};
    record.others = {{record.originNs + 2 * Ms, LineRi, true, false}, {record.originNs + 3 * Ms, LineDsr, true, true}};
    record.droppedLoops = 3;
    record.plugs = {{0, 5, "COM10", 77}, {1, 80, "COM11", 0}};
    record.sets = {{6, 1234, 0, LineDtr | LineRts}};
    record.calls = {{7, 1234, 1, static_cast<std::uint16_t>(CallKind::CountsRead)}};
    record.waitCalls = 5000000000;
    const std::string path = ::testing::TempDir() + "ttydev-record.txt";
    std::string error;
    ASSERT_TRUE(WriteRecord(path, record, error)) << error;
    Record back;
    ASSERT_TRUE(ReadRecord(path, back, error)) << error;
    EXPECT_EQ(back.behaviour, "slow");
    EXPECT_EQ(back.keyLine, "DCD");
    EXPECT_TRUE(back.dsrFollowsDtr);
    EXPECT_EQ(back.originNs, record.originNs);
    ASSERT_EQ(back.others.size(), 2u);
    EXPECT_EQ(back.others[0].line, LineRi);
    EXPECT_FALSE(back.others[0].byDtr);
    EXPECT_EQ(back.others[1].line, LineDsr);
    EXPECT_TRUE(back.others[1].byDtr && back.others[1].on);
    EXPECT_EQ(back.droppedLoops, 3u);
    ASSERT_EQ(back.changes.size(), 2u);
    EXPECT_EQ(back.changes[1].atNs, record.changes[1].atNs);
    EXPECT_EQ(back.changes[0].toldNs, record.changes[0].toldNs);
    EXPECT_EQ(back.changes[1].toldNs, 0);
    ASSERT_EQ(back.plugs.size(), 2u);
    EXPECT_EQ(back.plugs[0].untilNs, 77);
    EXPECT_EQ(back.plugs[1].port, "COM11");
    EXPECT_EQ(back.sets[0].outputs, LineDtr | LineRts);
    EXPECT_EQ(back.calls[0].kind, static_cast<std::uint16_t>(CallKind::CountsRead));
    EXPECT_EQ(back.waitCalls, 5000000000u);

    const std::string polls = ::testing::TempDir() + "ttydev-polls.txt";
    for (const auto &[bad, line] : std::vector<std::pair<const char *, const char *>>{
             {"poll 10 5 0 0\n", "line 2:"}, {"poll 10 20 2 0\n", "line 2:"}, {"poll 10 20 1\n", "line 2:"},
             {"poll 30 40 0 0\npoll 35 50 0 0\n", "line 3:"}}) {
        std::ofstream(polls) << "listening 1\n" << bad;
        std::vector<Poll> read;
        EXPECT_FALSE(ReadPolls(polls, read, error)) << bad;
        EXPECT_NE(error.find(line), std::string::npos) << error;
    }
    for (const char *bad : {"change 5 7", "input 5 DTR 1 script", "input 5 RI 1 dtr", "input 5 DCD 2 script",
                            "device uart XYZ 0"}) {
        std::ofstream(path) << "origin 1\n" << bad << "\n";
        EXPECT_FALSE(ReadRecord(path, back, error)) << bad;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    }
    std::remove(path.c_str());
    std::remove(polls.c_str());
}

} // namespace
