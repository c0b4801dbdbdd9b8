// A key script played on the UART that this process's host drives.
//
// A host's first calls into the port-I/O library (the driver check) come
// before it has chosen a UART; events due by then wait until the host has
// written to a UART and are played on that one, so "press@0" presses the key
// of the port the host starts on, whichever it is. Later events follow the
// UART the host last wrote to.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/KeyScript.h"
#include "sim/World.h"

namespace sim {

class ScriptedKey {
public:
    ScriptedKey() = default;
    explicit ScriptedKey(std::vector<KeyEvent> events) : player_(std::move(events)) {}

    // The host wrote to `port`: if a UART decodes it, the script follows it.
    void NoteWrite(Machine &machine, std::uint16_t port);
    // Plays every event due by `elapsedMs`, once the host has chosen a UART.
    void Advance(Machine &machine, std::uint64_t elapsedMs);
    bool Finished() const { return player_.Finished(); }

private:
    KeyScriptPlayer player_;
    std::uint16_t uartBase_ = 0; // 0: the host has written to no UART yet
};

} // namespace sim
