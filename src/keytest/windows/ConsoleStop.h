// Ctrl+C, Ctrl+Break and the console closing, for the console tester's
// loops (a test, a search) that must give back what they hold before the
// program ends: the program's one console handler.
#pragma once

#include <windows.h>

namespace keytest {

// While one lives, those events set Event() instead of ending the program,
// and the loop waiting on it ends itself. When the console is closing,
// Windows ends the process as soon as the handler returns, so the handler
// first waits (up to 4 s) for Done(). Once it is gone, Ctrl+C ends the
// program as usual again. One in a program's run: its events, once set,
// stay set.
class ConsoleStop {
public:
    ConsoleStop();
    ~ConsoleStop();
    ConsoleStop(const ConsoleStop &) = delete;
    ConsoleStop &operator=(const ConsoleStop &) = delete;

    // False where the events couldn't be made: then nothing can wait or
    // stop, and the loop must not start.
    bool Ready() const;
    HANDLE Event() const;
    // What the loop held is given back: a closing console may go now.
    void Done();
};

} // namespace keytest
