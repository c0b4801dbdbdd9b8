// The key tester's test session over a scripted library, io.dll and clock:
// what it calls and in which order, what it prints, what it records, and
// the exit status a run earns.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <sstream>

#include "keytest/CsvLog.h"
#include "keytest/KeyReport.h"
#include "keytest/KeyTestSession.h"
#include "testsupport/ScriptedKeyTarget.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

using testsupport::ScriptedClock;
using testsupport::ScriptedTarget;
using testsupport::Step;

class Captured : public KeyTestOutput {
public:
    std::vector<std::string> lines;
    std::string status;
    void Line(const std::string &text) override { lines.push_back(text); }
    void Status(const std::string &text) override { status = text; }
    bool Has(const std::string &fragment) const
    {
        for (const std::string &line : lines)
            if (line.find(fragment) != std::string::npos)
                return true;
        return false;
    }
    std::string All() const
    {
        std::string all;
        for (const std::string &line : lines)
            all += line + "\n";
        return all;
    }
};

struct SessionRun {
    ScriptedTarget target;
    ScriptedClock clock;
    Captured output;
    std::ostringstream csv, vcd;
    int status = -1;

    // Start at steps[0], a poll at each later step, then the stop at the
    // last step's time.
    void Go(const KeyTestOptions &options, const std::vector<Step> &steps)
    {
        const PortPlan plan = PlanPort(options.hasParameters ? options.parameters.c_str() : nullptr);
        KeyTestSession session(options, plan, target, clock, output, &csv, &vcd, "now");
        target.now = steps.front();
        clock.ms = steps.front().ms;
        if (session.Start())
            for (std::size_t i = 1; i < steps.size() && !session.PressesReached(); ++i) {
                target.now = steps[i];
                clock.ms = steps[i].ms;
                session.Poll();
            }
        session.Stop(session.PressesReached() ? KeyTestEnd::PressesReached : KeyTestEnd::TimeUp);
        status = session.Report();
    }
    std::vector<std::string> CsvEvents() const
    {
        std::vector<std::string> rows;
        std::istringstream in(csv.str());
        std::string row;
        std::getline(in, row); // the header
        while (std::getline(in, row)) {
            if (!row.empty() && row.back() == '\r') // a Windows text file's line end
                row.pop_back();
            rows.push_back(row.substr(row.find(',') + 1)); // without the wall clock
        }
        return rows;
    }
    // The library's calls other than the polls.
    std::vector<std::string> Calls() const
    {
        std::vector<std::string> calls;
        for (const std::string &call : target.calls)
            if (call != "IsZBToggle")
                calls.push_back(call);
        return calls;
    }
};

KeyTestOptions Options(const char *params, std::function<void(KeyTestOptions &)> change = {})
{
    KeyTestOptions options;
    if (params) {
        options.hasParameters = true;
        options.parameters = params;
    }
    if (change)
        change(options);
    return options;
}

struct SessionCase {
    const char *name;
    KeyTestOptions options;
    std::vector<Step> steps;
    std::vector<std::string> calls; // all but the polls
    std::vector<std::string> csv;   // rows without the wall clock
    std::vector<std::string> lines; // a fragment of lines that must be printed
    std::vector<std::string> never; // fragments no line may hold
    int status;
};

std::ostream &operator<<(std::ostream &os, const SessionCase &c) { return os << c.name; }

class KeyTestSessionCases : public ::testing::TestWithParam<SessionCase> {};

TEST_P(KeyTestSessionCases, CallsPrintsRecordsAndEndsAsAHostShould)
{
    SessionRun run;
    run.Go(GetParam().options, GetParam().steps);
    EXPECT_EQ(run.Calls(), GetParam().calls);
    EXPECT_EQ(run.CsvEvents(), GetParam().csv);
    for (const std::string &fragment : GetParam().lines)
        EXPECT_TRUE(run.output.Has(fragment)) << "no line with: " << fragment << "\n" << run.output.All();
    for (const std::string &fragment : GetParam().never)
        EXPECT_FALSE(run.output.Has(fragment)) << "a line with: " << fragment << "\n" << run.output.All();
    EXPECT_EQ(run.status, GetParam().status) << run.output.All();
}

const std::string Hint = "Hint: ";

INSTANTIATE_TEST_SUITE_P(Cases, KeyTestSessionCases, ::testing::Values(
    SessionCase{"a press toggles DTR on, and the end turns it off before the stop",
                Options("COM2"),
                {{0, false, true, false}, {10, true, true, true}, {20, false, true, false}, {30, false, true, false}},
                {"StartListen(COM2)", "SetToggled(1)", "SetToggled(0)", "StopListen"},
                {"0.010,press,1,,,0,1", "0.020,release,1,10.0,,0,1"},
                {"press 1: toggled on,  DTR on", "ZelbinSetToggled(0): DTR off before stopping",
                 "ZelbinStopListen after 0.03 s: 1 press, toggled off (time up)"},
                {Hint},
                KeyTestOk},
    SessionCase{"--dtr on holds DTR to the end",
                Options("COM2", [](KeyTestOptions &o) { o.dtr = DtrHold::On; }),
                {{0, false, true, false}, {10, true, true, true}, {20, false, true, false}},
                {"StartListen(COM2)", "SetToggled(1)", "StopListen"},
                {"0.010,press,1,,,0,1", "0.020,release,1,10.0,,0,1"},
                {"ZelbinSetToggled(1): DTR held on for the whole test", "press 1: DTR held on"},
                {"DTR off before stopping"},
                KeyTestOk},
    SessionCase{"a press over before the line is read is a row held 0 ms",
                Options(nullptr, [](KeyTestOptions &o) { o.dtr = DtrHold::Off; }),
                {{0, false, true, false}, {10, true, true, false}},
                {"StartListen(NULL)", "SetToggled(0)", "SetToggled(0)", "StopListen"},
                {"0.010,press,1,,,0,0", "0.010,release,1,0.0,,0,0"},
                {"ZelbinStartListen(NULL): the library's default", "release 1: held 0.0 ms"},
                {"DTR off before stopping"},
                KeyTestOk},
    SessionCase{"the driver going away and coming back are events",
                Options("COM1"),
                {{0, false, true, false}, {10, true, true, true}, {20, false, false, true}, {30, false, false, false},
                 {40, false, true, false}, {50, true, true, true}, {60, false, true, false}},
                {"StartListen(COM1)", "SetToggled(1)", "SetToggled(0)", "SetToggled(0)", "StopListen"},
                {"0.010,press,1,,,0,1", "0.020,driver_lost,,,,,", "0.040,driver_back,,,,,",
                 "0.040,release,1,30.0,,0,1", "0.050,press,2,,10.0,1,0", "0.060,release,2,10.0,,0,0"},
                {"[    0.020 s] driver lost: IsDriverInstalled -> 0, no press can be seen until it answers again "
                 "(COM5 for any UART: not held, open failed (error 2: no such file))",
                 "[    0.040 s] driver back: IsDriverInstalled -> 1",
                 "  driver          1 loss, 0.02 s without it in all"},
                {},
                KeyTestOk},
    SessionCase{"a driver that doesn't answer at the start: nothing to test, no poll, no wiring hints",
                Options("COM1", [](KeyTestOptions &o) { o.presses = 1; }),
                {{0, false, false, true}, {10, false, false, true}, {20, false, false, true}},
                {"StartListen(COM1)", "SetToggled(0)", "StopListen"},
                {},
                {"Nothing to test: the driver does not answer (IsDriverInstalled -> 0), so the library stays idle "
                 "and reports no press.",
                 "  nothing tested  the driver answered no poll (IsDriverInstalled -> 0) (io.dll: COM5 for any UART"},
                {Hint, "already closed at start", "Fewer than"},
                KeyTestNothingTested},
    SessionCase{"a refused base tests nothing and reads no line",
                Options("COM9;2E8", [](KeyTestOptions &o) { o.presses = 2; }),
                {{0, false, true, true}, {10, true, true, true}},
                {"StartListen(COM9;2E8)", "StopListen"},
                {},
                {"Nothing to test: the library refuses the base 002Eh, opens nothing and reports no press.",
                 "(nothing to test)", "  nothing tested  the library refused the base 002Eh and stayed idle"},
                {Hint, "press 1"},
                KeyTestNothingTested},
    SessionCase{"presses not reached, one asked",
                Options("COM1", [](KeyTestOptions &o) { o.presses = 1; }),
                {{0, false, true, true}, {10, false, true, true}},
                {"StartListen(COM1)", "SetToggled(0)", "StopListen"},
                {},
                {"Warning: The key is already closed at start (CTS on)", "Fewer than the 1 press asked for.",
                 "Hint: CTS stayed on the whole test"},
                {},
                KeyTestPressesNotReached},
    SessionCase{"presses reached end the test",
                Options("COM1", [](KeyTestOptions &o) { o.presses = 2; }),
                {{0, false, true, false}, {10, true, true, true}, {20, false, true, false}, {30, true, true, true},
                 {40, false, true, false}},
                {"StartListen(COM1)", "SetToggled(1)", "SetToggled(0)", "SetToggled(0)", "StopListen"},
                {"0.010,press,1,,,0,1", "0.020,release,1,10.0,,0,1", "0.030,press,2,,10.0,1,0"},
                {"ZelbinStopListen after 0.03 s: 2 presses, toggled off"},
                {"(time up)"},
                KeyTestOk}));

// A base where no UART answers reads FFh: CTS "on", a press at once. None
// of it is a line level.
TEST(KeyTestSession, NoUartAtTheBaseTestsNothingAndJudgesNothing)
{
    SessionRun run;
    run.target.uart = false;
    run.Go(Options("COM9;1000h"), {{0, false, true, true}, {10, true, true, true}, {20, false, true, true}});
    EXPECT_EQ(run.status, KeyTestNothingTested);
    EXPECT_TRUE(run.output.Has("Warning: No UART answers at 1000h (its modem control register reads FFh)"));
    EXPECT_TRUE(run.output.Has("  nothing tested  no UART answers at 1000h"));
    EXPECT_FALSE(run.output.Has("already closed at start"));
    EXPECT_FALSE(run.output.Has("Hint: "));
    EXPECT_FALSE(run.output.Has("press 1")) << run.output.All();
    EXPECT_EQ(run.target.reads, 0u);
    EXPECT_EQ(run.CsvEvents(), std::vector<std::string>{});
}

// A driver that doesn't answer as the test starts: the test ends there,
// without a single poll, however long it was to run.
TEST(KeyTestSession, ADriverThatDoesNotAnswerAtTheStartEndsTheTestAtOnce)
{
    SessionRun run;
    run.Go(Options("COM1", [](KeyTestOptions &o) { o.seconds = 30; }),
           {{0, false, false, false}, {10, true, true, true}, {20, false, true, false}});
    EXPECT_EQ(std::count(run.target.calls.begin(), run.target.calls.end(), "IsZBToggle"), 0);
    EXPECT_EQ(run.status, KeyTestNothingTested);
    EXPECT_TRUE(run.output.Has("ZelbinStopListen after 0.00 s: 0 presses, toggled off")) << run.output.All();
}

// On the stand-in, what is seen is its simulated key: no hint blames the
// wiring of a PC it never read.
TEST(KeyTestSession, OnTheStandInNoHintBlamesTheWiring)
{
    SessionRun run;
    run.target.simulated = true;
    run.Go(Options("COM1"), {{0, false, true, false}, {10, false, true, false}});
    EXPECT_FALSE(run.output.Has("Check the port")) << run.output.All();
    EXPECT_FALSE(run.output.Has("wiring")) << run.output.All();
    EXPECT_TRUE(run.output.Has("Hint: the stand-in io.dll simulates a PC and reads no serial port")) << run.output.All();
    EXPECT_TRUE(run.output.Has("Hint: CTS stayed off the whole test: nothing pressed the stand-in's simulated key"))
        << run.output.All();
    EXPECT_EQ(run.status, KeyTestOk);
}

TEST(KeyTestSession, TheStatusLineSaysWhenTheDriverDoesNotAnswer)
{
    SessionRun run;
    run.Go(Options("COM1"), {{0, false, true, false}, {10, false, false, false}});
    EXPECT_EQ(run.output.status, "driver does not answer (IsDriverInstalled -> 0) | presses 0, toggled off");
    SessionRun good;
    good.Go(Options("COM1"), {{0, false, true, false}, {10, false, true, true}});
    EXPECT_EQ(good.output.status, "CTS on  DSR off DCD off RI off | RTS on  DTR off | presses 0, toggled off");
}

// The status line's last word is the lines as the test leaves them: after a
// test that ended toggled on it shows DTR off, as the log says the stop
// turned it off, and the lamps and the trace agree; DTR held on stays on;
// with the driver gone nothing is read and the line says so.
TEST(KeyTestSession, TheLastStatusShowsTheLinesAsTheStopLeavesThem)
{
    struct Case {
        const char *name;
        KeyTestOptions options;
        std::vector<Step> steps;
        const char *status;
        const char *lastTrace; // the trace's last DTR sample ("0\"" off, "1\"" on), or null for none
    } cases[] = {
        {"ended toggled on", Options("COM1"), {{0, false, true, false}, {10, true, true, true}},
         "CTS on  DSR off DCD off RI off | RTS on  DTR off | presses 1, toggled off", "0\""},
        {"DTR held on", Options("COM1", [](KeyTestOptions &o) { o.dtr = DtrHold::On; }),
         {{0, false, true, false}, {10, false, true, false}},
         "CTS off DSR off DCD off RI off | RTS on  DTR on  | presses 0, DTR held on", "1\""},
        {"driver gone at the end", Options("COM1"), {{0, false, true, false}, {10, true, false, true}},
         "driver does not answer (IsDriverInstalled -> 0) | presses 1, toggled off", nullptr},
    };
    for (const Case &c : cases) {
        SessionRun run;
        run.Go(c.options, c.steps);
        EXPECT_EQ(run.output.status, c.status) << c.name;
        const std::string vcd = run.vcd.str();
        const std::size_t lastDtr = vcd.rfind("\"\r\n");
        if (c.lastTrace) {
            EXPECT_EQ(vcd.substr(lastDtr - 1, 2), c.lastTrace) << c.name << "\n" << vcd;
        }
    }
}

} // namespace
