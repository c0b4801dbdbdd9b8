// The simulated PC: the stand-in io.dll and the virtual key are built on it,
// so its I/O space, its serial devices and its record of calls are checked
// here (the UARTs in it are the register model, tested in tests/uart/).
#include <gtest/gtest.h>

#include "sim/World.h"
#include "sim/SimUart.h"

namespace {

using uart::Uart16550;
using Op = sim::Call::Op;

TEST(Machine, UartsDecodeEightRegistersAndTheRestIsPlainPorts)
{
    sim::Machine machine;
    sim::Machine::PowerOn(machine);
    machine.Write(0x3FC, 0x0A);
    machine.Write(0x3F7, 0x12);
    machine.Write(0x400, 0x34);
    EXPECT_EQ(machine.uarts[0].mcr, 0x0A);
    EXPECT_EQ(machine.Read(0x3F7), 0x12);
    EXPECT_EQ(machine.Read(0x400), 0x34);
    EXPECT_EQ(machine.Read(0x1234), 0xFF) << "unclaimed ports float high";
}

TEST(Machine, AUartAtTheTopOfTheIoSpaceWrapsToPortZero)
{
    sim::Machine machine;
    sim::Machine::PowerOn(machine);
    machine.uarts[0] = Uart16550::PowerOn(0xFFFC);
    machine.Write(0x0000, 0x0A); // 0xFFFC + 4
    EXPECT_EQ(machine.uarts[0].mcr, 0x0A);
}

class WorldTest : public ::testing::Test {
protected:
    sim::World world;
};

TEST_F(WorldTest, SerialDevicesAreExclusiveAndCountedWhileHeld)
{
    sim::Handle first = world.CreateFileA("COM1", 0xC0000000, 0, nullptr, 3, 0, nullptr);
    sim::Handle second = world.CreateFileA("COM1", 0xC0000000, 0, nullptr, 3, 0, nullptr);
    EXPECT_NE(first, sim::InvalidHandle());
    EXPECT_EQ(second, sim::InvalidHandle());
    EXPECT_EQ(world.HandlesHeld(), 1u);
    EXPECT_EQ(world.CloseHandle(first), 1);
    EXPECT_EQ(world.CloseHandle(first), 0) << "a handle closes once";
    EXPECT_EQ(world.HandlesHeld(), 0u);
}

TEST_F(WorldTest, OpensOnlyExistingDevicesWithOpenExisting)
{
    world.SetDeviceExists("COM2", false);
    EXPECT_EQ(world.CreateFileA("COM2", 0xC0000000, 0, nullptr, 3, 0, nullptr), sim::InvalidHandle());
    EXPECT_EQ(world.CreateFileA("COM3", 0xC0000000, 0, nullptr, 2, 0, nullptr), sim::InvalidHandle());
    EXPECT_EQ(world.CreateFileA(nullptr, 0xC0000000, 0, nullptr, 3, 0, nullptr), sim::InvalidHandle());
    EXPECT_EQ(world.CreateFileA("COM7", 0xC0000000, 0, nullptr, 3, 0, nullptr), sim::InvalidHandle());
    EXPECT_EQ(world.HandlesHeld(), 0u);
}

TEST_F(WorldTest, WithoutTheDriverWritesAreLostAndReadsAnswerZero)
{
    sim::SetCts(*world.UartAt(0x3F8), true);
    world.SetDriverInstalled(false);
    world.PortIo(Op::PortOut, 0x3FC, 0x0A);
    world.PortIo(Op::SetPortBit, 0x3FC, 0);
    EXPECT_EQ(world.PortIo(Op::GetPortBit, 0x3FE, 4), 0);
    world.SetDriverInstalled(true);
    EXPECT_EQ(world.UartAt(0x3F8)->mcr, 0);
    EXPECT_EQ(world.PortIo(Op::GetPortBit, 0x3FE, 4), 1);
}

TEST_F(WorldTest, RecordsEveryCallInOrder)
{
    world.PortIo(Op::IsDriverInstalled);
    sim::Handle h = world.CreateFileA("COM2", 0xC0000000, 0, nullptr, 3, 0, nullptr);
    world.PortIo(Op::PortOut, 0x2FC, 0x0A);
    world.PortIo(Op::SetPortBit, 0x2FC, 0);
    world.PortIo(Op::ClrPortBit, 0x2FC, 1);
    world.PortIo(Op::GetPortBit, 0x2FC, 0);
    world.CloseHandle(h);
    world.CloseHandle(sim::InvalidHandle()); // the process pseudo-handle: closes as a no-op
    EXPECT_EQ(world.Transcript(), (std::vector<std::string>{
                                      "IsDriverInstalled() -> 1",
                                      "CreateFileA(\"COM2\", 0xC0000000, 0, NULL, 3, 0, NULL) -> h1",
                                      "PortOut(0x02FC, 0x0A)",
                                      "SetPortBit(0x02FC, 0)",
                                      "ClrPortBit(0x02FC, 1)",
                                      "GetPortBit(0x02FC, 0) -> 0x0001",
                                      "CloseHandle(h1) -> 1",
                                      "CloseHandle(INVALID_HANDLE_VALUE) -> 1",
                                  }));
    EXPECT_EQ(world.UartAt(0x2F8)->mcr, 0x09);
}

} // namespace
