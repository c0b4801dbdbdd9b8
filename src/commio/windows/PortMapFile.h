// The port map file beside this io.dll.
#pragma once

#include <windows.h>

#include "commio/CommIo.h"

namespace commio {

// Configures `io` from PortMapFileName in the folder `module` was loaded
// from; where there is no such file, or it can't be read whole or parsed,
// `io` stays idle and its status text says why.
void ConfigureFromPortMapFile(HMODULE module, CommIo &io);

} // namespace commio
