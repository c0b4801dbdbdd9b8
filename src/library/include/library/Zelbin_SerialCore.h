// The key library's inner procedures and its process-wide port state.
// The exports in Zelbin_Serial.h are built on these; the platform's loader
// binding calls LibraryLoad and LibraryUnload.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

// Port state. All zero before LibraryLoad runs.
extern std::uint16_t PortBase;     // base of the UART that is, or was last, claimed
extern bool LastKeyState;          // key level at the last poll that read it
extern bool PortOpen;              // true while listening
extern platform::Handle PortHandle; // what the device open returned

void OpenPort(const std::string &portName, const std::string &addressText);
void ClosePort();

// The library is attached to or detached from a process.
void LibraryLoad();
void LibraryUnload();

// The port state as a new process image holds it, before the load step:
// all zero. Programs that load the library code more than once in one
// process (test harnesses, the fuzz target) call this, then LibraryLoad.
void ClearPortStateAsInANewProcess();
