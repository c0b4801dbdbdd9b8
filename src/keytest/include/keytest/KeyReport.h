// The key tester's texts: event lines, the live status line, the summary and
// the hints about lines that never changed.
#pragma once

#include <string>
#include <vector>

#include "keytest/KeyAnalysis.h"
#include "keytest/KeyTestOptions.h"
#include "keytest/PollTiming.h"

namespace keytest {

// "[    0.405 s] press 1: toggled on,  DTR on" or "[    0.505 s] release 1:
// held 100 ms"; `state` follows a press's number (the toggled state and DTR).
// For the driver going away, `state` is what io.dll says of it (its status
// text, or empty).
std::string FormatEvent(const KeyEvent &event, const std::string &state);

// The line rewritten in place on a console, within 79 columns up to a
// million presses:
// "CTS on  DSR off DCD off RI off | RTS on  DTR off | presses 3, toggled on"
std::string FormatStatusLine(const LineLevels &lines, std::uint32_t presses, const std::string &state);

// The closing summary, a line each.
std::vector<std::string> FormatSummary(const KeyAnalysis &analysis, const PollTiming &timing, std::uint32_t intervalMs);

// A hint for each line whose never changing says something is wrong.
// `simulated`: the lines are the stand-in io.dll's, whose key is pressed by
// the virtual key, not wired to a port.
std::vector<std::string> LineHints(const KeyAnalysis &analysis, DtrHold dtr, bool simulated = false);

} // namespace keytest
