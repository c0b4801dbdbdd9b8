// What the console's --find does: the search polled until it is over or
// Ctrl+C cuts it short, then the exit status, what it says, and whether it
// writes the map.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "portsetup/KeyFinder.h"
#include "portsetup/KeySearch.h"

namespace keytest {

struct FindEnding {
    int status;          // the exit status, unless the map is written (then KeyTestOk or KeyTestCannotRun)
    std::string said;    // a line to print, or empty
    bool writeMap;       // write the finding to io-ports.txt
};

// A key found is written with --write-map; a search stopped with Ctrl+C is
// no finding to act on, and the map stays as it was.
FindEnding EndOfFind(const portsetup::Finding &finding, bool writeMap, bool interrupted);

// What the console's search needs of Windows.
struct FindConsole {
    std::function<std::uint32_t()> ticks; // milliseconds, wrapping
    // Waits up to `ms`; true when Ctrl+C came meanwhile (and stays so).
    std::function<bool(std::uint32_t ms)> interrupted;
    // Writes the finding to the map and says what it did; false where
    // nothing could be written.
    std::function<bool(const portsetup::Finding &)> writeMap;
    std::function<void(const std::string &)> print;
};

// The search over `ports` from its start to the exit status.
int RunFind(portsetup::KeySearch &search, const std::vector<portsetup::PortInfo> &ports, bool writeMap,
            const FindConsole &console);

} // namespace keytest
