// The key library's inner procedures and its process-wide port state.
// The exports in Zelbin_Serial.h are built on these; the platform's loader
// binding calls Load and Unload.
#pragma once

#include <cstdint>

#include "library/ExStrUtils.h"
#include "platform/Platform.h"

namespace library {

// The port state: one per process, all zero before Load runs. Read and
// written by whichever host thread calls an export; no lock.
struct PortState {
    std::uint16_t PortBase = 0;     // base of the UART that is, or was last, claimed
    bool LastKeyState = false;      // key level at the last poll that read it
    bool PortOpen = false;          // true while listening
    platform::Handle PortHandle{};  // what the device open returned
};
extern PortState portState;

void OpenPort(const TText &portName, const TText &addressText);
void ClosePort();

// The library is attached to or detached from a process. Programs that
// load the library code more than once in one process (test harnesses, the
// fuzz target) first set `portState = PortState{}`, as a new process image
// holds it.
void Load();
void Unload();

} // namespace library
