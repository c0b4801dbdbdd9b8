// What the windowed key tester shows, apart from the drawing: the lamps of
// the six modem lines, the press count and the toggled state, a timing
// strip of CTS and DTR over the last ten seconds with the presses marked,
// the lines the console would print, and which buttons can be used.
//
// KeyWindowTest runs one test through the same KeyTestSession as the
// console tester and feeds the model from it: the line levels as the
// session reads them, the presses as its analysis counts them, its lines
// and its status. The window calls Tick() from a timer; nothing here waits.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "keytest/KeyAnalysis.h"
#include "keytest/KeyTestOptions.h"
#include "keytest/KeyTestSession.h"
#include "keytest/PortPlan.h"

namespace keytest {

enum class Lamp { Unknown, Off, On }; // Unknown: no reading yet, or the driver is away

enum class StripColour { Low, High, Chatter, NoReading };

// A stretch of one line at one level, in seconds since the test's start.
struct StripSegment {
    double from = 0, to = 0;
    StripColour colour = StripColour::Low;
    bool operator==(const StripSegment &o) const { return from == o.from && to == o.to && colour == o.colour; }
};

struct PressMark {
    double seconds = 0;
    std::uint32_t press = 0;
    bool chatter = false;
    bool operator==(const PressMark &o) const
    {
        return seconds == o.seconds && press == o.press && chatter == o.chatter;
    }
};

struct WindowControls {
    bool ports = true; // the picker and the parameter text
    bool find = true;
    bool start = true;
    bool stop = false;
    bool save = false; // the log and the trace of the last test
    bool operator==(const WindowControls &o) const
    {
        return ports == o.ports && find == o.find && start == o.start && stop == o.stop && save == o.save;
    }
};

class KeyWindowModel {
public:
    static constexpr double StripSeconds = 10;

    enum class Phase { Idle, Running, Finished, Finding };

    void TestStarted();
    // The lines as read at `seconds`; a new level starts a new segment.
    void Reading(double seconds, const LineLevels &lines);
    // The driver stopped answering: what io.dll reads is no line level.
    void DriverAway(double seconds);
    void Press(double seconds, std::uint32_t press, bool chatter, bool toggled);
    void Print(const std::string &text) { log_.push_back(text); }
    void Status(const std::string &text) { status_ = text; }
    // `records`: the test polled, so its log and trace are worth saving;
    // `toggled`: the host's state as the test left it (off after the stop,
    // as a rule); `seconds`: when it ended.
    void TestFinished(bool records, bool toggled, double seconds);
    void FindStarted();
    void FindFinished(const std::vector<std::string> &lines);

    Phase CurrentPhase() const { return phase_; }
    Lamp LampOf(ModemLine line) const { return lamps_[line]; }
    std::uint32_t Presses() const { return presses_; }
    bool Toggled() const { return toggled_; }
    std::string PressText() const; // "Presses: 3"
    std::string ToggledText() const; // "Toggled: on"
    const std::string &StatusText() const { return status_; }
    const std::vector<std::string> &Log() const { return log_; }
    WindowControls Controls() const;

    // CTS or DTR (any line) over [now - StripSeconds, now], oldest first,
    // clipped to that window; the last level runs on to `now`.
    std::vector<StripSegment> Strip(ModemLine line, double now) const;
    std::vector<PressMark> Marks(double now) const;
    // Where the strip ends once a test is over: a little after the stop, so
    // that the levels the stop left (DTR off) show at its right edge.
    static constexpr double AfterStopSeconds = 0.3;
    double StripEnd() const { return finishedAt_ + AfterStopSeconds; }
    // Which of the marks at these x positions (left to right) get their
    // number drawn, each number `width` wide: a number never covers the one
    // before it, so a burst of chattering presses shows its first number
    // and the next that has room.
    static std::vector<bool> NumberedMarks(const std::vector<int> &x, const std::vector<int> &width);

private:
    struct Level {
        double from;
        bool known; // false: the driver was away
        bool on;
        bool chatter;
    };
    void Add(ModemLine line, double seconds, bool known, bool on);
    void Forget(double seconds);

    Phase phase_ = Phase::Idle;
    bool records_ = false;
    uart::PerLine<Lamp> lamps_;
    uart::PerLine<std::vector<Level>> levels_;
    std::vector<PressMark> marks_;
    std::uint32_t presses_ = 0;
    bool toggled_ = false;
    double finishedAt_ = 0;
    std::string status_;
    std::vector<std::string> log_;
};

// One test for the window: the session over the window's target and clock,
// with the log and the trace kept in memory until the technician saves them.
class KeyWindowTest : private KeyTestOutput {
public:
    // `preflight`: the console's lines before a test (what is in use, the
    // warnings), shown first.
    KeyWindowTest(const KeyTestOptions &options, const std::string &parameters, KeyTestTarget &target,
                  KeyTestClock &clock, KeyWindowModel &model, const std::string &startedAt,
                  std::vector<std::string> preflight = {});
    ~KeyWindowTest() override;
    KeyWindowTest(const KeyWindowTest &) = delete;
    KeyWindowTest &operator=(const KeyWindowTest &) = delete;

    // Starts listening; false when the library refused the base and the
    // test has already ended.
    bool Start();
    // Polls when a poll is due and ends the test when its time is up or its
    // presses are reached. Returns the milliseconds until the next tick, or
    // nothing once the test is over.
    std::optional<std::uint32_t> Tick();
    // The Stop button and closing the window: stops listening first.
    void Stop();
    bool Running() const { return running_; }

    std::string Csv() const { return csv_.str(); }
    std::string Vcd() const { return vcd_.str(); }

private:
    class Watch;
    void Line(const std::string &text) override;
    void Status(const std::string &text) override;
    void End(KeyTestEnd end);

    KeyTestOptions options_;
    PortPlan plan_;
    KeyTestClock &clock_;
    KeyWindowModel &model_;
    std::ostringstream csv_, vcd_;
    std::unique_ptr<Watch> watch_;
    std::unique_ptr<KeyTestSession> session_;
    std::vector<std::string> preflight_;
    bool running_ = false;
    std::uint32_t presses_ = 0, chatter_ = 0;
};

} // namespace keytest
