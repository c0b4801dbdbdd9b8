// What the windowed key tester shows for a scripted key: the timing strip's
// segments and colours, the press marks, the lamps, the texts and which
// buttons work, through the same test session as the console tester.
#include <gtest/gtest.h>

#include <cmath>

#include "keytest/CsvLog.h"
#include "keytest/KeyWindowModel.h"
#include "testsupport/ScriptedKeyTarget.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

using testsupport::ScriptedClock;
using testsupport::Step;

// A DSR that is on throughout, to tell from the lines that are off.
struct ScriptedTarget : testsupport::ScriptedTarget {
    ScriptedTarget() { dsr = true; }
};

double S(int ms) { return ms / 1000.0; }

struct WindowRun {
    ScriptedTarget target;
    ScriptedClock clock;
    KeyWindowModel model;
    KeyTestOptions options;
    std::unique_ptr<KeyWindowTest> test;

    // Starts at steps[0] and ticks at each later step; the test keeps
    // running at the last one.
    void Go(const std::vector<Step> &steps)
    {
        test = std::make_unique<KeyWindowTest>(options, "", target, clock, model, "now");
        target.now = steps.front();
        clock.ms = steps.front().ms;
        ASSERT_TRUE(test->Start());
        for (std::size_t i = 1; i < steps.size() && test->Running(); ++i) {
            target.now = steps[i];
            clock.ms = steps[i].ms;
            test->Tick();
        }
    }
};

struct StripCase {
    const char *name;
    std::vector<Step> steps;
    std::vector<StripSegment> cts; // at the last step
    std::vector<StripSegment> dtr;
    std::vector<PressMark> marks;
};

// Printed by its name, not its bytes (padding included).
std::ostream &operator<<(std::ostream &os, const StripCase &c) { return os << c.name; }

std::vector<StripSegment> Segs(std::initializer_list<std::tuple<int, int, StripColour>> list)
{
    std::vector<StripSegment> segments;
    for (const auto &[from, to, colour] : list)
        segments.push_back({S(from), S(to), colour});
    return segments;
}

constexpr StripColour Lo = StripColour::Low, Hi = StripColour::High, Ch = StripColour::Chatter,
                      No = StripColour::NoReading;

class KeyWindowStrip : public ::testing::TestWithParam<StripCase> {};

TEST_P(KeyWindowStrip, ShowsTheLinesAndPressesOfTheLastTenSeconds)
{
    const StripCase &c = GetParam();
    WindowRun run;
    run.Go(c.steps);
    const double now = S(c.steps.back().ms);
    EXPECT_EQ(run.model.Strip(ModemLine::Cts, now), c.cts);
    EXPECT_EQ(run.model.Strip(ModemLine::Dtr, now), c.dtr);
    EXPECT_EQ(run.model.Marks(now), c.marks);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, KeyWindowStrip,
    ::testing::Values(
        StripCase{"OnePress",
                  {{0, false, true, false}, {100, true, true, true}, {200, false, true, false}, {300, false, true, false}},
                  Segs({{0, 100, Lo}, {100, 200, Hi}, {200, 300, Lo}}),
                  Segs({{0, 100, Lo}, {100, 300, Hi}}),
                  {{S(100), 1, false}}},
        // The second press comes 10 ms after a release: less than the
        // chatter time, so its level is flagged and so is its mark.
        StripCase{"Chatter",
                  {{0, false, true, false},
                   {100, true, true, true},
                   {200, false, true, false},
                   {210, true, true, true},
                   {400, false, true, false}},
                  Segs({{0, 100, Lo}, {100, 200, Hi}, {200, 210, Lo}, {210, 400, Ch}}),
                  Segs({{0, 100, Lo}, {100, 210, Hi}, {210, 400, Lo}}),
                  {{S(100), 1, false}, {S(210), 2, true}}},
        // While the driver is away nothing read is a level.
        StripCase{"DriverAway",
                  {{0, false, true, false}, {100, false, false, false}, {200, false, true, false}, {300, false, true, false}},
                  Segs({{0, 100, Lo}, {100, 200, No}, {200, 300, Lo}}),
                  Segs({{0, 100, Lo}, {100, 200, No}, {200, 300, Lo}}),
                  {}},
        // Twelve seconds in, the strip starts at two: the press at one
        // second has scrolled off, the level it left runs from the edge.
        StripCase{"ScrolledOff",
                  {{0, false, true, false},
                   {1000, true, true, true},
                   {1100, false, true, false},
                   {5000, false, true, false},
                   {12000, false, true, false}},
                  Segs({{2000, 12000, Lo}}),
                  Segs({{2000, 12000, Hi}}),
                  {}},
        // A press held across the window's left edge: its mark is gone, its
        // level stays, cut at the edge.
        StripCase{"CutAtTheEdge",
                  {{0, false, true, false},
                   {1000, true, true, true},
                   {10500, false, true, false},
                   {11500, false, true, false}},
                  Segs({{1500, 10500, Hi}, {10500, 11500, Lo}}),
                  Segs({{1500, 11500, Hi}}),
                  {}},
        // Only the press that came too soon is chatter: the next one, after
        // a proper pause, is a clean press again.
        StripCase{"ChatterThenClean",
                  {{0, false, true, false},
                   {100, true, true, true},
                   {200, false, true, false},
                   {210, true, true, true},
                   {300, false, true, false},
                   {400, true, true, true},
                   {500, false, true, false}},
                  Segs({{0, 100, Lo}, {100, 200, Hi}, {200, 210, Lo}, {210, 300, Ch}, {300, 400, Lo}, {400, 500, Hi}}),
                  Segs({{0, 100, Lo}, {100, 210, Hi}, {210, 400, Lo}, {400, 500, Hi}}),
                  {{S(100), 1, false}, {S(210), 2, true}, {S(400), 3, false}}},
        // A press exactly ten seconds back is still on the strip.
        StripCase{"MarkAtTheEdge",
                  {{0, false, true, false},
                   {1000, true, true, true},
                   {1100, false, true, false},
                   {11000, false, true, false}},
                  Segs({{1000, 1100, Hi}, {1100, 11000, Lo}}),
                  Segs({{1000, 11000, Hi}}),
                  {{S(1000), 1, false}}}),
    [](const ::testing::TestParamInfo<StripCase> &param) { return std::string(param.param.name); });

TEST(KeyWindowModelTest, LampsFollowTheLinesAndShowThemAsTheStopLeavesThem)
{
    WindowRun run;
    run.Go({{0, false, true, false}, {100, true, true, true}});
    EXPECT_EQ(run.model.LampOf(ModemLine::Cts), Lamp::On);
    EXPECT_EQ(run.model.LampOf(ModemLine::Dsr), Lamp::On);
    EXPECT_EQ(run.model.LampOf(ModemLine::Dcd), Lamp::Off);
    EXPECT_EQ(run.model.LampOf(ModemLine::Dtr), Lamp::On);
    EXPECT_EQ(run.model.PressText(), "Presses: 1");
    EXPECT_EQ(run.model.ToggledText(), "Toggled: on");

    run.target.now = {200, false, false, false};
    run.clock.ms = 200;
    run.test->Tick();
    EXPECT_EQ(run.model.LampOf(ModemLine::Cts), Lamp::Unknown) << "the driver is away";

    run.target.now = {300, false, true, false};
    run.clock.ms = 300;
    run.test->Tick();
    EXPECT_EQ(run.model.LampOf(ModemLine::Cts), Lamp::Off);
    ASSERT_EQ(run.model.LampOf(ModemLine::Dtr), Lamp::On) << "toggled on by the press";
    run.test->Stop();
    // The stop turned DTR off and read the lines once more: the lamps and
    // the status line show that, and agree with the log.
    EXPECT_EQ(run.model.LampOf(ModemLine::Dtr), Lamp::Off);
    EXPECT_EQ(run.model.LampOf(ModemLine::Dsr), Lamp::On);
    EXPECT_EQ(run.model.LampOf(ModemLine::Cts), Lamp::Off);
    EXPECT_NE(run.model.StatusText().find("DTR off"), std::string::npos) << run.model.StatusText();
    const std::vector<std::string> &log = run.model.Log();
    EXPECT_NE(std::find(log.begin(), log.end(), "ZelbinSetToggled(0): DTR off before stopping"), log.end());
}

TEST(KeyWindowModelTest, ButtonsFollowTheTest)
{
    struct Expect {
        bool ports, find, start, stop, save;
    };
    WindowRun run;
    const auto check = [&](const char *when, Expect e) {
        EXPECT_EQ(run.model.Controls(), (WindowControls{e.ports, e.find, e.start, e.stop, e.save})) << when;
    };
    check("before a test", {true, true, true, false, false});
    run.Go({{0, false, true, false}, {100, true, true, true}});
    check("while testing", {false, false, false, true, false});
    run.test->Stop();
    check("after the test", {true, true, true, false, true});
    run.model.FindStarted();
    check("while finding", {false, false, false, true, false});
    run.model.FindFinished({"found"});
    check("after finding", {true, true, true, false, true});
}

// After Stop the window says one thing of DTR: the lamp, the toggled label
// and the strip's last stretch all off, as the log says the stop left it;
// the strip runs on past the stop so that last stretch shows. The preflight
// comes first in the log.
TEST(KeyWindowModelTest, AfterStopTheLampTheLabelAndTheStripAgreeOnDtr)
{
    WindowRun run;
    run.test = std::make_unique<KeyWindowTest>(run.options, "", run.target, run.clock, run.model, "now",
                                               std::vector<std::string>{"Key tester for Zelbin_Serial.dll",
                                                                        "Warning: a set-up warning"});
    ASSERT_TRUE(run.test->Start());
    for (const Step &step : std::vector<Step>{{100, true, true, true}, {200, false, true, false}}) {
        run.target.now = step;
        run.clock.ms = step.ms;
        run.test->Tick();
    }
    ASSERT_EQ(run.model.ToggledText(), "Toggled: on");
    run.clock.ms = 300;
    run.test->Stop();
    EXPECT_EQ(run.model.LampOf(ModemLine::Dtr), Lamp::Off);
    EXPECT_EQ(run.model.ToggledText(), "Toggled: off");
    EXPECT_GT(run.model.StripEnd(), S(300));
    const std::vector<StripSegment> dtr = run.model.Strip(ModemLine::Dtr, run.model.StripEnd());
    ASSERT_FALSE(dtr.empty());
    EXPECT_EQ(dtr.back().colour, StripColour::Low);
    EXPECT_GT(dtr.back().to - dtr.back().from, 0.1);
    ASSERT_GE(run.model.Log().size(), 2u);
    EXPECT_EQ(run.model.Log()[1], "Warning: a set-up warning");
}

// A press's number is drawn only where it covers no number before it.
TEST(KeyWindowModelTest, ChatteringPressesNumbersDoNotOverlap)
{
    const struct {
        std::vector<int> x, width;
        std::vector<bool> numbered;
    } cases[] = {
        {{10, 100, 200}, {8, 8, 8}, {true, true, true}},
        {{10, 14, 18, 30}, {8, 8, 8, 8}, {true, false, true, true}}, // a burst
        {{10, 17, 18}, {8, 8, 16}, {true, false, true}},
        {{}, {}, {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(KeyWindowModel::NumberedMarks(c.x, c.width), c.numbered);
}

// The window keeps one model for every test: a new test shows nothing of
// the last one, neither its marks and levels nor its counts and texts.
TEST(KeyWindowModelTest, ANewTestStartsFromNothingOfTheLast)
{
    WindowRun run;
    run.Go({{0, false, true, false}, {100, true, true, true}, {200, false, true, false}});
    run.test->Stop();
    EXPECT_EQ(run.model.Marks(S(100)).size(), 1u) << "a press at the strip's right edge is on it";
    ASSERT_EQ(run.model.PressText(), "Presses: 1");
    ASSERT_FALSE(run.model.StatusText().empty());
    run.Go({{1000, false, true, false}});
    EXPECT_EQ(run.model.PressText(), "Presses: 0");
    EXPECT_EQ(run.model.ToggledText(), "Toggled: off");
    EXPECT_EQ(run.model.StatusText(), "");
    for (const std::string &line : run.model.Log())
        EXPECT_EQ(line.find("press 1"), std::string::npos) << line;
    EXPECT_FALSE(run.model.Controls().save);
    run.target.now = {1100, false, true, false};
    run.clock.ms = 1100;
    run.test->Tick();
    EXPECT_EQ(run.model.Marks(S(1100)), std::vector<PressMark>{});
    EXPECT_EQ(run.model.Strip(ModemLine::Cts, S(1100)), Segs({{1000, 1100, Lo}}));
    EXPECT_EQ(run.model.Strip(ModemLine::Dtr, S(1100)), Segs({{1000, 1100, Lo}}));
}

// Save is offered only for a test that read the lines: one the library
// refused at the start has nothing worth saving, nor has a search alone.
TEST(KeyWindowModelTest, SaveIsOfferedOnlyForATestThatPolled)
{
    const WindowControls idle{true, true, true, false, false};
    WindowRun run;
    run.model.Print("Finding the key on 1 serial port");
    run.model.FindStarted();
    run.model.Status("Press the key 3 times now");
    run.model.FindFinished({"No line changed on COM1."});
    EXPECT_EQ(run.model.CurrentPhase(), KeyWindowModel::Phase::Idle);
    EXPECT_EQ(run.model.Controls(), idle);
    EXPECT_EQ(run.model.StatusText(), "") << "the search is over";
    EXPECT_EQ(run.model.Log(),
              (std::vector<std::string>{"Finding the key on 1 serial port", "No line changed on COM1."}));

    KeyWindowTest refused(run.options, "COM9;3F8", run.target, run.clock, run.model, "now");
    EXPECT_FALSE(refused.Start());
    EXPECT_EQ(run.model.CurrentPhase(), KeyWindowModel::Phase::Finished);
    EXPECT_EQ(run.model.Controls(), idle);
    run.model.FindStarted();
    run.model.FindFinished({});
    EXPECT_EQ(run.model.Controls(), idle);
}

TEST(KeyWindowModelTest, StopEndsAsACarefulHostAndSaysSo)
{
    WindowRun run;
    run.Go({{0, false, true, false}, {100, true, true, true}, {200, false, true, false}});
    run.test->Stop();
    EXPECT_FALSE(run.test->Running());
    ASSERT_GE(run.target.calls.size(), 2u);
    EXPECT_EQ(run.target.calls[run.target.calls.size() - 2], "SetToggled(0)");
    EXPECT_EQ(run.target.calls.back(), "StopListen");
    bool said = false;
    for (const std::string &line : run.model.Log())
        said = said || (line.find("ZelbinStopListen") != std::string::npos &&
                        line.find("(stopped)") != std::string::npos);
    EXPECT_TRUE(said) << "the Stop button is no Ctrl+C";
    EXPECT_NE(run.test->Csv().find("press"), std::string::npos);
    EXPECT_NE(run.test->Vcd().find("$enddefinitions"), std::string::npos);
}

TEST(KeyWindowModelTest, ClosingWhileTestingStopsListening)
{
    WindowRun run;
    run.Go({{0, false, true, false}, {100, true, true, true}});
    run.test.reset();
    ASSERT_FALSE(run.target.calls.empty());
    EXPECT_EQ(run.target.calls.back(), "StopListen");
}

TEST(KeyWindowModelTest, TickWaitsForTheIntervalAndEndsAtThePresses)
{
    WindowRun run;
    run.options.presses = 1;
    run.test = std::make_unique<KeyWindowTest>(run.options, "", run.target, run.clock, run.model, "now");
    ASSERT_TRUE(run.test->Start());
    run.clock.ms = 4;
    EXPECT_EQ(run.test->Tick(), std::optional<std::uint32_t>(6)) << "no poll before the interval";
    run.clock.ms = 10;
    run.target.now = {10, true, true, true};
    EXPECT_EQ(run.test->Tick(), std::nullopt);
    EXPECT_FALSE(run.test->Running());
    EXPECT_EQ(run.model.CurrentPhase(), KeyWindowModel::Phase::Finished);
}

} // namespace
