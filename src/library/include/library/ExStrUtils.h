// Text splitting for the parameter text of the key library.
#pragma once

#include <string>
#include <vector>

namespace library {

// Split's result: the items in text order, each a copy that may hold any
// byte, NUL included.
using TSplitArray = std::vector<std::string>;

// Cuts `text` at every occurrence of `delimiter` (exact byte comparison).
// Every delimiter closes one item, empty or not; what follows the last
// delimiter becomes an item only when it is not empty. An empty delimiter is
// never found, so it yields the whole text as one item (none for "").
//   "a;;b" -> {"a", "", "b"}    ";x" -> {"", "x"}    "COM2;" -> {"COM2"}
// Runs in time linear in the length of the text.
TSplitArray Split(const std::string &text, const std::string &delimiter);

} // namespace library
