// The DLL's binary contract, checked through a real PE loader: names and
// ordinals, the calling convention (stdcall on x86), one-byte booleans, the
// imports it binds and what the loader callback may do.
#include <gtest/gtest.h>

#include <cstdint>

#include "LoadedLibrary.h"
#include "Harness.h"

// CallProbe-x86.S and CallProbe-x64.S: an export called with raw register
// and stack contents, as a host compiled by anything calls it.
extern "C" std::uint32_t ProbeCall(const void *fn, std::uint32_t argCount, const std::uintptr_t *args,
                                   std::int32_t *stackDelta);

namespace {

struct Export {
    const char *name;
    WORD ordinal;
    std::uint32_t argBytes;
};

const Export kExports[] = {
    {"ZelbinIsCustom", 1, 0},    {"ZelbinSetToggled", 2, 4},  {"ZelbinIsZBToggle", 3, 0},
    {"ZelbinStopListen", 4, 0},  {"ZelbinStartListen", 5, 4},
};

class DllAbi : public KeyLibraryTest {
protected:
    HMODULE Module() { return GetModuleHandleA("Zelbin_Serial.dll"); }
    const void *Proc(const char *name)
    {
        return reinterpret_cast<const void *>(GetProcAddress(Module(), name));
    }
    // Calls an export with raw pointer-sized arguments; checks the stack is
    // balanced (on x86: the callee removed its own arguments).
    std::uint32_t Call(const char *name, std::initializer_list<std::uintptr_t> args)
    {
        std::int32_t delta = -1;
        const std::uint32_t eax =
            ProbeCall(Proc(name), static_cast<std::uint32_t>(args.size()), args.begin(), &delta);
        EXPECT_EQ(delta, 0) << name << " must leave the stack as it found it, its " << args.size() * sizeof(void *)
                            << " argument bytes removed";
        return eax;
    }
};

TEST_F(DllAbi, EveryExportResolvesByNameAndByOrdinalToTheSameAddress)
{
    for (const Export &e : kExports) {
        const void *byName = Proc(e.name);
        const void *byOrdinal =
            reinterpret_cast<const void *>(GetProcAddress(Module(), MAKEINTRESOURCEA(e.ordinal)));
        ASSERT_NE(byName, nullptr) << e.name;
        EXPECT_EQ(byName, byOrdinal) << e.name << " at ordinal " << e.ordinal;
    }
    EXPECT_EQ(GetProcAddress(Module(), MAKEINTRESOURCEA(6)), nullptr) << "no sixth export";
}

TEST_F(DllAbi, NamesAreNotDecorated)
{
    for (const Export &e : kExports) {
        const std::string bare = e.name;
        const std::string stdcallName = bare + "@" + std::to_string(e.argBytes);
        EXPECT_EQ(Proc(stdcallName.c_str()), nullptr) << stdcallName;
        EXPECT_EQ(Proc(("_" + bare).c_str()), nullptr) << "_" << bare;
        EXPECT_EQ(Proc(("_" + stdcallName).c_str()), nullptr) << "_" << stdcallName;
    }
}

TEST_F(DllAbi, EveryExportRemovesItsArgumentsAndBooleansComeBackInAl)
{
    EXPECT_EQ(Call("ZelbinIsCustom", {}) & 0xFF, 1u);
    Call("ZelbinStartListen", {0});
    Call("ZelbinSetToggled", {1});
    lib.SetCts(0x03F8, true);
    EXPECT_EQ(Call("ZelbinIsZBToggle", {}) & 0xFF, 1u);
    EXPECT_EQ(Call("ZelbinIsZBToggle", {}) & 0xFF, 0u);
    Call("ZelbinStopListen", {});
    EXPECT_EQ(Call("ZelbinIsZBToggle", {}) & 0xFF, 0u);
}

TEST_F(DllAbi, StartListenReadsItsPointerArgument)
{
    const char *params = "COM3";
    Call("ZelbinStartListen", {reinterpret_cast<std::uintptr_t>(params)});
    EXPECT_EQ(TakeCalls(), StartCalls("COM3", 0x03E8));
}

TEST_F(DllAbi, SetToggledReadsOnlyTheLowByteOfItsArgument)
{
    lib.StartListen("COM1");
    // The upper bytes of the argument's stack slot or register are the
    // caller's leftovers: all ones below, in every byte above the lowest.
    constexpr std::uintptr_t kLeftovers = ~std::uintptr_t{0xFF};
    struct Case {
        std::uintptr_t argument;
        std::uint8_t mcr;
    } cases[] = {{0x01, 0x0B}, {0x100, 0x0A}, {kLeftovers, 0x0A}, {kLeftovers | 0x80, 0x0B}, {0x00, 0x0A}};
    for (const Case &c : cases) {
        Call("ZelbinSetToggled", {c.argument});
        EXPECT_EQ(lib.Mcr(0x03F8), c.mcr) << std::hex << "argument 0x" << c.argument;
    }
}

// What the loader callback calls would escape the record otherwise (see
// LoadingAndUnloadingTouchNoPortAndNoDevice in the behaviour tests). A
// probe DLL whose loader callback opens a device, loaded through the same
// routing, must show that open in the record.
TEST_F(DllAbi, DeviceCallsAreRoutedFromTheMomentTheLoaderBindsTheDll)
{
    const HMODULE probe = LoadRouted("routing_probe.dll", Devices::Spied);
    ASSERT_NE(probe, nullptr) << "routing_probe.dll: " << GetLastError();
    std::vector<std::string> lines;
    for (const SpiedCall &call : SpiedDeviceCalls())
        lines.push_back(call.line);
    FreeLibrary(probe);
    ASSERT_FALSE(lines.empty()) << "the probe's open escaped the record";
    EXPECT_NE(lines[0].find("ZELBIN-ROUTING-PROBE"), std::string::npos) << lines[0];
}

DWORD WINAPI ReturnAtOnce(LPVOID) { return 0; }

// The loader tells the DLL of every thread that starts and ends in the
// process; neither may touch the port state.
TEST_F(DllAbi, AThreadStartedWhileListeningChangesNothing)
{
    lib.StartListen("COM2");
    lib.SetCts(0x02F8, true);
    lib.ClearTranscript();
    const HANDLE thread = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(TakeCalls(), std::vector<std::string>{});
    EXPECT_EQ(lib.IsZBToggle(), 1) << "still listening";
    lib.StopListen();
    EXPECT_EQ(lib.HandlesHeld(), 0) << "the stop still closes the device";
}

// Device calls that reach Wine's kernel32, where the test prefix maps COM1
// to COM4 to /dev/null and has no other port.
class RealDevices : public ::testing::Test {
protected:
    void SetUp() override
    {
        TheHarness().Unload();
        StandInIoFunction<void(WINAPI *)()>("SimReset")();
        module = LoadKeyLibrary(Devices::Spied, lib);
        ASSERT_NE(module, nullptr);
    }
    void TearDown() override
    {
        FreeLibrary(module);
        TheHarness().Fresh();
    }
    static std::vector<std::string> Lines()
    {
        std::vector<std::string> lines;
        for (const SpiedCall &call : SpiedDeviceCalls())
            lines.push_back(call.line);
        return lines;
    }
    static bool IsOpen(HANDLE handle)
    {
        DWORD flags = 0;
        return GetHandleInformation(handle, &flags) != 0;
    }
    HMODULE module = nullptr;
    Exports lib{};
};

TEST_F(RealDevices, ListeningHoldsAnOpenHandleToTheDeviceUntilStop)
{
    lib.StartListen("COM2");
    ASSERT_EQ(Lines(), std::vector<std::string>{"CreateFileA(\"COM2\", 0xC0000000, 0, NULL, 3, 0, NULL) -> h1"});
    const HANDLE held = SpiedDeviceCalls()[0].handle;
    EXPECT_TRUE(IsOpen(held));
    lib.StopListen();
    EXPECT_EQ(Lines().back(), "CloseHandle(h1) -> 1");
    EXPECT_EQ(SpiedDeviceCalls().back().handle, held);
    EXPECT_FALSE(IsOpen(held));
}

TEST_F(RealDevices, APortThatDoesNotExistStillListensAndIsClosedWithTheFailureValue)
{
    lib.StartListen("COM9;2F8h");
    StandInIoFunction<BYTE(WINAPI *)(WORD, BYTE)>("SimSetKey")(0x02F8, 1);
    EXPECT_EQ(lib.IsZBToggle(), 1);
    lib.StopListen();
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "CreateFileA(\"COM9\", 0xC0000000, 0, NULL, 3, 0, NULL) -> INVALID_HANDLE_VALUE",
                           "CloseHandle(INVALID_HANDLE_VALUE) -> 1"}));
}

} // namespace
