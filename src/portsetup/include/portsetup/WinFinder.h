// The finding of a search written to io-ports.txt, as the console's
// --write-map writes it and the window's search offers to.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "portsetup/KeyFinder.h"

namespace portsetup {

// The line for the key found, written into the io-ports.txt at `mapPath`
// beside its other lines (the old file kept as .bak), for the UART at
// `base` where the host's parameters name one (see PlanMapWrite). Prints
// what it did, and a warning where the io.dll beside it is not the
// comm-port one; false when nothing could be written.
bool WriteFoundMap(const std::string &mapPath, const Finding &finding, std::optional<std::uint16_t> base,
                   const std::function<void(const std::string &)> &print);

} // namespace portsetup
