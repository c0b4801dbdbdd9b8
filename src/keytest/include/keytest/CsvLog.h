// The event log: CSV, a header and then one event a line.
//
//   time,seconds,event,press,held_ms,gap_ms,chatter,dtr
//   2026-12-08T16:30:01.234,0.405,press,1,,,0,1
//   2026-12-08T16:30:01.335,0.506,release,1,100.6,,0,1
//
// time is the wall clock (local, to the millisecond), seconds counts from
// the start of the test; held_ms belongs to releases, gap_ms to presses that
// follow a release; chatter and dtr are 0 or 1. The driver going away and
// answering again are rows of their own, driver_lost and driver_back, with
// the other fields empty.
#pragma once

#include <ostream>
#include <string>

#include "keytest/KeyAnalysis.h"

namespace keytest {

class CsvLog {
public:
    explicit CsvLog(std::ostream &out);

    void Write(const KeyEvent &event, const std::string &wallClock, bool dtr);

private:
    std::ostream &out_;
};

// "2026-12-08T16:30:01.234"
std::string FormatWallClock(int year, int month, int day, int hour, int minute, int second, int millisecond);

} // namespace keytest
