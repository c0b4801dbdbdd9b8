// What the comm-port io.dll asks of a serial device's settings, for every
// program that claims a port the way it does (the io.dll itself, the key
// tester's port probe and key finder).
#pragma once

#include <cstdint>

#include "commio/CommApi.h"

namespace commio {

// The names of the two calls, as a failure names them; one object each, so
// that a failure can be told by comparing the pointer.
extern const char kGetCommState[];
extern const char kSetCommState[];

// The line format when `line` is not null (else the device keeps its own),
// bytes passed through as they are (fBinary), parity checked when there is
// parity, no flow control or handshake of any kind (the lines are the key's
// and the host's, not a handshake, and a line error must not stop the
// driver), and DTR and RTS held at the given levels by the driver.
// Everything else (buffer limits, special characters, fTXContinueOnXoff,
// which only matters with XON/XOFF) stays as the driver has it.
void AskForKeyLines(DeviceSettings &settings, const LineSettings *line, bool dtr, bool rts);

// The device's settings read (GetCommState), changed as above and set back
// (SetCommState). 0 on success, else the error, and `call` names the call
// that failed.
std::uint32_t ApplyKeyLineState(CommApi &api, DeviceHandle handle, const LineSettings *line, bool dtr, bool rts,
                                const char *&call);

// The claim of a port just opened: DTR and RTS off in the same step, the
// device's own line format kept. 0, or the error of the call that failed.
inline std::uint32_t ClaimWithLinesOff(CommApi &api, DeviceHandle handle)
{
    const char *call = nullptr;
    return ApplyKeyLineState(api, handle, nullptr, false, false, call);
}

} // namespace commio
