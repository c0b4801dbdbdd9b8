// The scripted device's script: the virtual key's words (sim/KeyScript.h)
// for the key, and two of the device's own:
//     unplug@MS          the device is pulled out
//     replug@MS          it comes back, under the same COM name
//     replug@MS/COMn     it comes back under COMn
// Example: "tap@300 unplug@1000 replug@2000 tap@3000".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/KeyScript.h"
#include "ttydev/SharedState.h"

namespace ttydev {

struct PlugEvent {
    std::uint32_t atMs;
    bool plugged;     // replug; else unplug
    std::string port; // replug's other COM name, empty for the same one
};

struct DeviceScript {
    std::vector<sim::KeyEvent> key;
    std::vector<PlugEvent> plugs; // in time order: unplug, replug, unplug...
};

// Parses a script; on a bad one returns false with `error` saying which
// item and why.
bool ParseDeviceScript(const std::string &text, DeviceScript &script, std::string &error);

// A COM name's number, COM1 to COM256 in any case; 0 for anything else.
unsigned ComNumber(const std::string &name);

// The key's events as changes of its level from `originNs` on (a press of a
// closed key changes nothing), in time order.
std::vector<Change> KeyChanges(const std::vector<sim::KeyEvent> &events, std::int64_t originNs);

// A script of `presses` presses of 2 to 50 ms at random times, for a host
// that polls every `pollMs`, from `seed` (the same script for the same seed
// on any machine). Most presses begin 2.5 to 4 polls after the last one
// ended, some (about one in seven) within 2 polls, to be merged or not.
// `removals` times, evenly spread, the device is unplugged 3 polls after a
// release and replugged a second later; the next press comes once the
// io.dll can have opened it again (its retry interval and 3 polls later).
struct RandomPlan {
    std::uint32_t seed = 1;
    std::uint32_t presses = 20;
    std::uint32_t pollMs = 20;
    std::uint32_t removals = 0;
    std::uint32_t startMs = 300;
};
constexpr std::uint32_t MinPressMs = 2, MaxPressMs = 50;
constexpr std::uint32_t UnpluggedMs = 1000;
std::string RandomScript(const RandomPlan &plan);

} // namespace ttydev
