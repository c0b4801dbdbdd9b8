// The 16550 register model: the divisor latch behind DLAB, the FIFO bits,
// and above all the modem status: loopback's wiring of each output to its
// input line, the delta bit each edge latches (RI only its trailing edge),
// deltas gathered until the register is read, and cleared by that read alone.
#include <gtest/gtest.h>

#include "uart/Uart16550.h"

namespace {

using uart::Uart16550;

constexpr std::uint8_t kMsr = Uart16550::MSR;

struct LineCase {
    const char *name;
    std::uint8_t output;     // the modem control bit looped back to the line
    std::uint8_t level;      // the line's modem status bit
    std::uint8_t rise, fall; // the delta bits each edge latches
};

std::ostream &operator<<(std::ostream &os, const LineCase &c) { return os << c.name; }

class EachLine : public ::testing::TestWithParam<LineCase> {
protected:
    Uart16550 uart = Uart16550::PowerOn(0x3F8);
};

TEST_P(EachLine, LoopbackWiresItsOutputToItAndLatchesItsEdges)
{
    const LineCase &c = GetParam();
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP);
    EXPECT_EQ(uart.Read(kMsr), 0);
    uart.Write(Uart16550::MCR, static_cast<std::uint8_t>(Uart16550::MCR_LOOP | c.output));
    EXPECT_EQ(uart.Read(kMsr), c.level | c.rise);
    EXPECT_EQ(uart.Read(kMsr), c.level);
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP);
    EXPECT_EQ(uart.Read(kMsr), c.fall);
    EXPECT_EQ(uart.Read(kMsr), 0);
    // Every other output on: this line stays low.
    uart.Write(Uart16550::MCR, static_cast<std::uint8_t>(Uart16550::MCR_LOOP | (0x0F & ~c.output)));
    EXPECT_EQ(uart.Read(kMsr) & (c.level | c.rise | c.fall), 0);
}

TEST_P(EachLine, AnInputLatchesItsEdgesUntilTheRegisterIsRead)
{
    const LineCase &c = GetParam();
    uart.SetInput(c.level, true);
    EXPECT_EQ(uart.PeekMsr(), c.level | c.rise);
    for (std::uint8_t offset = 0; offset < Uart16550::RegisterCount; ++offset)
        if (offset != kMsr)
            uart.Read(offset); // no other read clears a delta
    EXPECT_EQ(uart.Read(kMsr), c.level | c.rise);
    EXPECT_EQ(uart.Read(kMsr), c.level);
    uart.SetInput(c.level, false);
    EXPECT_EQ(uart.Read(kMsr), c.fall);
    uart.SetInput(c.level, true);
    uart.SetInput(c.level, false);
    EXPECT_EQ(uart.Read(kMsr), c.rise | c.fall) << "a pulse between two reads";
    EXPECT_EQ(uart.Read(kMsr), 0);
}

TEST_P(EachLine, InLoopbackTheInputIsHiddenUntilLoopbackEnds)
{
    const LineCase &c = GetParam();
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP);
    uart.SetInput(c.level, true);
    EXPECT_EQ(uart.Read(kMsr), 0);
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP | 0x0F); // every line high from its output
    uart.Read(kMsr);
    uart.SetInput(c.level, false);
    uart.SetInput(c.level, true);
    EXPECT_EQ(uart.Read(kMsr), 0xF0) << "no change of the input shows";
    uart.Write(Uart16550::MCR, 0); // the inputs again: every other line falls
    EXPECT_EQ(uart.Read(kMsr) & (c.level | c.rise | c.fall), c.level);
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP); // its output is off: the line falls
    EXPECT_EQ(uart.Read(kMsr), c.fall);
}

const LineCase kLines[] = {
    {"RtsToCts", Uart16550::MCR_RTS, Uart16550::MSR_CTS, Uart16550::MSR_DCTS, Uart16550::MSR_DCTS},
    {"DtrToDsr", Uart16550::MCR_DTR, Uart16550::MSR_DSR, Uart16550::MSR_DDSR, Uart16550::MSR_DDSR},
    {"Out1ToRi", Uart16550::MCR_OUT1, Uart16550::MSR_RI, 0, Uart16550::MSR_TERI},
    {"Out2ToDcd", Uart16550::MCR_OUT2, Uart16550::MSR_DCD, Uart16550::MSR_DDCD, Uart16550::MSR_DDCD},
};
INSTANTIATE_TEST_SUITE_P(Table, EachLine, ::testing::ValuesIn(kLines),
                         [](const auto &row) { return std::string(row.param.name); });

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
}

// CTS moved from outside, as a key script moves it, latches as any input
// does.
TEST(Uart16550, ModemStatusLatchesCtsChangesUntilRead)
{
    Uart16550 uart = Uart16550::PowerOn(0x2F8);
    uart.SetInput(Uart16550::MSR_CTS, true);
    EXPECT_EQ(uart.Read(kMsr), Uart16550::MSR_CTS | Uart16550::MSR_DCTS);
    EXPECT_EQ(uart.Read(kMsr), Uart16550::MSR_CTS);
    uart.SetInput(Uart16550::MSR_CTS, false);
    EXPECT_EQ(uart.Read(kMsr), Uart16550::MSR_DCTS);
}

TEST(Uart16550, LoopbackFeedsRtsToCtsAndHidesTheInputs)
{
    Uart16550 uart = Uart16550::PowerOn(0x3E8);
    uart.SetInput(Uart16550::MSR_CTS, true);
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP);
    EXPECT_EQ(uart.PeekMsr() & Uart16550::MSR_CTS, 0);
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP | Uart16550::MCR_RTS);
    EXPECT_EQ(uart.PeekMsr() & Uart16550::MSR_CTS, Uart16550::MSR_CTS);
}

TEST(Uart16550, DeltasOfSeveralChangesGatherUntilTheRead)
{
    Uart16550 uart = Uart16550::PowerOn(0x2F8);
    uart.SetInput(Uart16550::MSR_CTS, true);
    uart.SetInput(Uart16550::MSR_DSR, true);
    EXPECT_EQ(uart.Read(kMsr), 0x33);

    uart.SetInput(Uart16550::MSR_DCD, true); // latched before loopback...
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP | Uart16550::MCR_OUT2 | Uart16550::MCR_DTR | Uart16550::MCR_RTS);
    uart.Write(Uart16550::MCR, Uart16550::MCR_LOOP | Uart16550::MCR_OUT2 | Uart16550::MCR_DTR);
    EXPECT_EQ(uart.Read(kMsr), 0xA9) << "...kept through the writes that change CTS";
}

// A read after the lines moved by themselves (the comm-port io.dll's read
// of a device): the same deltas as the lines moved one by one, the low
// nibble of the levels ignored, and cleared by the read.
TEST(Uart16550, AReadWithNewLevelsLatchesTheirDeltasAndClearsThem)
{
    const struct {
        std::uint8_t before, after, msr;
    } cases[] = {
        {0x00, 0x10, 0x11}, {0x10, 0x00, 0x01}, {0x00, 0xB0, 0xBB}, {0x00, 0x40, 0x40},
        {0x40, 0x00, 0x04}, {0x50, 0x1F, 0x14}, {0xF0, 0xF0, 0xF0},
    };
    for (const auto &c : cases) {
        Uart16550 uart = Uart16550::PowerOn(0x3F8);
        uart.ReadMsrWith(c.before);
        EXPECT_EQ(uart.ReadMsrWith(c.after), c.msr) << std::hex << int(c.before) << " -> " << int(c.after);
        EXPECT_EQ(uart.Read(kMsr), c.after & 0xF0) << "cleared by the read";
    }
}

TEST(Uart16550, TheFifoBitsReadBackInTheInterruptIdentification)
{
    Uart16550 uart = Uart16550::PowerOn(0x3F8);
    EXPECT_EQ(uart.Read(Uart16550::IIR_FCR), 0x01);
    uart.Write(Uart16550::IIR_FCR, 0x07); // on, both FIFOs reset: the resets clear themselves
    EXPECT_EQ(uart.fcr, 0x01);
    EXPECT_EQ(uart.Read(Uart16550::IIR_FCR), 0xC1);
    uart.Write(Uart16550::IIR_FCR, 0xC8); // trigger level and DMA mode, FIFOs off
    EXPECT_EQ(uart.Read(Uart16550::IIR_FCR), 0x01);
}

} // namespace
