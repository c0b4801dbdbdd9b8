// What the key tester reads from the comm-port io.dll's status text about
// line events, and shows in its preflight.
#include <gtest/gtest.h>

#include <string>

#include "keytest/IoStatus.h"
#include "keytest/PortPlan.h"
#include "keytest/Preflight.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

struct EventsCase {
    const char *name;
    const char *status;
    bool watched, refused;
    unsigned long recovered, refreshFinds;
};

// Printed by its name, not its bytes (padding included).
std::ostream &operator<<(std::ostream &os, const EventsCase &c) { return os << c.name; }

class LineEventsText : public ::testing::TestWithParam<EventsCase> {};

TEST_P(LineEventsText, AreReadFromTheStatus)
{
    const LineEventsStatus events = ReadLineEvents(GetParam().status);
    EXPECT_EQ(events.watched, GetParam().watched);
    EXPECT_EQ(events.refused, GetParam().refused);
    EXPECT_EQ(events.recovered, GetParam().recovered);
    EXPECT_EQ(events.refreshFinds, GetParam().refreshFinds);
}

INSTANTIATE_TEST_SUITE_P(Table, LineEventsText, ::testing::Values(
    EventsCase{"Watched", "COM5 for any UART: held, line events watched", true, false, 0, 0},
    EventsCase{"WithCounts", "COM5 for any UART: held, line events watched; 12 edges recovered between polls, "
                             "3 changes found only by refresh", true, false, 12, 3},
    EventsCase{"Refused", "COM5 for any UART: held, line events refused by SetCommMask (error 1), lines read at "
                          "every poll", false, true, 0, 0},
    EventsCase{"OlderIoDll", "COM5 for any UART: held", false, false, 0, 0},
    EventsCase{"NoNumber", "x; edges recovered between polls", false, false, 0, 0},
    EventsCase{"Empty", "", false, false, 0, 0}),
    [](const ::testing::TestParamInfo<EventsCase> &p) { return std::string(p.param.name); });

TEST(LineEventsPreflight, ShowsWhetherEventsAreWatchedAndTheRecoveredEdges)
{
    const PortPlan plan = PlanPort("COM5;3F8h");
    PreflightFacts facts;
    facts.driver = true;
    facts.commio = true;
    facts.commioStatus = "COM5 for any UART: held, line events watched; 1 edges recovered between polls, "
                         "0 changes found only by refresh";
    std::vector<std::string> events;
    for (const std::string &line : FormatPreflight(facts, plan, [](unsigned long) { return std::string(); }))
        if (line.rfind("  events : ", 0) == 0)
            events.push_back(line);
    EXPECT_EQ(events, std::vector<std::string>{"  events : watched (a poll makes no device call unless a line "
                                               "changed), 1 edge recovered between polls"});
    facts.driver = false; // holding nothing: nothing to say of events
    for (const std::string &line : FormatPreflight(facts, plan, [](unsigned long) { return std::string(); }))
        EXPECT_NE(line.rfind("  events : ", 0), 0u) << line;
}

} // namespace
