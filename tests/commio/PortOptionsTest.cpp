// The port map's options and USB identities at their edges: option words and
// units in any case, serial numbers at the length limit and one past, at the
// edges of the characters they may hold, and as prefixes of one another; an
// adapter listed at the top of the COM range and one past; the key line's
// name in the status text; and the debounce on a wrapping clock, which it
// reads only while a change is held off.
#include <string>

#include "CommIoTest.h"
#include "CountingApi.h"
#include "commio/AdapterLookup.h"
#include "commio/KeyWiring.h"

namespace {

using commio::ParsePortMap;

// ---- Option words and units, in any case --------------------------------------

struct Spelling {
    const char *name;
    std::string text;
    std::string reads; // the mapping as the key tester writes it back
};

std::ostream &operator<<(std::ostream &os, const Spelling &s) { return os << s.name; }

class OptionSpelling : public ::testing::TestWithParam<Spelling> {};

TEST_P(OptionSpelling, ReadsAsTheKeyTesterWritesIt)
{
    const commio::PortMapResult map = ParsePortMap(GetParam().text);
    ASSERT_EQ(map.error, "");
    ASSERT_EQ(map.uarts.size(), 1u);
    EXPECT_EQ(commio::FormatMapping(map.uarts[0]), GetParam().reads);
}

const std::string kSerial32 = "A1234567890123456789012345678901";

const Spelling kSpellings[] = {
    {"InvertInCapitals", "any = COM5 INVERT", "any = COM5 invert"},
    {"InvertCapitalised", "any = COM5 Invert", "any = COM5 invert"},
    {"DebounceInCapitals", "any = COM5 DEBOUNCE=20", "any = COM5 debounce=20"},
    {"UnitInCapitals", "any = COM5 Debounce=20MS", "any = COM5 debounce=20"},
    {"UnitMixedOneDigit", "any = COM5 debounce=5Ms", "any = COM5 debounce=5"},
    {"UnitMixedAtTheLimit", "any = COM5 debounce=250mS", "any = COM5 debounce=250"},
    {"ZeroWithUnitIsNone", "any = COM5 debounce=0ms", "any = COM5"},
    {"DebounceDigitsAtBothEnds", "any = COM5 debounce=109", "any = COM5 debounce=109"},
    {"LineWordCapitalised", "any = COM5 Line=dsr", "any = COM5 line=DSR"},
    {"RiMixed", "any = COM5 line=rI", "any = COM5 line=RI"},
    {"CtsLowerIsPlain", "any = COM5 line=cts", "any = COM5"},
    {"UsbInCapitals", "any = USB=0403:6001:A1 COM5", "any = COM5 usb=0403:6001:A1"},
    {"UsbCapitalisedHexInBothCases", "any = Usb=af09:FA90", "any = usb=AF09:FA90"},
    {"UsbOneDigitIds", "any = usb=0:1", "any = usb=0000:0001"},
    {"SerialAtTheLengthLimit", "any = usb=0403:6001:" + kSerial32, "any = usb=0403:6001:" + kSerial32},
    {"SerialEdgesOfEveryCharacterClass", "any = usb=0403:6001:09AZaz_-.", "any = usb=0403:6001:09AZaz_-."},
};
INSTANTIATE_TEST_SUITE_P(Table, OptionSpelling, ::testing::ValuesIn(kSpellings),
                         [](const auto &row) { return std::string(row.param.name); });

struct Refused {
    const char *name;
    std::string text;
    std::string error;
};

std::ostream &operator<<(std::ostream &os, const Refused &r) { return os << r.name; }

std::string Unreadable(const std::string &shown)
{
    return "USB identity '" + shown +
           "' unreadable; write usb=VID:PID:SERIAL in hexadecimal IDs, such as usb=0403:6001:A1B2C3";
}

class RefusedOption : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedOption, SaysWhy)
{
    const commio::PortMapResult map = ParsePortMap(GetParam().text);
    EXPECT_EQ(map.error, GetParam().error);
    EXPECT_EQ(map.errorLine, 1);
    EXPECT_TRUE(map.uarts.empty());
}

const Refused kRefused[] = {
    {"SerialOnePastTheLimit", "any = usb=0403:6001:" + kSerial32 + "2", Unreadable("0403:6001:A1234567890123...")},
    {"ShownWholeAtTwentyFourCharacters", "any = usb=0403:6001:ABCDEFGHIJKLM/", Unreadable("0403:6001:ABCDEFGHIJKLM/")},
    {"ShortenedAtTwentyFive", "any = usb=0403:6001:ABCDEFGHIJKLMN/", Unreadable("0403:6001:ABCDEFGHIJKLMN...")},
    {"NoVendor", "any = usb=:6001", Unreadable(":6001")},
    {"NoProduct", "any = usb=0403:", Unreadable("0403:")},
    {"NoProductBeforeTheSerial", "any = usb=0403::A1", Unreadable("0403::A1")},
    {"FiveDigitProduct", "any = usb=0403:60011:A1", Unreadable("0403:60011:A1")},
    {"DebounceTwice", "any = COM5 debounce=1 debounce=2", "option 'debounce' given twice"},
    {"DebounceTwiceOtherCase", "any = COM5 DEBOUNCE=1 debounce=1", "option 'debounce' given twice"},
    {"LineTwiceOtherCase", "any = COM5 LINE=DSR line=DSR", "option 'line' given twice"},
    {"InvertTwiceOtherCase", "any = COM5 Invert INVERT", "option 'invert' given twice"},
    {"UsbTwiceOtherCase", "any = usb=0403:6001:A USB=0403:6001:B", "option 'usb' given twice"},
    {"InvertInCapitalsWithValue", "any = COM5 INVERT=yes", "'invert' takes no value"},
    {"DebounceOnePastWithUnit", "any = COM5 debounce=251ms", "debounce '251ms' is not 0 to 250 milliseconds"},
    {"JustTheNamespacePrefix", "any = \\\\.\\", "unknown device '\\\\.\\'; use COM1 to COM256 or a \\\\.\\ name"},
    {"QuoteInANamespaceName", "any = \\\\.\\A\"B", "unknown device '\\\\.\\A\"B'; use COM1 to COM256 or a \\\\.\\ name"},
};
INSTANTIATE_TEST_SUITE_P(Table, RefusedOption, ::testing::ValuesIn(kRefused),
                         [](const auto &row) { return std::string(row.param.name); });

// Each character just outside the ranges a part may hold.
TEST(UsbIdentity, CharactersNextToTheAllowedRangesAreRefused)
{
    for (const char c : std::string("/:@[`{,+&")) {
        const std::string serial = std::string("A") + c + "1";
        EXPECT_EQ(ParsePortMap("any = usb=0403:6001:" + serial).error, Unreadable("0403:6001:" + serial)) << c;
    }
    for (const char c : std::string("/@G`g")) {
        const std::string ids = std::string("04") + c + "3:6001";
        EXPECT_EQ(ParsePortMap("any = usb=" + ids).error, Unreadable(ids)) << c;
    }
}

// Two lines name the same adapter only when vendor, product and the whole
// serial number agree.
TEST(UsbIdentity, AdaptersThatDifferInAnyPartAreTwo)
{
    for (const char *second : {"usb=0404:6001:A1", "usb=0403:6015:A1", "usb=0403:6001:A12", "usb=0403:6001:A"}) {
        const commio::PortMapResult map = ParsePortMap(std::string("3F8 = usb=0403:6001:A1\n2F8 = ") + second);
        EXPECT_EQ(map.error, "") << second;
        EXPECT_EQ(map.uarts.size(), 2u) << second;
    }
}

// ---- Instance IDs whose serial number begins like the mapping's --------------

struct Prefix {
    const char *id;
    const char *serial; // the mapping's
    bool matches;
};

std::ostream &operator<<(std::ostream &os, const Prefix &p) { return os << p.id << " for " << p.serial; }

class SerialPrefix : public ::testing::TestWithParam<Prefix> {};

TEST_P(SerialPrefix, MatchesOnlyTheAdapterOrOneOfItsPorts)
{
    EXPECT_EQ(commio::InstanceIdMatches(GetParam().id, {0x0403, 0x6001, GetParam().serial}), GetParam().matches);
}

const Prefix kPrefixes[] = {
    // A port's letter after the serial number: one letter, A to Z in either case.
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3Z\\0000", "A1B2C3", true},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3a\\0000", "A1B2C3", true},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3z\\0000", "A1B2C3", true},
    {"SERIALBUS\\VID_0403+PID_6001+a1b2c3B\\0000", "A1B2C3", true},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3@\\0000", "A1B2C3", false},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3[\\0000", "A1B2C3", false},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3`\\0000", "A1B2C3", false},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3{\\0000", "A1B2C3", false},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3AB\\0000", "A1B2C3", false},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3\\0000", "A1B2C", false}, // ends in a digit: no letter
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3A\\0000", "A1B2C3B", false},
    // The USB form carries no letter: the whole serial number, or nothing.
    {"USB\\VID_0403&PID_6001\\A1B2C3", "A1B2C", false},
    {"USB\\VID_0403&PID_6001\\a1234567890123456789012345678901", "A1234567890123456789012345678901", true},
    {"USB\\VID_0403&PID_6001\\A12345678901234567890123456789012", "A1234567890123456789012345678901", false},
    // Windows's own instance part, on a port's bus or another bus: no serial number.
    {"SERIALBUS\\VID_0403+PID_6001+5&2A3B&0&2\\0000", "5", false},
    {"SERIALBUS\\VID_0403+PID_6001+5&2A3B&0&2\\0000", "", true},
    {"HID\\VID_0403&PID_6001\\A1B2C3", "A1B2C3", false},
    // Serial numbers compare in any case, to the ends of the alphabet.
    {"USB\\VID_0403&PID_6001\\az", "AZ", true},
    {"USB\\VID_0403&PID_6001\\AZ", "az", true},
    // Vendor and product alone, with nothing after them.
    {"USB\\VID_0403&PID_6001", "", true},
    {"USB\\VID_0403&PID_6001", "A1B2C3", false},
};
INSTANTIATE_TEST_SUITE_P(Table, SerialPrefix, ::testing::ValuesIn(kPrefixes));

// ---- Adapters found through the port list -------------------------------------

const char *const kAdapter = "USB\\VID_0403&PID_6001\\A1B2C3";
const char *const kNotCarried = "usb=0403:6001:A1B2C3 (no port carries it) for any UART: not held; retrying";

struct Listed {
    const char *name;
    const char *map;
    std::vector<std::pair<const char *, const char *>> ports; // PortName, instance ID ("": not listed)
    const char *held;                                          // the device held, or null
    const char *status;
};

std::ostream &operator<<(std::ostream &os, const Listed &l) { return os << l.name; }

class ListedAdapter : public CommIoTest, public ::testing::WithParamInterface<Listed> {};

TEST_P(ListedAdapter, IsHeldOnlyOnAPortItCanBe)
{
    for (const auto &port : GetParam().ports)
        if (*port.second)
            devices.PlugAdapter(port.first, port.second);
        else
            devices.Plug(port.first); // not listed
    Map(GetParam().map);
    EXPECT_EQ(io.IsDriverInstalled(), GetParam().held ? 1 : 0);
    for (const auto &port : GetParam().ports)
        EXPECT_EQ(devices.Find(port.first)->held, GetParam().held && std::string(GetParam().held) == port.first)
            << port.first;
    EXPECT_STREQ(io.Status(), GetParam().status);
}

const Listed kListed[] = {
    {"OnCom9", "any = usb=0403:6001:A1B2C3", {{"COM9", kAdapter}}, "COM9",
     "usb=0403:6001:A1B2C3 on COM9 for any UART: held"},
    {"OnCom256", "any = usb=0403:6001:A1B2C3", {{"COM256", kAdapter}}, "COM256",
     "usb=0403:6001:A1B2C3 on COM256 for any UART: held"},
    {"OnCom257", "any = usb=0403:6001:A1B2C3", {{"COM257", kAdapter}}, nullptr, kNotCarried},
    {"OnCom1000", "any = usb=0403:6001:A1B2C3", {{"COM1000", kAdapter}}, nullptr, kNotCarried},
    {"OnCom05", "any = usb=0403:6001:A1B2C3", {{"COM05", kAdapter}}, nullptr, kNotCarried},
    {"OnCom0", "any = usb=0403:6001:A1B2C3", {{"COM0", kAdapter}}, nullptr, kNotCarried},
    {"OnAPortWithoutANumber", "any = usb=0403:6001:A1B2C3", {{"COM", kAdapter}}, nullptr, kNotCarried},
    {"OnAPrinterPort", "any = usb=0403:6001:A1B2C3", {{"LPT1", kAdapter}}, nullptr, kNotCarried},
    {"BesideAnotherWhoseSerialItBegins", "any = usb=0403:6001:A1B2C3",
     {{"COM5", "USB\\VID_0403&PID_6001\\A1B2C34"}, {"COM6", kAdapter}}, "COM6",
     "usb=0403:6001:A1B2C3 on COM6 for any UART: held"},
    {"ALongerSerialIsAnotherAdapter", "any = usb=0403:6001:A1B2C34", {{"COM6", kAdapter}}, nullptr,
     "usb=0403:6001:A1B2C34 (no port carries it) for any UART: not held; retrying"},
    {"OnePortOfATwoPortAdapter", "any = usb=0403:6001:A1B2C3B",
     {{"COM5", "SERIALBUS\\VID_0403+PID_6001+A1B2C3A\\0000"}, {"COM6", "SERIALBUS\\VID_0403+PID_6001+A1B2C3B\\0000"}},
     "COM6", "usb=0403:6001:A1B2C3B on COM6 for any UART: held"},
    {"ComNameBesideIsNotAmongSeveral", "any = usb=0403:6001 COM7",
     {{"COM5", kAdapter}, {"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}, {"COM7", "USB\\VID_2341&PID_0043\\99"}}, nullptr,
     "usb=0403:6001 (2 ports carry it: give its serial number) for any UART: not held; retrying"},
    {"ComNameBesideIsAPrefixOfAnother", "any = usb=0403:6001:A1B2C3 COM5",
     {{"COM5", ""}, {"COM56", "USB\\VID_2341&PID_0043\\99"}}, "COM5",
     "usb=0403:6001:A1B2C3 (no port carries it, so COM5) for any UART: held"},
    // The COM name beside listed before the other ports: what is found there still counts.
    {"ComNameBesideIsFirstAmongSeveral", "any = usb=0403:6001 COM5",
     {{"COM5", kAdapter}, {"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}}, "COM5",
     "usb=0403:6001 (2 ports carry it: give its serial number, so COM5) for any UART: held"},
    {"ComNameBesideIsAnotherDeviceListedFirst", "any = usb=0403:6001:A1B2C3 COM5",
     {{"COM5", "USB\\VID_2341&PID_0043\\99"}, {"COM6", "USB\\VID_0403&PID_6001\\ZZZ"}}, nullptr,
     "usb=0403:6001:A1B2C3 (no port carries it; COM5 is another device) for any UART: not held; retrying"},
};
INSTANTIATE_TEST_SUITE_P(Table, ListedAdapter, ::testing::ValuesIn(kListed),
                         [](const auto &row) { return std::string(row.param.name); });

// More ports than the count holds: still several, never none.
TEST_F(CommIoTest, TwoHundredAndFiftySixPortsCarryingTheAdapterAreSeveral)
{
    for (int n = 1; n <= 256; ++n)
        devices.PlugAdapter("COM" + std::to_string(n), "USB\\VID_0403&PID_6001\\S" + std::to_string(n));
    devices.SetRecording(false);
    Map("any = usb=0403:6001");
    EXPECT_EQ(io.IsDriverInstalled(), 0);
    EXPECT_STREQ(io.Status(),
                 "usb=0403:6001 (255 ports carry it: give its serial number) for any UART: not held; retrying");
}

// ---- The key line's name in the status text -----------------------------------

struct Named {
    const char *name;
    const char *map;
    const char *status;
};

std::ostream &operator<<(std::ostream &os, const Named &n) { return os << n.name; }

class KeyLineInTheStatus : public CommIoTest, public ::testing::WithParamInterface<Named> {};

TEST_P(KeyLineInTheStatus, IsNamedWithItsWiring)
{
    Map(GetParam().map);
    EXPECT_STREQ(io.Status(), GetParam().status);
}

const Named kNamed[] = {
    {"Dsr", "any = COM5 line=DSR", "COM5 for any UART (key line DSR): opens at the first IsDriverInstalled"},
    {"Dcd", "3F8 = COM5 line=DCD", "COM5 for 03F8h (key line DCD): opens at the first IsDriverInstalled"},
    {"Ri", "any = COM5 line=RI", "COM5 for any UART (key line RI): opens at the first IsDriverInstalled"},
    {"CtsInverted", "any = COM5 invert", "COM5 for any UART (key line CTS inverted): opens at the first IsDriverInstalled"},
    {"CtsDebounced", "any = COM5 debounce=250",
     "COM5 for any UART (key line CTS, debounce 250 ms): opens at the first IsDriverInstalled"},
    {"RiInvertedDebounced", "any = COM5 line=RI invert debounce=1",
     "COM5 for any UART (key line RI inverted, debounce 1 ms): opens at the first IsDriverInstalled"},
    {"PlainCtsSaysNothing", "any = COM5 line=CTS debounce=0", "COM5 for any UART: opens at the first IsDriverInstalled"},
};
INSTANTIATE_TEST_SUITE_P(Table, KeyLineInTheStatus, ::testing::ValuesIn(kNamed),
                         [](const auto &row) { return std::string(row.param.name); });

// ---- The debounce and its clock ------------------------------------------------

commio::PortMapping Mapping(const char *text)
{
    const commio::PortMapResult map = ParsePortMap(text);
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
    int Key(bool down) { return (wiring.Apply(down ? commio::ModemCts : 0, clock) & commio::ModemCts) ? 1 : 0; }

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
