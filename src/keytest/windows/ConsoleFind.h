// --find and --write-map on the console: the search over every free port,
// its lines printed as they come, the finding written to io-ports.txt.
#pragma once

#include "keytest/KeyTestOptions.h"

namespace keytest {

// The exit status: KeyTestOk for a key found (and its map written, with
// --write-map), KeyTestNoKeyFound for none, or for a search stopped with
// Ctrl+C before a map could be written, KeyTestCannotRun where the map
// can't be written.
int FindKeyOnConsole(const KeyTestOptions &options);

} // namespace keytest
