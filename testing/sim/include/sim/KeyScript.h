// A scripted key: presses and releases at given times, for demonstrations
// and tests that need no second program to work the key.
//
// Script text: events separated by spaces or commas, each ACTION@MS, where
// MS counts milliseconds from the start and ACTION is
//     press     close the key
//     release   open it
//     tap       a press with a release `tapMs` later
//     bounce    a tap whose contacts bounce: they open and close again
//               DefaultBounces times, a contact change every DefaultBounceMs
//               (bounce@MS/STEP: every STEP ms), then stay closed `tapMs`
//               before the release
// Examples: "tap@300 tap@700"   "press@200,release@450"   "bounce@300/40"
//
// A caller may add actions of its own in the same words (a device that can
// also be unplugged, say): ExtraActions.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "uart/Uart16550.h"

namespace sim {

// The simulated PC's UARTs are the register model the comm-port io.dll
// keeps too.
using uart::Uart16550;

struct KeyEvent {
    std::uint32_t atMs;
    bool down;
};

constexpr std::uint32_t DefaultTapMs = 100;
constexpr std::uint32_t DefaultBounces = 2;
constexpr std::uint32_t DefaultBounceMs = 15;
constexpr std::uint32_t MaxBounces = 100;
constexpr std::uint32_t MaxStepMs = 60000; // longest tap or bounce step

// Appends a press at `atMs` that bounces `bounces` times, each contact change
// `bounceMs` after the previous one, stays closed `tapMs` once it has
// settled, then releases. Zero bounces make a plain tap.
void AppendTap(std::vector<KeyEvent> &events, std::uint32_t atMs, std::uint32_t tapMs, std::uint32_t bounces = 0,
               std::uint32_t bounceMs = DefaultBounceMs);

// One item of a script as the parser splits it: ACTION@MS or
// ACTION@MS/ARGUMENT, MS already checked.
struct ScriptItem {
    std::string text; // the whole item, for messages
    std::string action;
    std::uint32_t atMs = 0;
    bool hasArgument = false;
    std::string argument; // what follows the '/'
};

// Actions a script adds to the key's own: their names, which the message
// about an unknown action lists too, and what takes an item of one of them,
// answering "" once taken, else why the item is wrong.
struct ExtraActions {
    std::vector<std::string> names;
    std::function<std::string(const ScriptItem &)> take;
};

// Parses a script into events in time order (events at the same time keep
// their order). On a syntax error returns false with `error` set. Items of
// `extra`'s actions go to it, in the order they are written.
bool ParseKeyScript(const std::string &text, std::vector<KeyEvent> &events, std::string &error,
                    std::uint32_t tapMs = DefaultTapMs, const ExtraActions *extra = nullptr);

class KeyScriptPlayer {
public:
    KeyScriptPlayer() = default;
    explicit KeyScriptPlayer(std::vector<KeyEvent> events) : events_(std::move(events)) {}

    // Drives the key line of `uart` with every event due by `elapsedMs` that
    // has not been played yet; returns how many were played.
    std::size_t Advance(std::uint64_t elapsedMs, Uart16550 &uart);
    bool Finished() const { return next_ == events_.size(); }

private:
    std::vector<KeyEvent> events_;
    std::size_t next_ = 0;
};

} // namespace sim
