#include "sim/ScriptedKey.h"

namespace sim {

void ScriptedKey::NoteWrite(Machine &machine, std::uint16_t port)
{
    if (const Uart16550 *uart = machine.UartAt(port))
        uartBase_ = uart->base;
}

void ScriptedKey::Advance(Machine &machine, std::uint64_t elapsedMs)
{
    if (player_.Finished() || uartBase_ == 0)
        return;
    if (Uart16550 *uart = machine.UartAt(uartBase_))
        player_.Advance(elapsedMs, *uart);
}

} // namespace sim
