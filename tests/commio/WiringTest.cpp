// A mapping's wiring carried out by the comm-port io.dll core: the chosen
// line read as CTS with its delta bit, inverted if asked, debounced on the
// io.dll's own clock, to the millisecond across the clock's wrap; and a USB
// adapter found on whichever port it has now.
#include <functional>

#include "CommIoTest.h"
#include "CountingApi.h"
#include "commio/KeyWiring.h"

#include "testsupport/Allocations.h"

namespace {


struct LineCase {
    const char *name;
    const char *map;
    std::uint8_t lines;  // the device's input lines after a first read with none
    std::uint8_t msr;    // the modem status register read then
};

std::ostream &operator<<(std::ostream &os, const LineCase &c) { return os << c.name; }

class InputLine : public CommIoTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(InputLine, ReadsAsCtsWithItsDeltaOtherBitsAsTheyAre)
{
    Claimed(GetParam().map);
    LibrarySetUp(0x3F8);
    io.PortIn(kMsr); // levels and deltas start from here
    devices.Find("COM5")->inputs = GetParam().lines;
    EXPECT_EQ(io.PortIn(kMsr), GetParam().msr);
    // The poll's bit read, and a second register read: no delta left.
    EXPECT_EQ(io.GetPortBit(kMsr, 4), (GetParam().msr >> 4) & 1);
    EXPECT_EQ(io.PortIn(kMsr), GetParam().msr & 0xF0);
}

const LineCase kLines[] = {
    {"PlainCts", "any = COM5", ModemLine::Cts.Mask(), 0x11},
    {"CtsNamed", "any = COM5 line=CTS", ModemLine::Cts.Mask(), 0x11},
    {"Dsr", "any = COM5 line=DSR", ModemLine::Dsr.Mask(), 0x20 | 0x10 | 0x02 | 0x01},
    {"DsrHidesTheRealCts", "any = COM5 line=DSR", ModemLine::Cts.Mask(), 0x00},
    {"Dcd", "any = COM5 line=DCD", ModemLine::Dcd.Mask(), 0x80 | 0x10 | 0x08 | 0x01},
    {"Ri", "any = COM5 line=RI", ModemLine::Ri.Mask(), 0x40 | 0x10 | 0x01},
    {"AllLinesOnDcd", "any = COM5 line=DCD", 0xF0, 0xF0 | 0x08 | 0x02 | 0x01},
    {"InvertedCtsOpens", "any = COM5 invert", ModemLine::Cts.Mask(), 0x01},
    {"InvertedDsrOpens", "any = COM5 line=DSR invert", ModemLine::Dsr.Mask(), 0x20 | 0x02 | 0x01},
    {"InvertedDsrOthersOnly", "any = COM5 line=DSR invert", ModemLine::Cts.Mask() | ModemLine::Dcd.Mask(),
     0x80 | 0x10 | 0x08},
};
INSTANTIATE_TEST_SUITE_P(Table, InputLine, ::testing::ValuesIn(kLines),
                         [](const auto &row) { return std::string(row.param.name); });

// ---- Debounce --------------------------------------------------------------

struct Edge {
    std::uint32_t at; // ms
    bool level;       // the device line
};

struct BounceCase {
    const char *name;
    const char *map;
    ModemLine line;
    std::vector<Edge> edges;
    int presses;            // rising edges of the CTS bit polled every ms, as the library counts
    std::uint32_t firstAt;  // when the first was seen
};

std::ostream &operator<<(std::ostream &os, const BounceCase &c) { return os << c.name; }

class Debounce : public CommIoTest, public ::testing::WithParamInterface<BounceCase> {};

TEST_P(Debounce, CountsPressesAsAFingerMadeThem)
{
    Claimed(GetParam().map);
    LibrarySetUp(0x3F8);
    const BounceCase &c = GetParam();
    devices.SetRecording(false);
    std::size_t next = 0;
    bool last = io.GetPortBit(kMsr, 4) != 0;
    int presses = 0;
    std::uint32_t firstAt = 0;
    for (std::uint32_t t = 0; t < 1000; ++t) {
        while (next < c.edges.size() && c.edges[next].at == t)
            devices.SetInput("COM5", c.line, c.edges[next++].level);
        const bool cts = io.GetPortBit(kMsr, 4) != 0;
        if (cts && !last && presses++ == 0)
            firstAt = t;
        last = cts;
        devices.Advance(1);
    }
    EXPECT_EQ(presses, c.presses);
    EXPECT_EQ(firstAt, c.firstAt); // the first edge of a press passes at once
}

// A press at 100 whose contacts bounce 3 ms apart, closing and opening.
const std::vector<Edge> kBouncingPress = {{100, true},  {103, false}, {106, true}, {109, false},
                                          {112, true},  {300, false}, {302, true}, {305, false}};
// The same press of a normally closed key: the line rests high.
const std::vector<Edge> kBouncingPressLow = {{0, true},    {100, false}, {103, true}, {106, false}, {109, true},
                                             {112, false}, {300, true},  {302, false}, {305, true}};

const BounceCase kBounces[] = {
    {"BouncingPressIsOnePress", "any = COM5 debounce=20", ModemLine::Cts, kBouncingPress, 1, 100},
    {"WithoutDebounceItIsFour", "any = COM5", ModemLine::Cts, kBouncingPress, 4, 100},
    {"DoublePressTwoDebouncesApartIsTwo", "any = COM5 debounce=20", ModemLine::Cts,
     {{100, true}, {120, false}, {140, true}, {160, false}}, 2, 100},
    {"SecondPressWithinTheHoldIsLateNotLost", "any = COM5 debounce=20", ModemLine::Cts,
     {{100, true}, {105, false}, {130, true}, {200, false}}, 2, 100},
    {"TapShorterThanTheHoldIsOnePress", "any = COM5 debounce=50", ModemLine::Cts, {{100, true}, {104, false}}, 1, 100},
    {"LongestHold", "any = COM5 debounce=250", ModemLine::Cts,
     {{100, true}, {200, false}, {300, true}, {349, false}, {352, true}, {600, false}, {850, true}}, 2, 100},
    {"DsrInvertedBouncingPress", "any = COM5 line=DSR invert debounce=20", ModemLine::Dsr, kBouncingPressLow, 1, 100},
};
INSTANTIATE_TEST_SUITE_P(Table, Debounce, ::testing::ValuesIn(kBounces),
                         [](const auto &row) { return std::string(row.param.name); });

// The register read and the poll's bit read share one debounce: a delta bit
// is set once for the press, not for its bounces.
TEST_F(CommIoTest, DebouncedDeltaBitIsSetOncePerShownChange)
{
    Claimed("any = COM5 debounce=20");
    LibrarySetUp(0x3F8);
    io.PortIn(kMsr);
    devices.SetInput("COM5", ModemLine::Cts, true);
    EXPECT_EQ(io.PortIn(kMsr), 0x11);
    devices.Advance(3);
    devices.SetInput("COM5", ModemLine::Cts, false);
    EXPECT_EQ(io.GetPortBit(kMsr, 4), 1);
    devices.Advance(3);
    EXPECT_EQ(io.PortIn(kMsr), 0x10); // held off: no change, no delta
    devices.Advance(14);
    EXPECT_EQ(io.PortIn(kMsr), 0x01); // 20 ms on: the release shows
}

TEST_F(CommIoTest, WiredPollsAllocateNothingAndCallTheDeviceOnce)
{
    Claimed("any = COM5 line=DSR invert debounce=20");
    LibrarySetUp(0x3F8);
    devices.SetRecording(false);
    const std::uint64_t calls = devices.ModemStatusCalls();
    const long before = testsupport::AllocationCount();
    for (int i = 0; i < 1000; ++i) {
        devices.SetInput("COM5", ModemLine::Dsr, i % 7 == 0);
        devices.Advance(1);
        if (io.IsDriverInstalled())
            io.GetPortBit(kMsr, 4);
    }
    EXPECT_EQ(testsupport::AllocationCount() - before, 0);
    EXPECT_EQ(devices.ModemStatusCalls() - calls, 1000u);
}

// ---- The adapter found again -----------------------------------------------

const char *const kAdapter = "USB\\VID_0403&PID_6001\\A1B2C3";

class Adapter : public CommIoTest {
protected:
    bool Poll()
    {
        return io.IsDriverInstalled() && io.GetPortBit(kMsr, 4);
    }
};

TEST_F(Adapter, RenumberedByWindowsIsFoundOnItsNewPort)
{
    devices.PlugAdapter("COM5", kAdapter);
    devices.PlugAdapter("COM6", "USB\\VID_0403&PID_6001\\OTHER1");
    Map("any = usb=0403:6001:A1B2C3 COM5");
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"ListPorts -> COM5 COM6", "CreateFile(\"\\\\.\\COM5\") -> c1",
                              "SetCommState(c1, dtr off, rts off)"}));
    EXPECT_STREQ(io.Status(), "usb=0403:6001:A1B2C3 on COM5 for any UART: held");
    LibrarySetUp(0x3F8);

    // Pulled out and plugged into another socket: Windows calls it COM9.
    devices.Unplug("COM5");
    EXPECT_FALSE(Poll());
    devices.PlugAdapter("COM9", kAdapter);
    devices.Plug("COM5"); // and something else took COM5
    devices.Advance(commio::CommIo::RetryIntervalMs);
    Taken();
    EXPECT_EQ(io.IsDriverInstalled(), 1);
    const Calls calls = Taken();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "ListPorts -> COM6 COM9");
    EXPECT_EQ(calls[1], "CreateFile(\"\\\\.\\COM9\") -> c2");
    EXPECT_STREQ(io.Status(), "usb=0403:6001:A1B2C3 on COM9 for any UART: held");
    EXPECT_FALSE(devices.Find("COM5")->held);
    EXPECT_TRUE(devices.Find("COM9")->rts); // the library's set-up carried to the new port
    EXPECT_EQ(devices.Find("COM9")->settings.BaudRate, 2400u);
    devices.SetInput("COM9", ModemLine::Cts, true);
    EXPECT_TRUE(Poll());
}

// Unplugged, an adapter is looked for in the system's port list less and
// less often, never less than once per MaxAdapterRetryMs, and found within
// that long of being plugged in again; held, then lost once more, it is
// looked for soon again.
TEST_F(Adapter, AMissingAdapterIsLookedForLessOftenYetFoundSoon)
{
    constexpr std::uint32_t PollMs = 10, Minute = 60000, Longest = commio::CommIo::MaxAdapterRetryMs;
    devices.PlugAdapter("COM5", kAdapter);
    Map("any = usb=0403:6001:A1B2C3");
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    LibrarySetUp(0x3F8);
    // Polls every 10 ms until `enough` says so or `limitMs` is up; the
    // times of the port lists they made, from the first poll.
    const auto pollFor = [&](std::uint32_t limitMs, const std::function<bool()> &enough) {
        std::vector<std::uint32_t> listedAt;
        Taken();
        for (std::uint32_t ms = 0; ms < limitMs && !enough(); ms += PollMs) {
            Poll();
            for (const std::string &call : Taken())
                if (call.rfind("ListPorts", 0) == 0)
                    listedAt.push_back(ms);
            devices.Advance(PollMs);
        }
        return listedAt;
    };

    devices.Unplug("COM5");
    const std::vector<std::uint32_t> listed = pollFor(Minute, [] { return false; });
    ASSERT_GE(listed.size(), 2u);
    EXPECT_LE(listed.size(), 20u) << "port lists in a minute unplugged (twice a second would be 120)";
    EXPECT_EQ(listed[0], commio::CommIo::RetryIntervalMs) << "the first look comes as soon as ever";
    for (std::size_t i = 1; i < listed.size(); ++i) {
        EXPECT_LE(listed[i] - listed[i - 1], Longest) << "look " << i;
        if (i >= 2) {
            EXPECT_GE(listed[i] - listed[i - 1], listed[i - 1] - listed[i - 2]) << "look " << i;
        }
    }

    devices.PlugAdapter("COM7", kAdapter); // back, under another number
    std::uint32_t foundAfter = 0;
    pollFor(2 * Longest, [&] {
        foundAfter += PollMs;
        return devices.Find("COM7")->held;
    });
    EXPECT_TRUE(devices.Find("COM7")->held);
    EXPECT_LE(foundAfter, Longest + PollMs) << "ms from the plug-in to the claim";

    devices.Unplug("COM7");
    const std::vector<std::uint32_t> again = pollFor(Longest, [] { return false; });
    ASSERT_FALSE(again.empty());
    EXPECT_EQ(again[0], commio::CommIo::RetryIntervalMs) << "held in between: the first look comes soon again";
}

struct Fallback {
    const char *name;
    const char *map;
    std::vector<std::pair<const char *, const char *>> plugged; // name, instance ID ("" for none)
    bool listed;
    std::uint32_t listFailure;
    const char *opened; // device held after the claim, or null
    const char *status;
};

std::ostream &operator<<(std::ostream &os, const Fallback &f) { return os << f.name; }

class AdapterFallback : public CommIoTest, public ::testing::WithParamInterface<Fallback> {};

TEST_P(AdapterFallback, OpensWhatIsSafeAndSaysWhy)
{
    const Fallback &f = GetParam();
    for (const auto &device : f.plugged)
        if (*device.second)
            devices.PlugAdapter(device.first, device.second);
        else
            devices.Plug(device.first);
    devices.SetPortList(f.listed, f.listFailure);
    Map(f.map);
    EXPECT_EQ(io.IsDriverInstalled(), f.opened ? 1 : 0);
    for (const auto &device : f.plugged)
        EXPECT_EQ(devices.Find(device.first)->held, f.opened && std::string(f.opened) == device.first) << device.first;
    EXPECT_STREQ(io.Status(), f.status);
}

const Fallback kFallbacks[] = {
    {"NothingListedUsesTheComName", "any = usb=0403:6001:A1B2C3 COM5", {{"COM5", ""}}, false, 0, "COM5",
     "usb=0403:6001:A1B2C3 (no ports listed, so COM5) for any UART: held"},
    {"ListFailsUsesTheComName", "any = COM5 usb=0403:6001:A1B2C3", {{"COM5", kAdapter}}, true, 1168, "COM5",
     "usb=0403:6001:A1B2C3 (the ports can't be listed, error 1168, so COM5) for any UART: held"},
    {"NothingListedNoComName", "any = usb=0403:6001:A1B2C3", {{"COM5", kAdapter}}, false, 0, nullptr,
     "usb=0403:6001:A1B2C3 (no ports listed) for any UART: not held; retrying"},
    {"NotPluggedInNoComName", "any = usb=0403:6001:A1B2C3", {{"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}}, true, 0,
     nullptr, "usb=0403:6001:A1B2C3 (no port carries it) for any UART: not held; retrying"},
    {"NotPluggedInComNameUnlisted", "any = usb=0403:6001:A1B2C3 COM5",
     {{"COM5", ""}, {"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}}, true, 0, "COM5",
     "usb=0403:6001:A1B2C3 (no port carries it, so COM5) for any UART: held"},
    {"ComNameIsAnotherDeviceNow", "any = usb=0403:6001:A1B2C3 COM5", {{"COM5", "USB\\VID_2341&PID_0043\\99"}}, true,
     0, nullptr, "usb=0403:6001:A1B2C3 (no port carries it; COM5 is another device) for any UART: not held; retrying"},
    {"TwoAdaptersWithoutSerial", "any = usb=0403:6001",
     {{"COM5", kAdapter}, {"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}}, true, 0, nullptr,
     "usb=0403:6001 (2 ports carry it: give its serial number) for any UART: not held; retrying"},
    {"TwoAdaptersOneIsTheComName", "any = usb=0403:6001 COM6",
     {{"COM5", kAdapter}, {"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}}, true, 0, "COM6",
     "usb=0403:6001 (2 ports carry it: give its serial number, so COM6) for any UART: held"},
    {"WiringInTheStatus", "3F8 = usb=0403:6001:a1b2c3 line=DSR invert debounce=20", {{"COM7", kAdapter}}, true, 0,
     "COM7", "usb=0403:6001:a1b2c3 on COM7 for 03F8h (key line DSR inverted, debounce 20 ms): held"},
};
INSTANTIATE_TEST_SUITE_P(Table, AdapterFallback, ::testing::ValuesIn(kFallbacks),
                         [](const auto &row) { return std::string(row.param.name); });

// Maps without an adapter never ask for the list.
TEST_F(Adapter, PlainMapsDoNotListPorts)
{
    devices.PlugAdapter("COM5", kAdapter);
    Map("any = COM5 line=DSR");
    ASSERT_EQ(io.IsDriverInstalled(), 1);
    EXPECT_EQ(Taken(), (Calls{"CreateFile(\"\\\\.\\COM5\") -> c1", "SetCommState(c1, dtr off, rts off)"}));
}

// ---- The debounce and its clock ------------------------------------------------

commio::PortMapping Mapping(const char *text)
{
    const commio::PortMapResult map = commio::ParsePortMap(text);
    EXPECT_EQ(map.error, "") << text;
    return map.uarts.empty() ? commio::PortMapping{} : map.uarts[0];
}

struct Hold {
    const char *name;
    std::uint8_t debounce; // ms
    std::uint32_t start;   // the clock when the press is shown
};

std::ostream &operator<<(std::ostream &os, const Hold &h) { return os << h.name; }

// A key on CTS, the CTS bit as shown; the clock the simulated devices'.
class Wiring : public ::testing::Test {
protected:
    int Key(bool down)
    {
        constexpr std::uint8_t cts = uart::ModemLine::Cts.Mask();
        return (wiring.Apply(down ? cts : 0, clock) & cts) ? 1 : 0;
    }

    sim::ComDevices devices;
    CountingApi clock{devices};
    commio::KeyWiring wiring;
};

class DebounceHold : public Wiring, public ::testing::WithParamInterface<Hold> {};

TEST_P(DebounceHold, HoldsOffForItsTimeToTheMillisecondAcrossTheWrap)
{
    const std::uint32_t hold = GetParam().debounce;
    wiring.Configure(Mapping(("any = COM5 debounce=" + std::to_string(hold)).c_str()));
    devices.Advance(GetParam().start);
    EXPECT_EQ(Key(true), 1) << "shown at once";
    devices.Advance(hold - 1);
    EXPECT_EQ(Key(false), 1) << "a millisecond short of the hold";
    devices.Advance(1);
    EXPECT_EQ(Key(false), 0);
    devices.Advance(hold - 1);
    EXPECT_EQ(Key(true), 0) << "the next press, as long after the release";
    devices.Advance(1);
    EXPECT_EQ(Key(true), 1);
    devices.Advance(hold);
    EXPECT_EQ(Key(true), 1); // quiet for a whole hold: the next change passes at once
    EXPECT_EQ(Key(false), 0);
}

const Hold kHolds[] = {
    {"FromZero", 20, 0},
    {"WrapWhileHeld", 20, 0xFFFFFFF8u},
    {"WrapAtTheHoldsEnd", 20, 0xFFFFFFECu},
    {"PressAtTheLastTick", 20, 0xFFFFFFFFu},
    {"Shortest", 1, 1000},
    {"ShortestAcrossTheWrap", 1, 0xFFFFFFFFu},
    {"Longest", 250, 0xFFFFFF80u},
};
INSTANTIATE_TEST_SUITE_P(Table, DebounceHold, ::testing::ValuesIn(kHolds),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(Wiring, ConfiguredAgainItHoldsNothingBack)
{
    wiring.Configure(Mapping("any = COM5 debounce=20"));
    EXPECT_EQ(Key(true), 1);
    devices.Advance(5);
    wiring.Configure(Mapping("any = COM5 debounce=20"));
    EXPECT_EQ(Key(false), 0);
}

TEST_F(Wiring, ReadsTheClockOnlyWhileAChangeIsHeldOff)
{
    wiring.Configure(Mapping("any = COM5 invert"));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Key(i % 2 == 0), i % 2);
    EXPECT_EQ(clock.clockReads, 0u) << "no debounce, no clock";

    wiring.Configure(Mapping("any = COM5 line=CTS debounce=20"));
    for (int i = 0; i < 10; ++i)
        Key(false);
    EXPECT_EQ(clock.clockReads, 0u) << "nothing changed yet";
    Key(true);
    for (int ms = 0; ms < 20; ++ms) {
        devices.Advance(1);
        Key(true);
    }
    clock.clockReads = 0;
    for (int i = 0; i < 10; ++i) {
        devices.Advance(1);
        EXPECT_EQ(Key(true), 1);
    }
    EXPECT_EQ(clock.clockReads, 0u) << "quiet since the hold ended";
}

} // namespace
