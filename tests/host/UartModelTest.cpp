// The 16550 model's modem status: loopback's wiring of each output to its
// input line, and the delta bit each edge latches (RI only its trailing edge).
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

const LineCase kLines[] = {
    {"RtsToCts", Uart16550::MCR_RTS, Uart16550::MSR_CTS, Uart16550::MSR_DCTS, Uart16550::MSR_DCTS},
    {"DtrToDsr", Uart16550::MCR_DTR, Uart16550::MSR_DSR, Uart16550::MSR_DDSR, Uart16550::MSR_DDSR},
    {"Out1ToRi", Uart16550::MCR_OUT1, Uart16550::MSR_RI, 0, Uart16550::MSR_TERI},
    {"Out2ToDcd", Uart16550::MCR_OUT2, Uart16550::MSR_DCD, Uart16550::MSR_DDCD, Uart16550::MSR_DDCD},
};
INSTANTIATE_TEST_SUITE_P(Table, EachLine, ::testing::ValuesIn(kLines),
                         [](const auto &row) { return std::string(row.param.name); });

} // namespace
