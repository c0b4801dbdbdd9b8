#include "keytest/KeyTestSession.h"

#include <cstdio>

#include "keytest/KeyReport.h"

namespace keytest {

namespace {

std::string Printf(const char *format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Count(std::uint32_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

KeyTestSession::KeyTestSession(const KeyTestOptions &options, const PortPlan &plan, KeyTestTarget &target,
                               KeyTestClock &clock, KeyTestOutput &output, std::ostream *csv, std::ostream *vcd,
                               const std::string &startedAt)
    : options_(options), plan_(plan), target_(target), clock_(clock), output_(output), analysis_(options.chatterMs)
{
    if (csv)
        log_.emplace(*csv);
    if (vcd)
        vcd_.emplace(*vcd, startedAt);
}

bool KeyTestSession::Start()
{
    if (options_.hasParameters) {
        output_.Line("ZelbinStartListen(\"" + options_.parameters + "\")");
        target_.StartListen(options_.parameters.c_str());
    } else {
        // The plan of no text is the library's own choice of its default.
        output_.Line("ZelbinStartListen(NULL): the library's default, " + plan_.portName + " at " +
                     plan_.addressText);
        target_.StartListen(nullptr);
    }
    toggled_ = options_.dtr == DtrHold::On;
    if (options_.dtr != DtrHold::None) {
        target_.SetToggled(toggled_);
        output_.Line(std::string("ZelbinSetToggled(") + (toggled_ ? "1): DTR held on" : "0): DTR held off") +
                     " for the whole test");
    }
    const double seconds = clock_.Seconds();
    lastPoll_ = seconds;
    // Lines are read only at a base the library accepts: another base may
    // belong to the motherboard's own devices.
    if (!plan_.baseAccepted) {
        output_.Line("Nothing to test: the library refuses the base " + HexBase(plan_.base) +
                     ", opens nothing and reports no press.");
        return false;
    }
    started_ = true;
    driver_ = target_.DriverAnswers();
    if (!driver_) {
        // Waiting would test nothing: the library stays idle until the
        // driver answers, and the comm-port io.dll reads its map only as it
        // loads.
        awaySince_ = seconds;
        lastStatus_ = target_.IoStatus().text;
        output_.Line("Nothing to test: the driver does not answer (IsDriverInstalled -> 0), so the library stays "
                     "idle and reports no press.");
        return false;
    }
    if (!target_.UartAnswers(plan_.base)) {
        noUart_ = true;
        output_.Line("Warning: No UART answers at " + HexBase(plan_.base) + " (its modem control register reads "
                     "FFh), so nothing can be tested: the base is not this PC's UART, or io-ports.txt maps no "
                     "device to it.");
        return true;
    }
    lastLines_ = target_.ReadLines(plan_.base);
    if (lastLines_[ModemLine::Cts])
        output_.Line("Warning: The key is already closed at start (CTS on): the first poll counts it as a press. "
                     "A key held down, or a CTS line stuck on, looks like this.");
    // The lines as the start left them are where "never changed" counts from.
    analysis_.Poll(seconds, false, lastLines_);
    return true;
}

std::string KeyTestSession::PressState(bool dtr) const
{
    if (options_.dtr != DtrHold::None)
        return std::string("DTR held ") + (toggled_ ? "on" : "off");
    return std::string("toggled ") + (toggled_ ? "on, " : "off,") + " DTR " + (dtr ? "on" : "off");
}

std::string KeyTestSession::StatusState() const
{
    return options_.dtr != DtrHold::None ? PressState(false) : std::string("toggled ") + (toggled_ ? "on" : "off");
}

void KeyTestSession::Event(const KeyEvent &event, const std::string &state, bool dtr)
{
    output_.Line(FormatEvent(event, state));
    if (log_)
        log_->Write(event, clock_.WallClock(event.seconds), dtr);
}

void KeyTestSession::DriverChange(bool answers, double seconds)
{
    driver_ = answers;
    KeyEvent event;
    event.seconds = seconds;
    if (answers) {
        event.kind = KeyEvent::Kind::DriverBack;
        awaySeconds_ += seconds - awaySince_;
    } else {
        event.kind = KeyEvent::Kind::DriverLost;
        ++driverLosses_;
        awaySince_ = seconds;
        lastStatus_ = target_.IoStatus().text;
    }
    Event(event, answers ? std::string() : lastStatus_, false);
}

void KeyTestSession::Poll()
{
    if (!started_)
        return;
    const double seconds = clock_.Seconds();
    lastPoll_ = seconds;
    const bool pressed = target_.IsZBToggle();
    if (pressed && options_.dtr == DtrHold::None) {
        toggled_ = !toggled_;
        target_.SetToggled(toggled_);
    }
    const bool answers = target_.DriverAnswers();
    timing_.Poll(seconds);
    if (answers != driver_)
        DriverChange(answers, seconds);
    if (noUart_) {
        output_.Status("no UART at " + HexBase(plan_.base) + " | nothing to test");
        return;
    }
    LineLevels lines = lastLines_;
    if (answers) {
        polledWithDriver_ = true;
        lines = target_.ReadLines(plan_.base);
        lastLines_ = lines;
        if (vcd_)
            vcd_->Sample(seconds, lines[ModemLine::Cts], lines[ModemLine::Dtr], lines[ModemLine::Rts], pressed);
    } else {
        // What io.dll reads now is no line level. A press the library saw
        // before the driver went is still a press: it saw CTS set.
        lines[ModemLine::Cts] = true;
    }
    if (answers || pressed)
        for (const KeyEvent &event : analysis_.Poll(seconds, pressed, lines))
            Event(event, PressState(lines[ModemLine::Dtr]), lines[ModemLine::Dtr]);
    const std::string state = StatusState();
    if (answers)
        output_.Status(FormatStatusLine(lines, analysis_.Presses(), state));
    else
        output_.Status(DriverAwayStatus());
}

std::string KeyTestSession::DriverAwayStatus() const
{
    return "driver does not answer (IsDriverInstalled -> 0) | presses " + std::to_string(analysis_.Presses()) + ", " +
           StatusState();
}

bool KeyTestSession::PressesReached() const { return options_.presses && analysis_.Presses() >= options_.presses; }

bool KeyTestSession::TimeUp() { return options_.seconds > 0 && clock_.Seconds() >= options_.seconds; }

std::uint32_t KeyTestSession::WaitMs()
{
    return MsUntilNextPoll(options_.intervalMs, lastPoll_, clock_.Seconds(), options_.seconds);
}

void KeyTestSession::Stop(KeyTestEnd end)
{
    end_ = end;
    // As a careful host does: the output device ends off, unless the
    // technician asked for it on.
    if (started_ && options_.dtr != DtrHold::On) {
        target_.SetToggled(false);
        if (toggled_)
            output_.Line("ZelbinSetToggled(0): DTR off before stopping");
        // The host's state is what it last set: off, whatever the presses
        // made it.
        toggled_ = false;
    }
    // The lines as the test leaves them (DTR off now, as a rule): the last
    // word of the status line and of the trace, so that neither still shows
    // a DTR the log says was turned off.
    if (started_ && driver_ && !noUart_) {
        const LineLevels lines = target_.ReadLines(plan_.base);
        if (vcd_)
            vcd_->Sample(clock_.Seconds(), lines[ModemLine::Cts], lines[ModemLine::Dtr], lines[ModemLine::Rts], false);
        output_.Status(FormatStatusLine(lines, analysis_.Presses(), StatusState()));
    } else if (started_ && !noUart_) {
        output_.Status(DriverAwayStatus());
    }
    target_.StopListen();
    stoppedAt_ = clock_.Seconds();
    if (started_ && !driver_)
        awaySeconds_ += stoppedAt_ - awaySince_;
    if (vcd_)
        vcd_->Finish(stoppedAt_);
}

int KeyTestSession::Report()
{
    const char *why = !started_                         ? " (nothing to test)"
                      : end_ == KeyTestEnd::Interrupted ? " (Ctrl+C)"
                      : end_ == KeyTestEnd::Stopped     ? " (stopped)"
                      : end_ == KeyTestEnd::TimeUp      ? " (time up)"
                                                        : "";
    output_.Line(Printf("ZelbinStopListen after %.2f s: ", stoppedAt_) +
                 Count(analysis_.Presses(), "press", "presses") + ", toggled " + (toggled_ ? "on" : "off") + why);
    for (const std::string &line : FormatSummary(analysis_, timing_, options_.intervalMs))
        output_.Line(line);
    const std::string said = lastStatus_.empty() ? "" : " (io.dll: " + lastStatus_ + ")";
    if (started_ && polledWithDriver_) {
        // Only the comm-port io.dll's records say anything of line events.
        const IoDllStatus now = target_.IoStatus();
        if (!now.uarts.empty())
            output_.Line("  line events     " + DescribeLineEvents(ReadLineEvents(now.uarts)));
    }
    const bool nothingTested = !started_ || !polledWithDriver_;
    if (!started_)
        output_.Line("  nothing tested  the library refused the base " + HexBase(plan_.base) + " and stayed idle");
    else if (noUart_)
        output_.Line("  nothing tested  no UART answers at " + HexBase(plan_.base));
    else if (!polledWithDriver_)
        output_.Line("  nothing tested  the driver answered no poll (IsDriverInstalled -> 0)" + said);
    else if (driverLosses_ > 0 || awaySeconds_ > 0)
        output_.Line("  driver          " + Count(driverLosses_, "loss", "losses") + ", " +
                     Printf("%.2f s", awaySeconds_) + " without it in all, when no press could be seen" + said);
    // On the stand-in, what was seen is its simulated key: said first, and
    // no hint sends the technician to a wiring it never read.
    const bool simulated = target_.Simulated();
    if (!nothingTested && simulated)
        output_.Line("Hint: the stand-in io.dll simulates a PC and reads no serial port: what this test saw is its "
                     "simulated key, and says nothing of a key wired to this PC.");
    if (!nothingTested)
        for (const std::string &hint : LineHints(analysis_, options_.dtr, simulated))
            output_.Line("Hint: " + hint);
    if (nothingTested)
        return KeyTestNothingTested;
    if (options_.presses && analysis_.Presses() < options_.presses) {
        output_.Line("Fewer than the " + Count(options_.presses, "press", "presses") + " asked for.");
        return KeyTestPressesNotReached;
    }
    return KeyTestOk;
}

} // namespace keytest
