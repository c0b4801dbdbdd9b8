// --find and --write-map: the key found by pressing it on every free port,
// and the finding written to io-ports.txt.
#pragma once

#include <functional>
#include <string>

#include "keytest/KeyFinder.h"
#include "keytest/KeyTestOptions.h"

namespace keytest {

int FindKey(const KeyTestOptions &options);

// The line for the key found, written into io-ports.txt beside the io.dll
// the options name (the old file kept as .bak), as --write-map writes it
// and the window's search offers to. Prints what it did, and a warning
// where the io.dll there is not the comm-port one; false when nothing
// could be written.
bool WriteFoundMap(const KeyTestOptions &options, const keytest::Finding &finding,
                   const std::function<void(const std::string &)> &print);

} // namespace keytest
