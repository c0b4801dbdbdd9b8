// The key tester's time: seconds since the start from the performance
// counter, the wall clock for the log, and the system timer's resolution
// raised for the life of the test.
#pragma once

#include <windows.h>

#include <string>

#include "keytest/KeyTestSession.h"

namespace keytest {

class Clock : public KeyTestClock {
public:
    Clock();
    double Seconds() override;
    // The local wall-clock time `seconds` after the start, for the log.
    std::string WallClock(double seconds) override;

private:
    LARGE_INTEGER frequency_, start_;
    FILETIME wallStart_;
};

// Without this, Windows sleeps in steps of its 15.6 ms tick: a wait of a few
// milliseconds then lasts a whole tick. Restored when it goes out of scope.
class TimerResolution {
public:
    TimerResolution();
    ~TimerResolution();
    TimerResolution(const TimerResolution &) = delete;
    TimerResolution &operator=(const TimerResolution &) = delete;
    // The period in force, in milliseconds; 0 when it could not be raised.
    UINT Period() const { return period_; }

private:
    UINT period_ = 0;
};

} // namespace keytest
