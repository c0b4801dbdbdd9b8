// One search for the key, as the console's --find and the window's "Find
// the key" both run it: the ports opened and what was skipped, the presses
// asked for, each line's changes as they come, the ports given back and
// what was found. The caller supplies the clock (a 32-bit millisecond tick,
// which may wrap) and where the lines go, and polls when it likes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "commio/CommApi.h"
#include "portsetup/KeyFinder.h"
#include "portsetup/PortList.h"

namespace portsetup {

// How long a search watches: until a second after press `presses`, or
// `seconds` in any case; 0 for the defaults below.
struct SearchLimits {
    std::uint32_t presses = 0;
    double seconds = 0;
};
constexpr std::uint32_t FindDefaultPresses = 3;
constexpr double FindDefaultSeconds = 30;

class KeySearch {
public:
    using Print = std::function<void(const std::string &line)>;

    // `hint` follows the instruction to press: how to stop. `systemText`:
    // Windows' message beside each code said (null: the code alone).
    KeySearch(commio::CommApi &api, const SearchLimits &limits, std::string hint, Print print,
              SystemText systemText = nullptr);
    unsigned Presses() const { return presses_; }

    // Opens the ports and says which are watched and which skipped, then
    // what to do. `nowMs`: the tick the search's time counts from.
    void Begin(const std::vector<PortInfo> &ports, std::uint32_t nowMs);
    // One poll: prints the lines' new changes. True once the search is over:
    // the key found and rested, no port left to watch, or the time up.
    bool Poll(std::uint32_t nowMs);
    // The map line a key found gets in the map there is, for what End says
    // (empty where the map can't tell: the line for a map of this key
    // alone is said). Unset: that line too.
    using LineFor = std::function<std::string(const Finding &finding)>;
    void MapLineFrom(LineFor lineFor) { lineFor_ = std::move(lineFor); }
    // Gives every port back, says so (after `stopped`, what stopped a search
    // cut short: empty when it ran to its end), and says what was found.
    Finding End(const std::string &stopped = {});

private:
    void PrintChanges();

    KeyFinder finder_;
    unsigned presses_;
    double seconds_;
    std::string hint_;
    Print print_;
    LineFor lineFor_;
    std::uint32_t startMs_ = 0;
    std::vector<uart::PerLine<unsigned>> shown_; // each port's lines' changes, as last printed
};

} // namespace portsetup
