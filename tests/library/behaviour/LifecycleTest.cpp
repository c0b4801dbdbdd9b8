// The exact calls that starting, stopping and unloading make.
#include "Harness.h"

namespace {

using Calls = std::vector<std::string>;

Calls Join(Calls first, const Calls &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST_F(KeyLibraryTest, StartChecksTheDriverOpensTheDeviceThenProgramsTheUart)
{
    lib.StartListen("COM1");
    EXPECT_EQ(TakeCalls(), StartCalls("COM1", 0x03F8));
    EXPECT_EQ(lib.HandlesHeld(), 1);
    EXPECT_EQ(lib.Mcr(0x03F8), 0x0A); // RTS and OUT2 on, DTR off
}

TEST_F(KeyLibraryTest, StartWhileListeningReleasesTheHeldDeviceFirst)
{
    lib.StartListen("COM1");
    lib.ClearTranscript();
    lib.StartListen("COM2");
    EXPECT_EQ(TakeCalls(), Join({"CloseHandle(h1) -> 1"}, StartCalls("COM2", 0x02F8, "h2")));
    EXPECT_EQ(lib.HandlesHeld(), 1);
}

TEST_F(KeyLibraryTest, RestartOnTheSamePortReopensIt)
{
    lib.StartListen("COM3");
    lib.ClearTranscript();
    lib.StartListen("COM3");
    EXPECT_EQ(TakeCalls(), Join({"CloseHandle(h1) -> 1"}, StartCalls("COM3", 0x03E8, "h2")));
}

TEST_F(KeyLibraryTest, StartWithoutTheDriverOpensNothing)
{
    lib.SetDriverInstalled(false);
    lib.StartListen("COM1");
    EXPECT_EQ(TakeCalls(), Calls{"IsDriverInstalled() -> 0"});
    EXPECT_EQ(lib.HandlesHeld(), 0);
    EXPECT_EQ(lib.IsZBToggle(), 0);
    EXPECT_EQ(TakeCalls(), Calls{}) << "idle: a poll touches nothing";
}

TEST_F(KeyLibraryTest, StartWithoutTheDriverWhileListeningLeavesTheLibraryIdle)
{
    lib.StartListen("COM1");
    lib.SetDriverInstalled(false);
    lib.ClearTranscript();
    lib.StartListen("COM2");
    EXPECT_EQ(TakeCalls(), (Calls{"CloseHandle(h1) -> 1", "IsDriverInstalled() -> 0"}));
    lib.SetDriverInstalled(true);
    lib.StopListen();
    EXPECT_EQ(TakeCalls(), Calls{}) << "nothing is held any more";
}

TEST_F(KeyLibraryTest, StopClosesTheDeviceOnceAndLeavesTheUartAlone)
{
    lib.StartListen("COM1");
    lib.ClearTranscript();
    lib.StopListen();
    lib.StopListen();
    EXPECT_EQ(TakeCalls(), Calls{"CloseHandle(h1) -> 1"});
    EXPECT_EQ(lib.HandlesHeld(), 0);
    EXPECT_EQ(lib.Mcr(0x03F8), 0x0A) << "RTS stays on after the stop";
}

TEST_F(KeyLibraryTest, StopBeforeAnyStartDoesNothing)
{
    lib.StopListen();
    EXPECT_EQ(TakeCalls(), Calls{});
}

TEST_F(KeyLibraryTest, DeviceThatCannotBeOpenedStillListensAndIsClosedWithTheFailureValue)
{
    lib.SetDeviceExists("COM1", false);
    lib.StartListen("COM1");
    EXPECT_EQ(TakeCalls(), StartCalls("COM1", 0x03F8, "INVALID_HANDLE_VALUE"));

    lib.SetCts(0x03F8, true);
    EXPECT_EQ(lib.IsZBToggle(), 1) << "the UART is still polled";
    lib.ClearTranscript();

    lib.StopListen();
    EXPECT_EQ(TakeCalls(), Calls{"CloseHandle(INVALID_HANDLE_VALUE) -> 1"});
}

TEST_F(KeyLibraryTest, UnloadWhileListeningClosesNothingAndTouchesNoPort)
{
    lib.StartListen("COM2");
    lib.SetToggled(1);
    lib.ClearTranscript();
    lib.Unload();
    EXPECT_EQ(TakeCalls(), Calls{});
    EXPECT_EQ(lib.HandlesHeld(), 1) << "the handle is kept until the process ends";
    EXPECT_EQ(lib.Mcr(0x02F8), 0x0B);
}

// In the DLL build the device calls are routed before the loader callback
// runs, so whatever it calls shows here.
TEST_F(KeyLibraryTest, LoadingAndUnloadingTouchNoPortAndNoDevice)
{
    lib.Unload();
    lib.ClearTranscript();
    lib.Load();
    EXPECT_EQ(TakeCalls(), Calls{});
    lib.Unload();
    EXPECT_EQ(TakeCalls(), Calls{});
    lib.Load();
}

TEST_F(KeyLibraryTest, FreshLoadAfterUnloadStartsIdle)
{
    lib.StartListen("COM2");
    lib.Unload();
    lib.Load();
    lib.ClearTranscript();
    EXPECT_EQ(lib.IsZBToggle(), 0);
    lib.StopListen();
    EXPECT_EQ(TakeCalls(), Calls{});
    lib.StartListen("COM1");
    EXPECT_EQ(TakeCalls(), StartCalls("COM1", 0x03F8, "h2")) << "COM2 is still held by the old copy";
}

TEST_F(KeyLibraryTest, IsCustomAnswersOneAtAnyTimeAndTouchesNothing)
{
    EXPECT_EQ(lib.IsCustom(), 1);
    lib.StartListen("COM1");
    lib.ClearTranscript();
    EXPECT_EQ(lib.IsCustom(), 1);
    lib.SetDriverInstalled(false);
    EXPECT_EQ(lib.IsCustom(), 1);
    EXPECT_EQ(TakeCalls(), Calls{});
}

} // namespace
