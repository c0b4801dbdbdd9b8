// Zelbin_Serial.dll loaded the way a host loads it, and the stand-in io.dll
// beside it, for the DLL conformance tests.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ImportSlots.h"
#include "Zelbin_SerialLoader.h"

using Exports = ZelbinFunctions;

// Where the key library's CreateFileA and CloseHandle calls go.
enum class Devices {
    Simulated, // to the stand-in io.dll's devices, into the same call record as the port calls
    Spied,     // to kernel32, through a spy that records them (SpiedDeviceCalls)
};

// Loads Zelbin_Serial.dll from the test program's folder, resolves its
// exports by name and points its device imports as `devices` says, from
// the moment the loader binds them: calls made by the DLL's loader callback
// are routed and recorded too. Handles the compiler's runtime inside the
// DLL opens for itself still reach kernel32 unrecorded.
HMODULE LoadKeyLibrary(Devices devices, Exports &exports);

// Loads `dll` with its CreateFileA and CloseHandle routed as `devices` says
// from the moment the loader binds it, as LoadKeyLibrary does; null when it
// can't be loaded.
HMODULE LoadRouted(const char *dll, Devices devices);

// The device calls of the key library since it was loaded with Spied, one
// line each, in the call record's form (sim::Describe); kernel32's handles
// are numbered in the order the spy first sees them (h1, h2, ...).
struct SpiedCall {
    std::string line;
    HANDLE handle; // what CreateFileA returned or CloseHandle was given
};
const std::vector<SpiedCall> &SpiedDeviceCalls();

// The stand-in io.dll, loaded once and kept for the whole test program so
// that its simulated PC outlives reloads of the key library.
HMODULE StandInIo();
FARPROC StandInIoExport(const char *name);

template <typename Fn> Fn StandInIoFunction(const char *name)
{
    return ZELBIN_PROC_CAST(Fn, StandInIoExport(name));
}
