// One key test, from the start of listening to the summary, the same for
// every front end: the console tester, the records check on simulated time,
// a windowed tester. It calls the library and io.dll through KeyTestTarget,
// reads the time from KeyTestClock and hands every text to KeyTestOutput;
// it waits for nothing itself: the front end waits WaitMs() between polls.
//
// A test session is a careful host: it starts listening, polls, flips the
// toggled state at each press and drives it out on DTR, and at the end
// turns DTR off (unless --dtr on holds it) before it stops listening. It
// also asks io.dll whether the driver answers after each poll: lines read
// while it doesn't are no line levels, so they are not judged, and the
// driver going away and coming back are events of their own.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "keytest/CsvLog.h"
#include "keytest/IoStatus.h"
#include "keytest/KeyAnalysis.h"
#include "keytest/KeyTestOptions.h"
#include "keytest/PollTiming.h"
#include "keytest/PortPlan.h"
#include "keytest/VcdWriter.h"

namespace keytest {

// The library's calls a host makes while it tests, and io.dll's own reads.
class KeyTestTarget {
public:
    virtual ~KeyTestTarget() = default;
    virtual void StartListen(const char *params) = 0; // null: the library's default
    virtual bool IsZBToggle() = 0;
    virtual void SetToggled(bool on) = 0;
    virtual void StopListen() = 0;
    virtual bool DriverAnswers() = 0; // io.dll's IsDriverInstalled
    virtual LineLevels ReadLines(std::uint16_t base) = 0;
    // Whether a UART answers at `base` (UartAnswersAt), asked once at the
    // start where the driver answers.
    virtual bool UartAnswers(std::uint16_t base) = 0;
    // What io.dll says of itself: the comm-port io.dll's status text (for
    // people, with the system's message beside each code) and its records;
    // empty for an io.dll that says nothing.
    virtual IoDllStatus IoStatus() { return {}; }
    // Whether io.dll is the stand-in for tests: a simulated PC that reads no
    // port, whose key is no key wired to this PC.
    virtual bool Simulated() { return false; }
};

class KeyTestClock {
public:
    virtual ~KeyTestClock() = default;
    virtual double Seconds() = 0; // since the start of the test
    virtual std::string WallClock(double seconds) = 0; // for the log: "2026-12-08T16:30:01.234"
};

class KeyTestOutput {
public:
    virtual ~KeyTestOutput() = default;
    virtual void Line(const std::string &text) = 0;
    // The live state, rewritten in place where the front end can.
    virtual void Status(const std::string &) {}
};

// Interrupted: Ctrl+C on a console; Stopped: a window's Stop button.
enum class KeyTestEnd { TimeUp, PressesReached, Interrupted, Stopped };

class KeyTestSession {
public:
    // `csv` and `vcd` (null: none) receive the records; `startedAt` heads
    // the trace. All must outlive the session.
    KeyTestSession(const KeyTestOptions &options, const PortPlan &plan, KeyTestTarget &target, KeyTestClock &clock,
                   KeyTestOutput &output, std::ostream *csv, std::ostream *vcd, const std::string &startedAt);

    // Starts listening and reads the lines as the start left them. False
    // when there is nothing to poll for (the library refuses the base, or
    // the driver doesn't answer, as the comm-port io.dll that holds no
    // device): the front end goes straight to Stop.
    bool Start();
    // One poll: the library's answer, the driver check, the lines.
    void Poll();
    bool PressesReached() const;
    bool TimeUp();
    // Milliseconds to wait before the next poll; 0: poll now (or the time
    // is up, which TimeUp tells).
    std::uint32_t WaitMs();
    // Turns DTR off unless --dtr on holds it, and stops listening.
    void Stop(KeyTestEnd end);
    // The closing lines: the stop, the summary and the hints. Returns the
    // exit status the test earns (KeyTestOk, KeyTestPressesNotReached or
    // KeyTestNothingTested).
    int Report();

    const KeyAnalysis &Analysis() const { return analysis_; }
    bool Toggled() const { return toggled_; }

private:
    void Event(const KeyEvent &event, const std::string &state, bool dtr);
    std::string PressState(bool dtr) const;
    // The status line's last part: the toggled state, or DTR held.
    std::string StatusState() const;
    // The status line while the driver doesn't answer.
    std::string DriverAwayStatus() const;
    void DriverChange(bool answers, double seconds);

    const KeyTestOptions &options_;
    const PortPlan &plan_;
    KeyTestTarget &target_;
    KeyTestClock &clock_;
    KeyTestOutput &output_;
    std::optional<CsvLog> log_;
    std::optional<VcdWriter> vcd_;
    KeyAnalysis analysis_;
    PollTiming timing_;

    bool toggled_ = false;
    bool started_ = false;     // listening, with a base the library accepts
    bool driver_ = false;      // at the last check
    bool noUart_ = false; // no UART answers at the base: nothing read there is a line level
    bool polledWithDriver_ = false; // a poll found the driver answering: something was tested
    std::uint32_t driverLosses_ = 0; // while listening, after it had answered
    double awaySince_ = 0, awaySeconds_ = 0;
    std::string lastStatus_; // io.dll's text when the driver was last found away
    LineLevels lastLines_;   // at the last poll the driver answered
    double lastPoll_ = 0;
    double stoppedAt_ = 0;
    KeyTestEnd end_ = KeyTestEnd::TimeUp;
};

} // namespace keytest
