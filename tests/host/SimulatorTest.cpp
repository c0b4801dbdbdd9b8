// The simulator is a component of its own: the stand-in io.dll and the
// virtual key are built on it, so its hardware model is checked here.
#include <gtest/gtest.h>

#include "sim/World.h"

namespace {

using uart::Uart16550;
using Op = sim::Call::Op;

TEST(Uart16550, DlabSwitchesOffsetsZeroAndOneToTheDivisorLatch)
{
    Uart16550 uart = Uart16550::PowerOn(0x3F8);
    uart.Write(Uart16550::LCR, 0x80);
    uart.Write(0, 0x30);
    uart.Write(1, 0x01);
    uart.Write(Uart16550::LCR, 0x0B);
    uart.Write(1, 0xFF);
    uart.Write(0, 'x');
    EXPECT_EQ(uart.Divisor(), 0x0130);
    EXPECT_EQ(uart.Read(1), 0x0F) << "IER keeps its four defined bits";
    EXPECT_EQ(uart.txCount, 1u);
}

TEST(Uart16550, ModemStatusLatchesCtsChangesUntilRead)
{
    Uart16550 uart = Uart16550::PowerOn(0x2F8);
    uart.SetCts(true);
    EXPECT_EQ(uart.Read(Uart16550::MSR), Uart16550::MSR_CTS | Uart16550::MSR_DCTS);
    EXPECT_EQ(uart.Read(Uart16550::MSR), Uart16550::MSR_CTS);
    uart.SetCts(false);
    EXPECT_EQ(uart.Read(Uart16550::MSR), Uart16550::MSR_DCTS);
}

TEST(Uart16550, LoopbackFeedsRtsToCtsAndHidesTheInputs)
{
    Uart16550 uart = Uart16550::PowerOn(0x3E8);
    uart.SetCts(true);
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP);
    EXPECT_FALSE(uart.Cts());
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP | Uart16550::MCR_RTS);
    EXPECT_TRUE(uart.Cts());
}

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
    world.UartAt(0x3F8)->SetCts(true);
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
