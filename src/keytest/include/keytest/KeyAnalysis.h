// What the polls of a key test show: presses (from the library's answers),
// releases (from the key line's level), press lengths, the gaps between a
// release and the next press, chatter, and which modem lines never changed.
#pragma once

#include <cstdint>
#include <vector>

#include "uart/ModemLines.h"

namespace keytest {

// The modem lines, as the UART model gives them.
using uart::AllLines;
using uart::LineLevels;
using uart::ModemLine;

struct KeyEvent {
    // Press and Release come from the polls; DriverLost and DriverBack from
    // io.dll's driver check, which the test session makes after each poll.
    enum class Kind { Press, Release, DriverLost, DriverBack };
    Kind kind = Kind::Press;
    double seconds = 0;      // since the start of the test
    std::uint32_t press = 0; // the press's number; a release carries its press's
    double heldMs = -1;      // a release: how long the key was closed
    double gapMs = -1;       // a press: since the previous release; -1 for none or unmeasured
    bool chatter = false;    // a press that came less than the chatter time after a release
};

class KeyAnalysis {
public:
    explicit KeyAnalysis(double chatterMs) : chatterMs_(chatterMs) {}

    // One poll at `seconds`: `pressed` is the library's answer, `lines` the
    // levels read right after it. Returns the events it shows, in order.
    std::vector<KeyEvent> Poll(double seconds, bool pressed, const LineLevels &lines);

    std::uint32_t Presses() const { return presses_; }
    std::uint32_t Releases() const { return releases_; }
    std::uint32_t Chatter() const { return chatter_; }
    double ShortestPressMs() const { return shortestPressMs_; } // -1: no release seen
    double ShortestGapMs() const { return shortestGapMs_; }     // -1: no press after a release
    double ChatterMs() const { return chatterMs_; }

    bool Polled() const { return polls_ > 0; }
    // Did the line change during the test, and its level at the first poll.
    bool Changed(ModemLine line) const { return changed_[line]; }
    bool FirstLevel(ModemLine line) const { return first_[line]; }

private:
    double chatterMs_;
    std::uint64_t polls_ = 0;
    LineLevels first_, last_;
    uart::PerLine<bool> changed_;
    bool keyDown_ = false; // a press is reported and its release not yet seen
    double pressedAt_ = 0;
    double releasedAt_ = -1;
    std::uint32_t presses_ = 0, releases_ = 0, chatter_ = 0;
    double shortestPressMs_ = -1, shortestGapMs_ = -1;
};

} // namespace keytest
