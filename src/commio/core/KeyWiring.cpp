#include "commio/KeyWiring.h"

namespace commio {

std::uint8_t KeyWiring::Apply(std::uint8_t lines, CommApi &clock)
{
    const bool key = ((lines & source_) != 0) != invert_;
    if (key != shown_) {
        if (debounce_ == 0) {
            shown_ = key;
        } else {
            const std::uint32_t now = clock.Ticks();
            if (!holding_ || now - since_ >= debounce_) {
                shown_ = key;
                holding_ = true;
                since_ = now;
            }
        }
    } else if (holding_ && clock.Ticks() - since_ >= debounce_) {
        holding_ = false; // quiet for long enough: the next change passes at once
    }
    constexpr std::uint8_t cts = uart::ModemLine::Cts.Mask();
    return static_cast<std::uint8_t>((lines & ~cts) | (shown_ ? cts : 0));
}

} // namespace commio
