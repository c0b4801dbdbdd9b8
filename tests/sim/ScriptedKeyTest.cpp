// The stand-in's scripted key: it presses the key of the port the host
// starts on, found from the host's first write to a UART.
#include <gtest/gtest.h>

#include "sim/KeyScript.h"
#include "sim/ScriptedKey.h"
#include "sim/SimUart.h"
#include "sim/World.h"

namespace {

TEST(ScriptedKey, PressesTheKeyOfThePortTheHostStartsOnEvenAtTimeZero)
{
    sim::Machine machine;
    sim::Machine::PowerOn(machine);
    std::vector<sim::KeyEvent> events;
    std::string error;
    ASSERT_TRUE(sim::ParseKeyScript("press@0 release@200", events, error));
    sim::ScriptedKey key(events);

    key.Advance(machine, 0); // the host's driver check: no UART chosen yet
    EXPECT_FALSE(sim::LineOn(*machine.UartAt(0x3F8), uart::ModemLine::Cts));
    key.NoteWrite(machine, 0x1234); // no UART there: still none chosen
    key.Advance(machine, 5);
    EXPECT_FALSE(sim::LineOn(*machine.UartAt(0x3F8), uart::ModemLine::Cts));
    key.NoteWrite(machine, 0x2FB); // COM2's line control register
    key.Advance(machine, 10);
    EXPECT_TRUE(sim::LineOn(*machine.UartAt(0x2F8), uart::ModemLine::Cts));
    EXPECT_FALSE(sim::LineOn(*machine.UartAt(0x3F8), uart::ModemLine::Cts));
    key.Advance(machine, 200);
    EXPECT_FALSE(sim::LineOn(*machine.UartAt(0x2F8), uart::ModemLine::Cts));
    EXPECT_TRUE(key.Finished());
}

} // namespace
