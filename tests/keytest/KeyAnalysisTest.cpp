// The key tester's analysis of the polls: the presses and releases it makes
// of the library's answers and the line read after each, their lengths and
// gaps, chatter, and the shortest figures.
#include <gtest/gtest.h>

#include <cmath>

#include "KeyTesterTest.h"
#include "keytest/KeyAnalysis.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

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
    for (const KeyEvent &e : Feed(analysis, GetParam().polls))
        events.push_back(Describe(e));
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

} // namespace
