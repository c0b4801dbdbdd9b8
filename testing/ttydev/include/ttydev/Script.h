// The scripted device's script: the virtual key's words (sim/KeyScript.h)
// for the key, and the device's own:
//     unplug@MS          the device is pulled out
//     replug@MS          it comes back, under the same COM name
//     replug@MS/COMn     it comes back under COMn
//     LINE-on@MS         another input line turns on: cts, dsr, dcd or ri
//     LINE-off@MS        ...turns off
//     LINE-pulse@MS      ...turns on, and off again 1 ms later
//     LINE-pulse@MS/LEN  ...LEN ms later, to the microsecond ("0.5", "2.25")
// Example: "tap@300 dsr-pulse@296/1.5 ri-on@500 ri-off@700 unplug@1000
// replug@2000 tap@3000". A line's word that leaves it as it is changes
// nothing, as a press of a closed key doesn't.
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

// Another input line, on or off from `atUs` (microseconds from the start),
// by the script's word `word`.
struct LineEvent {
    std::uint64_t atUs;
    std::uint32_t line;
    bool on;
    std::string word;
};

struct DeviceScript {
    std::vector<sim::KeyEvent> key;
    std::vector<PlugEvent> plugs; // in time order: unplug, replug, unplug...
    std::vector<LineEvent> lines; // in time order
};

// Parses a script; on a bad one returns false with `error` saying which
// item and why.
bool ParseDeviceScript(const std::string &text, DeviceScript &script, std::string &error);

// Whether the script's other lines can be worked on a device whose key is
// wired to `keyLine`, with DSR following DTR or not: "" if so, else why
// not, naming the word. The key's line is the key's own (press, release),
// and DSR that follows DTR is the program's.
std::string CheckLines(const DeviceScript &script, std::uint32_t keyLine, bool dsrFollowsDtr);

// The name of an input line as the script and the command line write it
// ("DSR"; the script in lower case).
const char *LineName(std::uint32_t line);

// A COM name's number, COM1 to COM256 in any case; 0 for anything else.
unsigned ComNumber(const std::string &name);

// The key's events as changes of its level from `originNs` on (a press of a
// closed key changes nothing), in time order, as the record keeps them.
std::vector<Change> KeyChanges(const std::vector<sim::KeyEvent> &events, std::int64_t originNs);

// Every input line's changes, the key's on `keyLine` and the other lines
// from `originNs` on, in time order (at the same instant, the other lines'
// first: a pulse that ends as the key changes has ended before it), each a
// change of one line's level (a press of a closed key changes nothing); for
// PublishChanges.
std::vector<InputChange> InputChanges(const DeviceScript &script, std::uint32_t keyLine, std::int64_t originNs);

// A script of `presses` presses of 2 to 50 ms at random times, for a host
// that polls every `pollMs`, from `seed` (the same script for the same seed
// on any machine). Most presses begin 2.5 to 4 polls after the last one
// ended, some (about one in seven) within 2 polls, to be merged or not.
// `removals` times, evenly spread, the device is unplugged 3 polls after a
// release and replugged a second later; the next press comes once the
// io.dll can have opened it again (its retry interval and 3 polls later).
//
// `activity` adds the other lines' kinds of activity, each on a line of its
// own, never the key's (`keyLine`), until the last press ends:
//     pulses           a pulse of 0.5 to 3 ms falling 0 to 6 ms before each
//                      key edge (fewer where edges come too close for
//                      pulses apart): on DSR, else DCD, else RI
//     dsr-follows-dtr  DSR is DTR looped back: no words (the device's
//                      option does it), but DSR is taken
//     ring             RI rings: bursts of 0.8 to 2 s at 20 Hz (25 ms on,
//                      25 ms off), 2 to 4 s apart
//     flap             DCD flaps: bursts of 2 to 12 changes 1 to 20 ms
//                      apart, 100 to 600 ms apart; on DSR where the key is
//                      on DCD
// The key's presses are the same whatever the activity, and each kind's
// words the same whatever the other kinds: each draws from a stream of
// its own, from the same seed.
enum Activity : std::uint32_t {
    ActivityPulses = 1,
    ActivityDsrFollowsDtr = 2,
    ActivityRing = 4,
    ActivityFlap = 8,
};
struct RandomPlan {
    std::uint32_t seed = 1;
    std::uint32_t presses = 20;
    std::uint32_t pollMs = 20;
    std::uint32_t removals = 0;
    std::uint32_t startMs = 300;
    std::uint32_t keyLine = LineCts;
    std::uint32_t activity = 0; // Activity bits
};
constexpr std::uint32_t MinPressMs = 2, MaxPressMs = 50;
constexpr std::uint32_t UnpluggedMs = 1000;
constexpr std::uint32_t MinPulseUs = 500, MaxPulseUs = 3000, MaxPulseLeadUs = 6000;

// Each kind of activity's line in `plan` (0 where the plan has none): ""
// when every kind has one, else why not.
struct ActivityLines {
    std::uint32_t pulses = 0, ring = 0, flap = 0;
};
std::string LinesOf(const RandomPlan &plan, ActivityLines &lines);

// The script; its activity's lines are LinesOf's (kinds without one are left out).
std::string RandomScript(const RandomPlan &plan);

// Activity kinds by name, "pulses,ring"; "none" or "" for none. False on a
// name it doesn't know.
bool ParseActivity(const std::string &text, std::uint32_t &activity);

} // namespace ttydev
