// The six modem lines: each one's facts against the 16550's data sheet, the
// connector's pinout and the serial driver's numbers, written out here
// apart from the code; a line that can't be made from a number, so that no
// table is ever read past its end; and the lines read through a bit read.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "uart/ModemLines.h"

namespace {

using uart::ModemLine;
using uart::Uart16550;

// A line is one of the six, or nothing: it is made from no number and no
// text, and a table of the lines is indexed by a line alone.
static_assert(!std::is_default_constructible_v<ModemLine>);
static_assert(!std::is_constructible_v<ModemLine, int>);
static_assert(!std::is_constructible_v<ModemLine, std::uint8_t>);
static_assert(!std::is_constructible_v<ModemLine, std::size_t>);
static_assert(!std::is_constructible_v<ModemLine, const char *>);
template <typename Table, typename = void> struct TakesANumber : std::false_type {};
template <typename Table>
struct TakesANumber<Table, std::void_t<decltype(std::declval<Table &>()[std::size_t{0}])>> : std::true_type {};
static_assert(!TakesANumber<uart::PerLine<int>>::value);
static_assert(TakesANumber<int[ModemLine::Count]>::value, "the check above can tell");

struct Facts {
    const char *name;
    int pin;             // on the 9-pin connector
    std::uint8_t reg;    // 16550 register offset
    std::uint8_t mask;   // its bit there
    std::uint8_t bit;
    std::uint32_t event; // EV_CTS, EV_DSR, EV_RLSD, EV_RING
};

const std::pair<ModemLine, Facts> kLines[] = {
    {ModemLine::Cts, {"CTS", 8, 6, 0x10, 4, 0x0008}},
    {ModemLine::Dsr, {"DSR", 6, 6, 0x20, 5, 0x0010}},
    {ModemLine::Dcd, {"DCD", 1, 6, 0x80, 7, 0x0020}},
    {ModemLine::Ri, {"RI", 9, 6, 0x40, 6, 0x0100}},
    {ModemLine::Rts, {"RTS", 7, 4, 0x02, 1, 0}},
    {ModemLine::Dtr, {"DTR", 4, 4, 0x01, 0, 0}},
};

TEST(ModemLines, EachLineHasItsOwnFactsAndPlace)
{
    ASSERT_EQ(std::size(uart::AllLines), ModemLine::Count);
    std::set<std::size_t> places;
    for (std::size_t i = 0; i < ModemLine::Count; ++i) {
        const auto &[line, facts] = kLines[i];
        SCOPED_TRACE(facts.name);
        EXPECT_EQ(uart::AllLines[i], line);
        EXPECT_EQ(line.Index(), i);
        places.insert(line.Index());
        EXPECT_STREQ(line.Name(), facts.name);
        EXPECT_EQ(line.Pin(), facts.pin);
        EXPECT_EQ(line.Register(), facts.reg);
        EXPECT_EQ(line.Mask(), facts.mask);
        EXPECT_EQ(line.Bit(), facts.bit);
        EXPECT_EQ(line.Event(), facts.event);
        EXPECT_EQ(line.IsInput(), facts.reg == Uart16550::MSR);
        for (const auto &[other, otherFacts] : kLines)
            EXPECT_EQ(line == other, &facts == &otherFacts);
    }
    EXPECT_EQ(places.size(), ModemLine::Count);
    const std::vector<ModemLine> inputs(std::begin(uart::InputLines), std::end(uart::InputLines));
    EXPECT_EQ(inputs, (std::vector<ModemLine>{ModemLine::Cts, ModemLine::Dsr, ModemLine::Dcd, ModemLine::Ri}));
    EXPECT_EQ(uart::InputLineEvents, 0x0138u) << "SetCommMask(EV_CTS | EV_DSR | EV_RLSD | EV_RING)";
}

TEST(ModemLines, EachIsReadFromItsOwnRegisterBit)
{
    for (const auto &[line, facts] : kLines) {
        SCOPED_TRACE(facts.name);
        std::vector<std::pair<int, int>> asked;
        const auto getPortBit = [&](std::uint16_t port, std::uint8_t bit) -> std::uint16_t {
            asked.emplace_back(port, bit);
            return port == 0x2F8 + facts.reg && bit == facts.bit ? 0x0100 : 0; // any non-zero answer is set
        };
        const uart::LineLevels levels = uart::ReadModemLines(getPortBit, 0x2F8);
        for (const ModemLine each : uart::AllLines)
            EXPECT_EQ(levels[each], each == line) << each.Name();
        EXPECT_EQ(asked.size(), ModemLine::Count) << "one read a line";
    }
}

} // namespace
