// Key polling as a state machine, and the output line on DTR.
#include "Harness.h"

namespace {

using Calls = std::vector<std::string>;

// One step of a polling story and what the poll, if any, answers.
struct Step {
    enum Kind { KeyDown, KeyUp, Poll, Start, Stop, DriverOff, DriverOn } kind;
    int expected = -1; // for Poll: the answer
};

Step Answer(int expected) { return {Step::Poll, expected}; }
const Step Down{Step::KeyDown}, Up{Step::KeyUp}, Start{Step::Start}, Stop{Step::Stop},
    DriverOff{Step::DriverOff}, DriverOn{Step::DriverOn};

struct Story {
    const char *name;
    std::vector<Step> steps;
};

std::ostream &operator<<(std::ostream &os, const Story &story) { return os << story.name; }

class Polling : public KeyLibraryTest, public ::testing::WithParamInterface<Story> {};

TEST_P(Polling, AnswersOncePerPress)
{
    int index = 0;
    for (const Step &step : GetParam().steps) {
        switch (step.kind) {
        case Step::KeyDown: lib.SetCts(0x03F8, true); break;
        case Step::KeyUp: lib.SetCts(0x03F8, false); break;
        case Step::Start: lib.StartListen("COM1"); break;
        case Step::Stop: lib.StopListen(); break;
        case Step::DriverOff: lib.SetDriverInstalled(false); break;
        case Step::DriverOn: lib.SetDriverInstalled(true); break;
        case Step::Poll: EXPECT_EQ(lib.IsZBToggle(), step.expected) << "at step " << index; break;
        }
        ++index;
    }
}

INSTANTIATE_TEST_SUITE_P(Stories, Polling, ::testing::Values(
    Story{"BeforeAnyStart", {Down, Answer(0), Answer(0)}},
    Story{"KeySetAtTheFirstPoll", {Start, Down, Answer(1)}},
    Story{"KeyHeldOverManyPolls", {Start, Down, Answer(1), Answer(0), Answer(0), Answer(0)}},
    Story{"ReleaseIsRecordedNotReported", {Start, Down, Answer(1), Up, Answer(0), Answer(0), Down, Answer(1)}},
    Story{"PressAndReleaseBetweenPollsIsMissed", {Start, Answer(0), Down, Up, Answer(0)}},
    Story{"AfterStop", {Start, Stop, Down, Answer(0), Answer(0)}},
    Story{"RestartWithTheKeyStillDownAfterItWasSeen", {Start, Down, Answer(1), Stop, Start, Answer(0)}},
    Story{"RestartWithTheKeyDownNeverSeen", {Start, Down, Stop, Start, Answer(1)}},
    Story{"RestartWithoutStop", {Start, Down, Answer(1), Start, Answer(0), Up, Answer(0), Down, Answer(1)}},
    Story{"DriverGoneBetweenPolls", {Start, Down, DriverOff, Answer(0), DriverOn, Answer(1)}},
    Story{"DriverGoneKeepsTheLastState", {Start, Down, Answer(1), Up, DriverOff, Answer(0), DriverOn, Down,
                                          Answer(0)}}));

TEST_F(KeyLibraryTest, PollWhileListeningMakesExactlyTwoCalls)
{
    lib.StartListen("COM2");
    lib.ClearTranscript();
    lib.SetCts(0x02F8, true);
    EXPECT_EQ(lib.IsZBToggle(), 1);
    EXPECT_EQ(lib.IsZBToggle(), 0);
    EXPECT_EQ(TakeCalls(), (Calls{"IsDriverInstalled() -> 1", "GetPortBit(0x02FE, 4) -> 0x0001",
                                  "IsDriverInstalled() -> 1", "GetPortBit(0x02FE, 4) -> 0x0001"}));
}

TEST_F(KeyLibraryTest, PollWithoutTheDriverReadsNoPort)
{
    lib.StartListen("COM1");
    lib.SetDriverInstalled(false);
    lib.ClearTranscript();
    EXPECT_EQ(lib.IsZBToggle(), 0);
    EXPECT_EQ(TakeCalls(), Calls{"IsDriverInstalled() -> 0"});
}

TEST_F(KeyLibraryTest, AnyNonZeroBitReadCountsAsSetAndTheAnswerIsExactlyOne)
{
    for (const unsigned setValue : {0x0001u, 0x0010u, 0x0100u, 0x8000u, 0xFFFFu}) {
        lib.Fresh();
        lib.SetBitSetValue(static_cast<std::uint16_t>(setValue));
        lib.StartListen("COM1");
        lib.SetCts(0x03F8, true);
        EXPECT_EQ(lib.IsZBToggle(), 1) << "GetPortBit answering " << setValue;
    }
}

// The driver check is a one-byte boolean: every non-zero answer means
// present, at the start, the poll and the output call alike.
TEST_F(KeyLibraryTest, AnyNonZeroDriverAnswerCountsAsPresent)
{
    for (const unsigned answer : {0x01u, 0x02u, 0x80u, 0xFFu}) {
        lib.Fresh();
        lib.SetDriverValue(static_cast<std::uint8_t>(answer));
        lib.StartListen("COM2");
        EXPECT_EQ(lib.HandlesHeld(), 1) << "start, driver answering " << answer;
        lib.SetCts(0x02F8, true);
        EXPECT_EQ(lib.IsZBToggle(), 1) << "poll, driver answering " << answer;
        lib.SetToggled(1);
        EXPECT_EQ(lib.Mcr(0x02F8), 0x0B) << "output, driver answering " << answer;
    }
}

TEST_F(KeyLibraryTest, SetToggledDrivesDtrAndLeavesTheOtherModemControlBits)
{
    lib.StartListen("COM4");
    lib.ClearTranscript();
    lib.SetToggled(1);
    EXPECT_EQ(lib.Mcr(0x02E8), 0x0B);
    lib.SetToggled(0);
    EXPECT_EQ(lib.Mcr(0x02E8), 0x0A);
    lib.SetToggled(0x80); // any non-zero byte is true
    EXPECT_EQ(lib.Mcr(0x02E8), 0x0B);
    EXPECT_EQ(TakeCalls(), (Calls{"IsDriverInstalled() -> 1", "SetPortBit(0x02EC, 0)",
                                  "IsDriverInstalled() -> 1", "ClrPortBit(0x02EC, 0)",
                                  "IsDriverInstalled() -> 1", "SetPortBit(0x02EC, 0)"}));
}

TEST_F(KeyLibraryTest, SetToggledWhileIdleOrWithoutTheDriverWritesNoPort)
{
    lib.SetToggled(1);
    EXPECT_EQ(TakeCalls(), Calls{});

    lib.StartListen("COM1");
    lib.StopListen();
    lib.ClearTranscript();
    lib.SetToggled(1);
    EXPECT_EQ(TakeCalls(), Calls{});

    lib.StartListen("COM1");
    lib.SetDriverInstalled(false);
    lib.ClearTranscript();
    lib.SetToggled(1);
    EXPECT_EQ(TakeCalls(), Calls{"IsDriverInstalled() -> 0"});
    lib.SetDriverInstalled(true);
    EXPECT_EQ(lib.Mcr(0x03F8), 0x0A);
}

TEST_F(KeyLibraryTest, EveryStartClearsDtrAndStopLeavesIt)
{
    lib.StartListen("COM1");
    lib.SetToggled(1);
    lib.StopListen();
    EXPECT_EQ(lib.Mcr(0x03F8), 0x0B) << "stop leaves DTR as it was";
    lib.StartListen("COM1");
    EXPECT_EQ(lib.Mcr(0x03F8), 0x0A);
}

} // namespace
