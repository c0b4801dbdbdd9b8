// The key tester's report: the hints about lines that never changed, the
// status line, the summary and the driver's events, as the console prints
// them.
#include <gtest/gtest.h>

#include "KeyTesterTest.h"
#include "keytest/KeyAnalysis.h"
#include "keytest/KeyReport.h"
#include "keytest/PollTiming.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

LineLevels Levels(bool cts, bool rts, bool dtr)
{
    LineLevels lines;
    lines[ModemLine::Cts] = cts;
    lines[ModemLine::Rts] = rts;
    lines[ModemLine::Dtr] = dtr;
    return lines;
}

struct HintCase {
    const char *name;
    std::vector<std::pair<bool, LineLevels>> polls; // the press answer and the lines
    DtrHold dtr;
    std::vector<std::string> hints; // a fragment of each hint, in order
};

std::ostream &operator<<(std::ostream &os, const HintCase &c) { return os << c.name; }

class LineHintCases : public ::testing::TestWithParam<HintCase> {};

TEST_P(LineHintCases, HintAtLinesThatNeverChanged)
{
    KeyAnalysis analysis(30);
    for (const auto &poll : GetParam().polls)
        analysis.Poll(0, poll.first, poll.second);
    const std::vector<std::string> hints = LineHints(analysis, GetParam().dtr);
    ASSERT_EQ(hints.size(), GetParam().hints.size()) << (hints.empty() ? "" : hints[0]);
    for (std::size_t i = 0; i < hints.size(); ++i)
        EXPECT_NE(hints[i].find(GetParam().hints[i]), std::string::npos) << hints[i];
}

INSTANTIATE_TEST_SUITE_P(Cases, LineHintCases, ::testing::Values(
    HintCase{"a working key", {{false, Levels(false, true, false)}, {true, Levels(true, true, true)},
                               {false, Levels(false, true, true)}}, DtrHold::None, {}},
    HintCase{"no press at all", {{false, Levels(false, true, false)}, {false, Levels(false, true, false)}},
             DtrHold::None, {"CTS stayed off"}},
    HintCase{"a line stuck on", {{false, Levels(true, true, false)}, {true, Levels(true, true, true)}},
             DtrHold::None, {"CTS stayed on"}},
    HintCase{"nothing driven", {{false, Levels(false, false, false)}, {false, Levels(false, false, false)}},
             DtrHold::None, {"CTS stayed off", "RTS stayed off"}},
    HintCase{"DTR not following presses",
             {{false, Levels(false, true, false)}, {true, Levels(true, true, false)}, {false, Levels(false, true, false)}},
             DtrHold::None, {"DTR stayed off although the presses"}},
    HintCase{"DTR held as asked", {{false, Levels(false, true, true)}, {false, Levels(true, true, true)}},
             DtrHold::On, {}},
    HintCase{"DTR not held as asked", {{false, Levels(false, true, false)}, {false, Levels(true, true, false)}},
             DtrHold::On, {"DTR stayed off although --dtr held it on"}},
    HintCase{"no poll, no hint", {}, DtrHold::None, {}}));

TEST(KeyReport, TheStatusLineFitsAConsoleLine)
{
    LineLevels all;
    for (bool &on : all)
        on = true;
    EXPECT_LE(FormatStatusLine(all, 999999u, "toggled off").size(), 79u);
    EXPECT_LE(FormatStatusLine(LineLevels{}, 999999u, "DTR held off").size(), 79u);
}

const std::string NoRelease = "  shortest press  - (no release seen)";
const std::string NoGap = "  shortest gap    - (no press after a release)";
const std::string NoChatter = "  chatter         none (no press came within 30 ms of a release)";
const std::string NoInterval = "  poll interval   - (fewer than two polls)";

// The summary line by line: counts of one in the singular and every other
// in the plural, the shortest press and gap, chatter, and the poll
// intervals once there is one (the median the middle interval, not the
// mean).
TEST(KeyReport, TheSummaryGivesTheFiguresInWords)
{
    const struct {
        std::vector<Poll> polls;
        std::uint32_t askedMs;
        std::vector<std::string> summary;
    } cases[] = {
        {{}, 10, {"Summary: 0 presses, 0 releases", NoRelease, NoGap, NoChatter, NoInterval}},
        {{{0, false, false}}, 10, {"Summary: 0 presses, 0 releases", NoRelease, NoGap, NoChatter, NoInterval}},
        {{{0, true, true}}, 10, {"Summary: 1 press, 0 releases", NoRelease, NoGap, NoChatter, NoInterval}},
        {{{0, true, true}, {10, false, false}, {20, true, true}},
         10,
         {"Summary: 2 presses, 1 release", "  shortest press  10.0 ms",
          "  shortest gap    10.0 ms from a release to the next press",
          "  chatter         1 press within 30 ms of a release: the key bounces",
          "  poll interval   min 10.0 ms, median 10.0 ms, max 10.0 ms over 2 intervals (asked: 10 ms)"}},
        {{{0, true, true}, {10, false, false}, {25, true, true}, {40, false, false}},
         10,
         {"Summary: 2 presses, 2 releases", "  shortest press  10.0 ms",
          "  shortest gap    15.0 ms from a release to the next press",
          "  chatter         1 press within 30 ms of a release: the key bounces",
          "  poll interval   min 10.0 ms, median 15.0 ms, max 15.0 ms over 3 intervals (asked: 10 ms)"}},
        {{{0, true, true}, {10, false, false}, {20, true, true}, {30, false, false}, {40, true, true}},
         10,
         {"Summary: 3 presses, 2 releases", "  shortest press  10.0 ms",
          "  shortest gap    10.0 ms from a release to the next press",
          "  chatter         2 presses within 30 ms of a release: the key bounces",
          "  poll interval   min 10.0 ms, median 10.0 ms, max 10.0 ms over 4 intervals (asked: 10 ms)"}},
        {{{0, false, false}, {12, false, false}},
         25,
         {"Summary: 0 presses, 0 releases", NoRelease, NoGap, NoChatter,
          "  poll interval   min 12.0 ms, median 12.0 ms, max 12.0 ms over 1 interval (asked: 25 ms)"}},
        {{{0, false, false}, {12, false, false}, {24, false, false}},
         25,
         {"Summary: 0 presses, 0 releases", NoRelease, NoGap, NoChatter,
          "  poll interval   min 12.0 ms, median 12.0 ms, max 12.0 ms over 2 intervals (asked: 25 ms)"}},
        {{{100, false, false}, {110, false, false}, {130.05, false, false}, {170.05, false, false}},
         7,
         {"Summary: 0 presses, 0 releases", NoRelease, NoGap, NoChatter,
          "  poll interval   min 10.0 ms, median 20.1 ms, max 40.0 ms over 3 intervals (asked: 7 ms)"}},
    };
    for (const auto &c : cases) {
        KeyAnalysis analysis(30);
        PollTiming timing;
        Feed(analysis, c.polls, &timing);
        EXPECT_EQ(FormatSummary(analysis, timing, c.askedMs), c.summary) << c.polls.size() << " polls";
    }
}

TEST(KeyReport, TheDriverEventsSayWhatHappened)
{
    KeyEvent lost;
    lost.kind = KeyEvent::Kind::DriverLost;
    lost.seconds = 1.5;
    EXPECT_EQ(FormatEvent(lost, "COM5: not held"), "[    1.500 s] driver lost: IsDriverInstalled -> 0, no press can "
                                                   "be seen until it answers again (COM5: not held)");
    EXPECT_EQ(FormatEvent(lost, ""), "[    1.500 s] driver lost: IsDriverInstalled -> 0, no press can be seen until "
                                     "it answers again");
    KeyEvent back = lost;
    back.kind = KeyEvent::Kind::DriverBack;
    EXPECT_EQ(FormatEvent(back, "ignored"), "[    1.500 s] driver back: IsDriverInstalled -> 1");
}

} // namespace
