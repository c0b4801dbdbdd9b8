// What the console's --find does once its search is over: the exit status,
// what it says, and whether it writes the map.
#pragma once

#include <string>

#include "portsetup/KeyFinder.h"

namespace keytest {

struct FindEnding {
    int status;          // the exit status, unless the map is written (then KeyTestOk or KeyTestCannotRun)
    std::string said;    // a line to print, or empty
    bool writeMap;       // write the finding to io-ports.txt
};

// A key found is written with --write-map; a search stopped with Ctrl+C is
// no finding to act on, and the map stays as it was.
FindEnding EndOfFind(const portsetup::Finding &finding, bool writeMap, bool interrupted);

} // namespace keytest
