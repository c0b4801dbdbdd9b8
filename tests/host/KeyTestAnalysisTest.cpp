// The key tester's judgement of a test: events from polls, chatter, the
// summary's figures, hints about lines that never changed, poll pacing, the
// port plan's warnings and the tidying of Windows' error texts.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "keytest/CsvLog.h"
#include "keytest/KeyAnalysis.h"
#include "keytest/KeyReport.h"
#include "keytest/PollTiming.h"
#include "keytest/PortPlan.h"
#include "portsetup/SystemMessage.h"
#include "keytest/VcdWriter.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code
using namespace portsetup; // the port set-up's own names too

namespace {

struct Poll {
    int ms;
    bool pressed; // the library's answer
    bool cts;     // the line read right after it
};

struct AnalysisCase {
    const char *name;
    std::vector<Poll> polls;
    std::vector<std::string> events; // "P2@120 gap 10 chatter", "R1@200 held 100"
    double shortestPressMs, shortestGapMs;
    std::uint32_t chatter;
};

std::ostream &operator<<(std::ostream &os, const AnalysisCase &c) { return os << c.name; }

std::string Describe(const KeyEvent &e)
{
    std::string text = (e.kind == KeyEvent::Kind::Press ? "P" : "R") + std::to_string(e.press) + "@" +
                       std::to_string(std::llround(e.seconds * 1000));
    if (e.heldMs >= 0)
        text += " held " + std::to_string(std::llround(e.heldMs));
    if (e.gapMs >= 0)
        text += " gap " + std::to_string(std::llround(e.gapMs));
    if (e.chatter)
        text += " chatter";
    return text;
}

class KeyAnalysisCases : public ::testing::TestWithParam<AnalysisCase> {};

TEST_P(KeyAnalysisCases, GivesTheEventsAndFigures)
{
    KeyAnalysis analysis(30);
    std::vector<std::string> events;
    for (const Poll &poll : GetParam().polls) {
        LineLevels lines;
        lines.on[LineCts] = poll.cts;
        for (const KeyEvent &e : analysis.Poll(poll.ms / 1000.0, poll.pressed, lines))
            events.push_back(Describe(e));
    }
    EXPECT_EQ(events, GetParam().events);
    EXPECT_NEAR(analysis.ShortestPressMs(), GetParam().shortestPressMs, 1e-6);
    EXPECT_NEAR(analysis.ShortestGapMs(), GetParam().shortestGapMs, 1e-6);
    EXPECT_EQ(analysis.Chatter(), GetParam().chatter);
}

INSTANTIATE_TEST_SUITE_P(Cases, KeyAnalysisCases, ::testing::Values(
    AnalysisCase{"a clean press", {{0, false, false}, {100, true, true}, {110, false, true}, {200, false, false}},
                 {"P1@100", "R1@200 held 100"}, 100, -1, 0},
    AnalysisCase{"a bounce is chatter",
                 {{0, false, false}, {100, true, true}, {110, false, false}, {120, true, true}, {300, false, false}},
                 {"P1@100", "R1@110 held 10", "P2@120 gap 10 chatter", "R2@300 held 180"}, 10, 10, 1},
    AnalysisCase{"a gap of exactly the chatter time is not chatter",
                 {{0, true, true}, {50, false, false}, {80, true, true}},
                 {"P1@0", "R1@50 held 50", "P2@80 gap 30"}, 50, 30, 0},
    AnalysisCase{"a press over before the line is read ends at once",
                 {{0, false, false}, {100, true, false}, {110, false, false}},
                 {"P1@100", "R1@100 held 0"}, 0, -1, 0},
    AnalysisCase{"released and pressed again within one poll",
                 {{100, true, true}, {110, false, true}, {120, true, true}, {130, false, false}},
                 {"P1@100", "P2@120 chatter", "R2@130 held 10"}, 10, -1, 1},
    AnalysisCase{"a line set without a press answer is no press",
                 {{0, false, false}, {10, false, true}, {20, false, false}}, {}, -1, -1, 0},
    AnalysisCase{"the shortest figures are the least of several",
                 {{0, true, true}, {300, false, false}, {400, true, true}, {450, false, false}, {1000, true, true},
                  {1200, false, false}},
                 {"P1@0", "R1@300 held 300", "P2@400 gap 100", "R2@450 held 50", "P3@1000 gap 550",
                  "R3@1200 held 200"},
                 50, 100, 0}));

LineLevels Levels(bool cts, bool rts, bool dtr)
{
    LineLevels lines;
    lines.on[LineCts] = cts;
    lines.on[LineRts] = rts;
    lines.on[LineDtr] = dtr;
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

TEST(PollTiming, GivesMinimumMedianAndMaximum)
{
    PollTiming timing;
    EXPECT_EQ(timing.Intervals(), 0u);
    for (int ms : {0, 10, 20, 35, 45, 55})
        timing.Poll(ms / 1000.0);
    EXPECT_EQ(timing.Intervals(), 5u);
    EXPECT_NEAR(timing.MinMs(), 10, 1e-9);
    EXPECT_NEAR(timing.MedianMs(), 10, 0.1);
    EXPECT_NEAR(timing.MaxMs(), 15, 1e-9);

    // An interval past the histogram's range is still the exact maximum.
    timing.Poll(30.055);
    EXPECT_NEAR(timing.MaxMs(), 30000, 1e-6);
    EXPECT_NEAR(timing.MedianMs(), 10, 0.1);
    for (int i = 1; i <= 20; ++i)
        timing.Poll(30.055 + i * 15.6 / 1000.0);
    EXPECT_NEAR(timing.MedianMs(), 15.6, 0.1);
}

TEST(PollTiming, WaitsNoLongerThanTheTimeLeft)
{
    EXPECT_EQ(WaitBeforeNextPoll(10, 5.0, 0), 10u);       // no limit
    EXPECT_EQ(WaitBeforeNextPoll(10000, 0.0, 0.3), 300u); // a long interval ends on time
    EXPECT_EQ(WaitBeforeNextPoll(10, 0.295, 0.3), 5u);
    EXPECT_EQ(WaitBeforeNextPoll(10, 0.2999, 0.3), 1u);   // never 0 while time is left
    EXPECT_EQ(WaitBeforeNextPoll(10, 0.3, 0.3), 0u);
    EXPECT_EQ(WaitBeforeNextPoll(10, 7.0, 0.3), 0u);
}

TEST(KeyReport, TheStatusLineFitsAConsoleLine)
{
    LineLevels all;
    for (bool &on : all.on)
        on = true;
    EXPECT_LE(FormatStatusLine(all, 999999u, "toggled off").size(), 79u);
    EXPECT_LE(FormatStatusLine(LineLevels{}, 999999u, "DTR held off").size(), 79u);
}

TEST(KeyReport, TheSummaryGivesTheFigures)
{
    KeyAnalysis analysis(30);
    PollTiming timing;
    const Poll polls[] = {{0, true, true}, {10, false, false}, {25, true, true}, {40, false, false}};
    for (const Poll &poll : polls) {
        LineLevels lines;
        lines.on[LineCts] = poll.cts;
        timing.Poll(poll.ms / 1000.0);
        analysis.Poll(poll.ms / 1000.0, poll.pressed, lines);
    }
    std::string summary;
    for (const std::string &line : FormatSummary(analysis, timing, 10))
        summary += line + "\n";
    EXPECT_NE(summary.find("2 presses, 2 releases"), std::string::npos) << summary;
    EXPECT_NE(summary.find("shortest press  10.0 ms"), std::string::npos) << summary;
    EXPECT_NE(summary.find("shortest gap    15.0 ms"), std::string::npos) << summary;
    EXPECT_NE(summary.find("1 press within 30 ms of a release"), std::string::npos) << summary;
    EXPECT_NE(summary.find("min 10.0 ms, median 15.0 ms, max 15.0 ms over 3 intervals (asked: 10 ms)"),
              std::string::npos)
        << summary;
}

// The median is the middle interval, not the least, the mean or the
// greatest; with an even count, the lower of the two middle ones.
TEST(PollTiming, TheMedianIsTheMiddleInterval)
{
    const struct {
        std::vector<double> intervalsMs;
        double median;
    } cases[] = {
        {{10}, 10},
        {{10, 30, 31}, 30},
        {{31, 10, 30}, 30},
        {{10, 20, 30, 40}, 20},
        {{5, 5, 40, 40, 40}, 40},
        {{2.5, 12.3, 12.3, 99}, 12.3},
        {{1, 1, 1, 15000, 15000, 15000, 15000}, 15000},
    };
    for (const auto &c : cases) {
        PollTiming timing;
        double at = 0;
        timing.Poll(at);
        for (double ms : c.intervalsMs)
            timing.Poll(at += ms / 1000.0);
        EXPECT_NEAR(timing.MedianMs(), c.median, 0.051) << ::testing::PrintToString(c.intervalsMs);
    }
}

// Counts of one take the singular, every other count the plural.
TEST(KeyReport, TheSummaryCountsInTheSingularAndThePlural)
{
    const struct {
        std::vector<Poll> polls;
        std::vector<std::string> lines; // the first line, and the chatter line
    } cases[] = {
        {{{0, false, false}}, {"Summary: 0 presses, 0 releases", "  chatter         none (no press came within 30 ms "
                                                                 "of a release)"}},
        {{{0, true, true}}, {"Summary: 1 press, 0 releases", "  chatter         none (no press came within 30 ms of "
                                                             "a release)"}},
        {{{0, true, true}, {10, false, false}, {20, true, true}},
         {"Summary: 2 presses, 1 release", "  chatter         1 press within 30 ms of a release: the key bounces"}},
        {{{0, true, true}, {10, false, false}, {20, true, true}, {30, false, false}, {40, true, true}},
         {"Summary: 3 presses, 2 releases", "  chatter         2 presses within 30 ms of a release: the key bounces"}},
    };
    for (const auto &c : cases) {
        KeyAnalysis analysis(30);
        PollTiming timing;
        for (const Poll &poll : c.polls) {
            LineLevels lines;
            lines.on[LineCts] = poll.cts;
            analysis.Poll(poll.ms / 1000.0, poll.pressed, lines);
        }
        const std::vector<std::string> summary = FormatSummary(analysis, timing, 10);
        ASSERT_GE(summary.size(), 4u);
        EXPECT_EQ(summary[0], c.lines[0]);
        EXPECT_EQ(summary[3], c.lines[1]);
    }
}

// Rows as a spreadsheet reads them: a press held 0 ms has its length, the
// wall clock keeps three digits of milliseconds, driver rows carry no key
// figures.
TEST(CsvLog, WritesARowForEachKindOfEvent)
{
    std::ostringstream out;
    CsvLog log(out);
    KeyEvent press;
    press.seconds = 0.1;
    press.press = 1;
    KeyEvent release = press;
    release.kind = KeyEvent::Kind::Release;
    release.heldMs = 0;
    KeyEvent chatter = press;
    chatter.press = 2;
    chatter.seconds = 0.125;
    chatter.gapMs = 25;
    chatter.chatter = true;
    KeyEvent lost;
    lost.kind = KeyEvent::Kind::DriverLost;
    lost.seconds = 1.5;
    KeyEvent back = lost;
    back.kind = KeyEvent::Kind::DriverBack;
    back.seconds = 2;
    log.Write(press, FormatWallClock(2026, 1, 2, 3, 4, 5, 6), true);
    log.Write(release, FormatWallClock(2026, 1, 2, 3, 4, 5, 60), true);
    log.Write(chatter, FormatWallClock(2026, 12, 31, 23, 59, 59, 999), false);
    log.Write(lost, FormatWallClock(2026, 1, 2, 3, 4, 7, 0), false);
    log.Write(back, FormatWallClock(2026, 1, 2, 3, 4, 7, 500), false);
    EXPECT_EQ(out.str(), "time,seconds,event,press,held_ms,gap_ms,chatter,dtr\n"
                         "2026-01-02T03:04:05.006,0.100,press,1,,,0,1\n"
                         "2026-01-02T03:04:05.060,0.100,release,1,0.0,,0,1\n"
                         "2026-12-31T23:59:59.999,0.125,press,2,,25.0,1,0\n"
                         "2026-01-02T03:04:07.000,1.500,driver_lost,,,,,\n"
                         "2026-01-02T03:04:07.500,2.000,driver_back,,,,,\n");
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

struct PlanCase {
    const char *params; // null: NULL
    const char *device;
    std::uint16_t base;
    bool accepted;
    std::vector<std::string> warnings; // a fragment of each, in order
};

std::ostream &operator<<(std::ostream &os, const PlanCase &c) { return os << (c.params ? c.params : "NULL"); }

class PortPlanCases : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PortPlanCases, SelectsAsTheLibraryAndWarns)
{
    const PortPlan plan = PlanPort(GetParam().params);
    EXPECT_EQ(plan.portName, GetParam().device);
    EXPECT_EQ(plan.base, GetParam().base);
    EXPECT_EQ(plan.baseAccepted, GetParam().accepted);
    ASSERT_EQ(plan.warnings.size(), GetParam().warnings.size()) << (plan.warnings.empty() ? "" : plan.warnings[0]);
    for (std::size_t i = 0; i < plan.warnings.size(); ++i)
        EXPECT_NE(plan.warnings[i].find(GetParam().warnings[i]), std::string::npos) << plan.warnings[i];
}

INSTANTIATE_TEST_SUITE_P(Cases, PortPlanCases, ::testing::Values(
    PlanCase{nullptr, "COM1", 0x3F8, true, {}},
    PlanCase{"", "COM1", 0x3F8, true, {}},
    PlanCase{"COM2", "COM2", 0x2F8, true, {}},
    PlanCase{"COM2;", "COM2", 0x2F8, true, {}},
    PlanCase{"com2", "COM1", 0x3F8, true, {"'com2' is not one of the names"}},
    PlanCase{"COM5", "COM1", 0x3F8, true, {"'COM5' is not one of the names"}},
    PlanCase{";", "COM1", 0x3F8, true, {"'' is not one of the names"}},
    PlanCase{"COM9;2E8h", "COM9", 0x2E8, true, {}},
    PlanCase{"COM9;2E8H", "COM9", 0x2E8, true, {}},
    PlanCase{"COM9;3F8", "COM9", 0x003F, false, {"ends in a hex digit", "003Fh lies outside 0100h to FFF9h"}},
    PlanCase{"COM9;12345", "COM9", 0x1234, true, {"reads 1234h"}},
    PlanCase{"COM9;0x3F8h", "COM9", 0x0000, false, {"starts with 0x", "0000h lies outside"}},
    PlanCase{"COM9;FFFAh", "COM9", 0xFFFA, false, {"FFFAh lies outside"}},
    // The last character is a suffix whatever it is, a hex letter too.
    PlanCase{"COM9;3FA", "COM9", 0x003F, false, {"'3FA' ends in a hex digit", "003Fh lies outside"}},
    PlanCase{"COM9;2E8F", "COM9", 0x02E8, true, {"'2E8F' ends in a hex digit: the library drops the last character "
                                                 "as the suffix and reads 02E8h. Write it with a suffix, such as "
                                                 "'2E8Fh'."}},
    // Names are matched whole: a longer one is not its first four letters.
    PlanCase{"COM10", "COM1", 0x3F8, true, {"'COM10' is not one of the names"}},
    PlanCase{"COM2 ", "COM1", 0x3F8, true, {"'COM2 ' is not one of the names"}},
    PlanCase{"COM2;0x2F8h", "COM2", 0x0000, false,
             {"The address text '0x2F8h' starts with 0x: the library takes no prefix, and the 'x' ends its reading "
              "at 0000h. Write it as '2F8h'.",
              "0000h lies outside"}},
    PlanCase{"COM9;0x3F8", "COM9", 0x0000, false, {"Write it as '3F8h'.", "0000h lies outside"}},
    PlanCase{"COM2;;", "COM2", 0x0000, false,
             {"The address is empty: a second item is the UART's base as written, and an empty one reads 0000h. "
              "Give the base, such as 'COM2;2F8h', or the name alone for one of COM1 to COM4.",
              "0000h lies outside"}},
    PlanCase{"COM9;h", "COM9", 0x0000, false, {"'h' is only a suffix", "0000h lies outside"}}));

// What a reader would reject or misread: times that don't rise, and a press
// pulse left high at the end of the trace.
TEST(VcdWriter, KeepsTimesRisingAndEndsAPressPulse)
{
    std::ostringstream out;
    VcdWriter vcd(out, "now");
    vcd.Sample(0.0100004, false, false, true, false);
    vcd.Sample(0.0100004, true, false, true, true); // the clock stood still
    vcd.Sample(0.005, true, true, true, false);     // ... or stepped back
    vcd.Sample(0.02, true, true, true, false);      // no change: nothing written
    vcd.Sample(0.03, true, true, true, true);
    vcd.Finish(0.03);
    const std::string text = out.str();
    const std::string body = text.substr(text.find("$enddefinitions"));
    EXPECT_NE(body.find("#10000\n$dumpvars\n0!\n0\"\n1#\n0$\n$end\n#10001\n1!\n1$\n#10002\n1\"\n0$\n"
                        "#30000\n1$\n#30001\n0$\n"),
              std::string::npos)
        << body;
    EXPECT_EQ(body.find("#20000"), std::string::npos);
}

TEST(SystemMessage, FillsInTheSubjectAndDropsTheLineBreak)
{
    EXPECT_EQ(TidySystemMessage("Bad EXE format for %1.\r\n", "C:\\k\\io.dll", 193),
              "Bad EXE format for C:\\k\\io.dll (error 193)");
    EXPECT_EQ(TidySystemMessage("%1 is not a valid Win32 application.\r\n", "x.dll", 193),
              "x.dll is not a valid Win32 application (error 193)");
    // A dropped placeholder takes one of the spaces around it along.
    EXPECT_EQ(TidySystemMessage("The file %1!s! and %2 differ.\r\n", "a", 1), "The file a and differ (error 1)");
    EXPECT_EQ(TidySystemMessage("Access is denied.\r\n", "COM1", 5), "Access is denied (error 5)");
    EXPECT_EQ(TidySystemMessage("Two\r\nlines.\r\n", "", 7), "Two lines (error 7)");
    EXPECT_EQ(TidySystemMessage("", "x", 12345), "system error (error 12345)");
    EXPECT_EQ(TidySystemMessage("50% done at %12.", "x", 1), "50% done at (error 1)");
}

} // namespace
