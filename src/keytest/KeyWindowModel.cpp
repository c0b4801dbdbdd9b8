#include "keytest/KeyWindowModel.h"

#include <algorithm>

namespace keytest {

void KeyWindowModel::TestStarted()
{
    phase_ = Phase::Running;
    records_ = false;
    for (const ModemLine line : AllLines) {
        lamps_[line] = Lamp::Unknown;
        levels_[line].clear();
    }
    marks_.clear();
    presses_ = 0;
    toggled_ = false;
    status_.clear();
    log_.clear();
}

void KeyWindowModel::Add(ModemLine line, double seconds, bool known, bool on)
{
    std::vector<Level> &levels = levels_[line];
    if (!levels.empty() && levels.back().known == known && (!known || levels.back().on == on))
        return;
    levels.push_back({seconds, known, on, false});
}

// Keeps one level that began before the strip's window: it is the level at
// the window's left edge.
void KeyWindowModel::Forget(double seconds)
{
    const double edge = seconds - StripSeconds;
    for (std::vector<Level> &levels : levels_) {
        std::size_t first = 0;
        while (first + 1 < levels.size() && levels[first + 1].from <= edge)
            ++first;
        levels.erase(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(first));
    }
    marks_.erase(std::remove_if(marks_.begin(), marks_.end(), [edge](const PressMark &m) { return m.seconds < edge; }),
                 marks_.end());
}

void KeyWindowModel::Reading(double seconds, const LineLevels &lines)
{
    for (const ModemLine line : AllLines) {
        lamps_[line] = lines[line] ? Lamp::On : Lamp::Off;
        Add(line, seconds, true, lines[line]);
    }
    Forget(seconds);
}

void KeyWindowModel::DriverAway(double seconds)
{
    for (const ModemLine line : AllLines) {
        lamps_[line] = Lamp::Unknown;
        Add(line, seconds, false, false);
    }
    Forget(seconds);
}

void KeyWindowModel::Press(double seconds, std::uint32_t press, bool chatter, bool toggled)
{
    presses_ = press;
    toggled_ = toggled;
    marks_.push_back({seconds, press, chatter});
    // The key line's level the press came with shows as chatter on the strip.
    if (chatter && !levels_[ModemLine::Cts].empty())
        levels_[ModemLine::Cts].back().chatter = true;
}

void KeyWindowModel::TestFinished(bool records, bool toggled, double seconds)
{
    phase_ = Phase::Finished;
    records_ = records;
    toggled_ = toggled;
    finishedAt_ = seconds;
    // The lamps keep the last reading, the stop's own: the lines as the test
    // left them (DTR off, as a rule), as the status line shows them too.
}

void KeyWindowModel::FindStarted()
{
    phase_ = Phase::Finding;
    status_.clear();
}

void KeyWindowModel::FindFinished(const std::vector<std::string> &lines)
{
    phase_ = records_ ? Phase::Finished : Phase::Idle;
    status_.clear();
    log_.insert(log_.end(), lines.begin(), lines.end());
}

std::string KeyWindowModel::PressText() const { return "Presses: " + std::to_string(presses_); }

std::string KeyWindowModel::ToggledText() const { return std::string("Toggled: ") + (toggled_ ? "on" : "off"); }

WindowControls KeyWindowModel::Controls() const
{
    WindowControls controls;
    const bool busy = phase_ == Phase::Running || phase_ == Phase::Finding;
    controls.ports = !busy;
    controls.find = !busy;
    controls.start = !busy;
    controls.stop = busy; // a test or a search
    controls.save = phase_ == Phase::Finished && records_;
    return controls;
}

std::vector<StripSegment> KeyWindowModel::Strip(ModemLine line, double now) const
{
    const double edge = now - StripSeconds;
    std::vector<StripSegment> strip;
    const std::vector<Level> &levels = levels_[line];
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const double to = i + 1 < levels.size() ? levels[i + 1].from : now;
        const double from = std::max(levels[i].from, edge);
        if (to <= edge || from >= to)
            continue;
        const Level &level = levels[i];
        const StripColour colour = !level.known ? StripColour::NoReading
                                   : level.chatter ? StripColour::Chatter
                                   : level.on      ? StripColour::High
                                                   : StripColour::Low;
        strip.push_back({from, std::min(to, now), colour});
    }
    return strip;
}

std::vector<PressMark> KeyWindowModel::Marks(double now) const
{
    std::vector<PressMark> marks;
    for (const PressMark &mark : marks_)
        if (mark.seconds >= now - StripSeconds && mark.seconds <= now)
            marks.push_back(mark);
    return marks;
}

std::vector<bool> KeyWindowModel::NumberedMarks(const std::vector<int> &x, const std::vector<int> &width)
{
    std::vector<bool> numbered(x.size(), false);
    bool any = false;
    int freeFrom = 0; // where the last number drawn ends
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (any && x[i] < freeFrom)
            continue;
        numbered[i] = any = true;
        freeFrom = x[i] + (i < width.size() ? width[i] : 0);
    }
    return numbered;
}

// The window's target, passed on to the DLLs, with each reading shown.
class KeyWindowTest::Watch : public KeyTestTarget {
public:
    Watch(KeyTestTarget &target, KeyTestClock &clock, KeyWindowModel &model)
        : target_(target), clock_(clock), model_(model)
    {
    }
    void StartListen(const char *params) override { target_.StartListen(params); }
    bool IsZBToggle() override { return target_.IsZBToggle(); }
    void SetToggled(bool on) override { target_.SetToggled(on); }
    void StopListen() override { target_.StopListen(); }
    bool DriverAnswers() override
    {
        const bool answers = target_.DriverAnswers();
        if (!answers)
            model_.DriverAway(clock_.Seconds());
        return answers;
    }
    LineLevels ReadLines(std::uint16_t base) override
    {
        const LineLevels lines = target_.ReadLines(base);
        model_.Reading(clock_.Seconds(), lines);
        return lines;
    }
    bool UartAnswers(std::uint16_t base) override { return target_.UartAnswers(base); }
    IoDllStatus IoStatus() override { return target_.IoStatus(); }

private:
    KeyTestTarget &target_;
    KeyTestClock &clock_;
    KeyWindowModel &model_;
};

KeyWindowTest::KeyWindowTest(const KeyTestOptions &options, const std::string &parameters, KeyTestTarget &target,
                             KeyTestClock &clock, KeyWindowModel &model, const std::string &startedAt,
                             std::vector<std::string> preflight)
    : options_(options), plan_(PlanPort(parameters.empty() ? nullptr : parameters.c_str())), clock_(clock),
      model_(model), watch_(std::make_unique<Watch>(target, clock, model)), preflight_(std::move(preflight))
{
    options_.hasParameters = !parameters.empty();
    options_.parameters = parameters;
    session_ = std::make_unique<KeyTestSession>(options_, plan_, *watch_, clock_, static_cast<KeyTestOutput &>(*this), &csv_, &vcd_, startedAt);
}

KeyWindowTest::~KeyWindowTest()
{
    if (running_)
        Stop();
}

bool KeyWindowTest::Start()
{
    model_.TestStarted();
    for (const std::string &line : preflight_)
        model_.Print(line);
    running_ = true;
    if (session_->Start())
        return true;
    End(KeyTestEnd::TimeUp);
    return false;
}

std::optional<std::uint32_t> KeyWindowTest::Tick()
{
    if (!running_)
        return std::nullopt;
    if (session_->TimeUp()) {
        End(KeyTestEnd::TimeUp);
        return std::nullopt;
    }
    const std::uint32_t wait = session_->WaitMs();
    if (wait)
        return wait;
    session_->Poll();
    const KeyAnalysis &analysis = session_->Analysis();
    if (analysis.Presses() != presses_) {
        const bool chatter = analysis.Chatter() != chatter_;
        presses_ = analysis.Presses();
        chatter_ = analysis.Chatter();
        model_.Press(clock_.Seconds(), presses_, chatter, session_->Toggled());
    }
    if (session_->PressesReached()) {
        End(KeyTestEnd::PressesReached);
        return std::nullopt;
    }
    if (session_->TimeUp()) {
        End(KeyTestEnd::TimeUp);
        return std::nullopt;
    }
    return session_->WaitMs();
}

void KeyWindowTest::Stop()
{
    if (running_)
        End(KeyTestEnd::Stopped);
}

void KeyWindowTest::End(KeyTestEnd end)
{
    running_ = false;
    session_->Stop(end);
    session_->Report();
    model_.TestFinished(session_->Analysis().Polled(), session_->Toggled(), clock_.Seconds());
}

void KeyWindowTest::Line(const std::string &text) { model_.Print(text); }

void KeyWindowTest::Status(const std::string &text) { model_.Status(text); }

} // namespace keytest
