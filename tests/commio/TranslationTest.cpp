// Register accesses and the serial driver calls they become.
#include "CommIoTest.h"

namespace {

struct Access {
    char op;            // 'o' PortOut, 's' SetPortBit, 'c' ClrPortBit
    std::uint8_t reg;   // offset from 3F8h
    std::uint8_t value; // byte, or bit number
};

struct WriteCase {
    const char *name;
    std::vector<Access> accesses;
    Calls calls;
};

std::ostream &operator<<(std::ostream &os, const WriteCase &w) { return os << w.name; }

class WriteTranslation : public CommIoTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteTranslation, BecomesExactlyTheseCalls)
{
    Claimed();
    for (const Access &a : GetParam().accesses) {
        const auto port = static_cast<std::uint16_t>(0x3F8 + a.reg);
        if (a.op == 'o') io.PortOut(port, a.value);
        else if (a.op == 's') io.SetPortBit(port, a.value);
        else io.ClrPortBit(port, a.value);
    }
    EXPECT_EQ(Taken(), GetParam().calls);
}

const WriteCase kWrites[] = {
    {"RtsAndDtrOn", {{'o', 4, 0x03}}, {"EscapeCommFunction(c1, SETRTS)", "EscapeCommFunction(c1, SETDTR)"}},
    {"SameValueTwiceChangesNothing", {{'o', 4, 0x02}, {'o', 4, 0x02}}, {"EscapeCommFunction(c1, SETRTS)"}},
    {"DtrOffAgain", {{'o', 4, 0x03}, {'o', 4, 0x02}},
     {"EscapeCommFunction(c1, SETRTS)", "EscapeCommFunction(c1, SETDTR)", "EscapeCommFunction(c1, CLRDTR)"}},
    {"Out1Out2StayInside", {{'o', 4, 0x0C}, {'o', 4, 0x00}}, {}},
    {"SetAndClearDtrBit", {{'s', 4, 0}, {'s', 4, 0}, {'c', 4, 0}},
     {"EscapeCommFunction(c1, SETDTR)", "EscapeCommFunction(c1, CLRDTR)"}},
    {"ClearRtsBit", {{'o', 4, 0x0A}, {'c', 4, 1}}, {"EscapeCommFunction(c1, SETRTS)", "EscapeCommFunction(c1, CLRRTS)"}},
    {"LoopbackKeepsLinesInside", {{'o', 4, 0x02}, {'o', 4, 0x13}, {'o', 4, 0x10}}, {"EscapeCommFunction(c1, SETRTS)"}},
    {"LeavingLoopbackCarriesTheLines", {{'o', 4, 0x13}, {'o', 4, 0x01}}, {"EscapeCommFunction(c1, SETDTR)"}},
    {"Divisor1EightNone", {{'o', 3, 0x80}, {'o', 0, 1}, {'o', 1, 0}, {'o', 3, 0x03}},
     {"SetCommState(c1, 115200 8N1, dtr off, rts off)"}},
    {"FiveBitsLongStop", {{'o', 3, 0x80}, {'o', 0, 12}, {'o', 3, 0x04}}, {"SetCommState(c1, 9600 5N1.5, dtr off, rts off)"}},
    {"SevenEvenTwo", {{'o', 3, 0x80}, {'o', 0, 0x80}, {'o', 1, 0x01}, {'o', 3, 0x1E}},
     {"SetCommState(c1, 300 7E2, dtr off, rts off)"}},
    {"MarkAndSpace", {{'o', 3, 0x80}, {'o', 0, 6}, {'o', 3, 0x2B}, {'o', 3, 0x3B}},
     {"SetCommState(c1, 19200 8M1, dtr off, rts off)", "SetCommState(c1, 19200 8S1, dtr off, rts off)"}},
    {"NothingWhileDlabIsSet", {{'o', 3, 0x80}, {'o', 0, 6}, {'o', 1, 0}, {'o', 3, 0x83}}, {}},
    {"ZeroDivisorNotApplied", {{'o', 3, 0x80}, {'o', 0, 0}, {'o', 1, 0}, {'o', 3, 0x03}}, {}},
    {"SameFormatOnce", {{'o', 3, 0x80}, {'o', 0, 0x30}, {'o', 3, 0x0B}, {'o', 3, 0x80}, {'o', 3, 0x0B}},
     {"SetCommState(c1, 2400 8O1, dtr off, rts off)"}},
    {"FormatCarriesTheLinesAsTheyStand", {{'o', 4, 0x03}, {'o', 3, 0x80}, {'o', 0, 1}, {'o', 3, 0x03}},
     {"EscapeCommFunction(c1, SETRTS)", "EscapeCommFunction(c1, SETDTR)", "SetCommState(c1, 115200 8N1, dtr on, rts on)"}},
    {"OtherRegistersStayInside", {{'o', 0, 0x55}, {'o', 1, 0x0F}, {'o', 2, 0xC7}, {'o', 5, 0xFF}, {'o', 6, 0xFF}, {'o', 7, 1}},
     {}},
};

INSTANTIATE_TEST_SUITE_P(Table, WriteTranslation, ::testing::ValuesIn(kWrites),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(CommIoTest, TheLibrarySetUpIsOneFormatAndRtsOn)
{
    Claimed();
    LibrarySetUp(0x3F8);
    EXPECT_EQ(Taken(), (Calls{"SetCommState(c1, 2400 8O1, dtr off, rts off)", "EscapeCommFunction(c1, SETRTS)"}));
}

TEST_F(CommIoTest, ModemStatusDeltasCompareWithThePreviousRead)
{
    Claimed();
    struct Step {
        std::uint8_t lines; // device inputs before the read
        std::uint8_t msr;   // what the read answers
    };
    const Step steps[] = {
        {0x00, 0x00}, {0x10, 0x11}, {0x10, 0x10}, {0x00, 0x01}, // CTS on, held, off
        {0x40, 0x40}, {0x00, 0x04},                             // RI reports its trailing edge only
        {0xA0, 0xAA}, {0xA0, 0xA0}, {0x30, 0x39},               // DCD and DSR, then DCD off and CTS on
    };
    for (const Step &step : steps) {
        devices.Find("COM5")->inputs = step.lines;
        EXPECT_EQ(io.PortIn(0x3FE), step.msr) << "lines " << int(step.lines);
    }
    EXPECT_EQ(devices.ModemStatusCalls(), std::size(steps));
}

TEST_F(CommIoTest, BitReadsAreOneCallAndKeepTheDeltasOfTheRegister)
{
    Claimed();
    struct Step {
        bool cts;
        std::uint8_t bit;
        std::uint16_t answer;
    };
    const Step steps[] = {
        {true, 4, 1}, {true, 4, 1}, {true, 0, 0}, // the first read cleared the delta
        {false, 4, 0}, {false, 0, 0},              // so did the read of the level
        {true, 0, 1}, {true, 4, 1}, {false, 4, 0}, {true, 4, 1}, {true, 0, 0},
    };
    for (const Step &step : steps) {
        devices.SetInput("COM5", uart::ModemLine::Cts, step.cts);
        EXPECT_EQ(io.GetPortBit(0x3FE, step.bit), step.answer) << step.cts << " bit " << int(step.bit);
    }
    EXPECT_EQ(devices.ModemStatusCalls(), std::size(steps));
    EXPECT_EQ(Taken().size(), std::size(steps));
}

TEST_F(CommIoTest, LoopbackAnswersFromTheModemControlWithoutTheDevice)
{
    Claimed();
    devices.SetInput("COM5", uart::ModemLine::Cts, true);
    EXPECT_EQ(io.GetPortBit(0x3FE, 4), 1);
    EXPECT_EQ(io.GetPortBit(0x3FE, 4), 1); // the poll's short way
    EXPECT_EQ(Taken(), Calls(2, "GetCommModemStatus(c1) -> 10"));
    devices.SetInput("COM5", uart::ModemLine::Cts, false);
    io.PortOut(0x3FC, 0x10);
    EXPECT_EQ(io.GetPortBit(0x3FE, 4), 0);
    EXPECT_EQ(io.PortIn(0x3FE), 0x00);
    io.PortOut(0x3FC, 0x1F); // RTS, DTR, OUT1, OUT2 loop to CTS, DSR, RI, DCD
    EXPECT_EQ(io.PortIn(0x3FE), 0xFB);
    io.PortOut(0x3FC, 0x1D); // RTS off: CTS falls
    EXPECT_EQ(io.PortIn(0x3FE), 0xE1);
    EXPECT_EQ(Taken(), Calls{});
}

TEST_F(CommIoTest, RegistersReadAsAnIdleUartAndScratchKeepsItsValue)
{
    Claimed();
    io.PortOut(0x3FF, 0x5A);
    io.PortOut(0x3FB, 0x8B);
    io.PortOut(0x3F8, 0x30);
    EXPECT_EQ(io.PortIn(0x3FD), 0x60); // THRE and TEMT
    EXPECT_EQ(io.PortIn(0x3FF), 0x5A);
    EXPECT_EQ(io.PortIn(0x3FB), 0x8B);
    EXPECT_EQ(io.PortIn(0x3F8), 0x30); // divisor latch while DLAB is set
    EXPECT_EQ(io.GetPortBit(0x3FF, 8), 0); // no such bit
    EXPECT_EQ(Taken(), Calls{});
}

TEST_F(CommIoTest, PortsNoLineMapsAreDeadAir)
{
    Claimed("3F8 = COM5");
    for (const std::uint16_t port : std::initializer_list<std::uint16_t>{0x2F8, 0x2FC, 0x3F7, 0x400, 0x0000, 0xFFFF}) {
        io.PortOut(port, 0x03);
        io.SetPortBit(port, 0);
        EXPECT_EQ(io.PortIn(port), 0xFF) << port;
        EXPECT_EQ(io.GetPortBit(port, 4), 1) << port;
    }
    EXPECT_EQ(Taken(), Calls{});
    EXPECT_FALSE(devices.Find("COM5")->dtr);
}

TEST_F(CommIoTest, AnyCarriesEveryBaseAndExplicitLinesComeFirst)
{
    devices.Plug("COM5");
    devices.Plug("COM6");
    Map("any = COM5\n2F8 = COM6");
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    io.PortOut(0x2FC, 0x01);
    io.PortOut(0xD044, 0x02);
    EXPECT_TRUE(devices.Find("COM6")->dtr);
    EXPECT_TRUE(devices.Find("COM5")->rts);
    EXPECT_FALSE(devices.Find("COM5")->dtr);
}

} // namespace
