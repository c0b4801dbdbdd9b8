// What the tests of the test machinery share: a key script's events as
// (time, down) pairs, comparable and printable as a whole.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "sim/KeyScript.h"

using Timeline = std::vector<std::pair<std::uint32_t, bool>>;

inline Timeline TimelineOf(const std::vector<sim::KeyEvent> &events)
{
    Timeline timeline;
    for (const sim::KeyEvent &e : events)
        timeline.emplace_back(e.atMs, e.down);
    return timeline;
}
