// What the key tester's tests share: polls as the tester makes them, given
// to its analysis and its poll timing, and the system's texts for a few
// error codes.
#pragma once

#include <string>
#include <vector>

#include "keytest/KeyAnalysis.h"
#include "keytest/PollTiming.h"

// One poll: the library's answer, and CTS as read right after it.
struct Poll {
    double ms;
    bool pressed;
    bool cts;
};

// Gives each poll to the analysis, and to the timing where there is one;
// returns the events the analysis made of them.
inline std::vector<keytest::KeyEvent> Feed(keytest::KeyAnalysis &analysis, const std::vector<Poll> &polls,
                                           keytest::PollTiming *timing = nullptr)
{
    std::vector<keytest::KeyEvent> events;
    for (const Poll &poll : polls) {
        keytest::LineLevels lines;
        lines[keytest::ModemLine::Cts] = poll.cts;
        if (timing)
            timing->Poll(poll.ms / 1000.0);
        for (const keytest::KeyEvent &e : analysis.Poll(poll.ms / 1000.0, poll.pressed, lines))
            events.push_back(e);
    }
    return events;
}

// The system's text for an error code, as FormatMessage gives it, for the
// few codes the tests name; empty for the rest, as for a code it doesn't
// know.
inline std::string SystemTextOf(unsigned long code)
{
    switch (code) {
    case 2: return "The system cannot find the file specified";
    case 5: return "Access is denied";
    case 22: return "The device does not recognize the command";
    default: return "";
    }
}
