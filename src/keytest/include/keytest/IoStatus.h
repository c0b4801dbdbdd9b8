// The comm-port io.dll's status text, made readable for a technician: it
// gives Windows error codes as bare numbers ("CreateFile failed (error 2)").
// Each gets the system's message beside the number, and the errors a
// technician can act on get a line of advice.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace keytest {

// The system's message for an error code, without the number (empty when the
// system has none).
using SystemText = std::function<std::string(unsigned long code)>;

struct ExplainedStatus {
    std::string text;                // "... (error 2: The system cannot find the file specified) ..."
    std::vector<std::string> advice; // what to do, one line for each kind of error met, in order
};

ExplainedStatus ExplainIoStatus(const std::string &status, const SystemText &systemText);

// What the comm-port io.dll's status text says of the line events: whether
// it watches the driver's comm events for a device it holds, how many
// presses and releases it recovered that fell between two polls, and how
// many changes only its periodic refresh found (a driver that signals
// nothing). An io.dll that says nothing of them watches none.
struct LineEventsStatus {
    bool watched = false;
    bool refused = false;     // the driver refused them: one read per poll
    unsigned long recovered = 0;
    unsigned long refreshFinds = 0;
};

LineEventsStatus ReadLineEvents(const std::string &status);
// One line for a report: "watched, 2 edges recovered between polls, ...".
std::string DescribeLineEvents(const LineEventsStatus &events);

} // namespace keytest
