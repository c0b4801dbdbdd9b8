// The port map file beside this io.dll.
#pragma once

#include <windows.h>

#include <string>

namespace commio {

constexpr const char *PortMapFileName = "io-ports.txt";

// Reads PortMapFileName from the folder `module` was loaded from. False,
// with a message for the status text in `why`, when there is no such file
// or it can't be read whole.
bool ReadPortMapFile(HMODULE module, std::string &text, std::string &why);

} // namespace commio
