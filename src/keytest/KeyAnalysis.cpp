#include "keytest/KeyAnalysis.h"

namespace keytest {

namespace {

void KeepShortest(double &shortest, double value)
{
    if (shortest < 0 || value < shortest)
        shortest = value;
}

} // namespace

std::vector<KeyEvent> KeyAnalysis::Poll(double seconds, bool pressed, const LineLevels &lines)
{
    if (polls_++ == 0)
        first_ = lines;
    else
        for (const ModemLine line : AllLines)
            changed_[line] = changed_[line] || lines[line] != last_[line];
    last_ = lines;

    std::vector<KeyEvent> events;
    if (pressed) {
        KeyEvent press;
        press.seconds = seconds;
        press.press = ++presses_;
        if (keyDown_) {
            // The library saw the line clear, yet every read of ours saw it
            // set: it opened and closed again within one poll. No mechanical
            // press is that short, so it is chatter, its gap unmeasured.
            press.chatter = true;
            ++chatter_;
        } else if (releasedAt_ >= 0) {
            press.gapMs = (seconds - releasedAt_) * 1000.0;
            KeepShortest(shortestGapMs_, press.gapMs);
            if (press.gapMs < chatterMs_) {
                press.chatter = true;
                ++chatter_;
            }
        }
        keyDown_ = true;
        pressedAt_ = seconds;
        events.push_back(press);
    }
    // The release comes from the line itself: the library reports only
    // presses. A press that is over by the time the line is read ends at
    // the same poll, with a length of zero.
    if (keyDown_ && !lines[ModemLine::Cts]) {
        KeyEvent release;
        release.kind = KeyEvent::Kind::Release;
        release.seconds = seconds;
        release.press = presses_;
        release.heldMs = (seconds - pressedAt_) * 1000.0;
        KeepShortest(shortestPressMs_, release.heldMs);
        ++releases_;
        keyDown_ = false;
        releasedAt_ = seconds;
        events.push_back(release);
    }
    return events;
}

} // namespace keytest
