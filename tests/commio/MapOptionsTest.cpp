// Options on a mapping line: what they read as, a clear word with the line
// number for what they don't, and a mapping written back as a line that
// reads the same.
#include <gtest/gtest.h>

#include "commio/PortMap.h"

namespace {

using commio::KeyLine;
using commio::ParsePortMap;
using commio::PortMapping;

// The wiring and identity of a mapping, for comparing: "DSR invert 20 usb=0403:6001:A1B2C3 \\.\COM5".
std::string Options(const PortMapping &m)
{
    const char *line = m.input == KeyLine::Cts   ? "CTS"
                       : m.input == KeyLine::Dsr ? "DSR"
                       : m.input == KeyLine::Dcd ? "DCD"
                                                 : "RI";
    std::string out = std::string(line) + (m.invert ? " invert " : " ") + std::to_string(m.debounceMs);
    if (m.hasUsb)
        out += " usb=" + commio::FormatUsbIdentity(m.usb);
    return out + (m.path.empty() ? "" : " " + m.path);
}

struct Good {
    const char *name;
    const char *text;
    std::string options;
};

std::ostream &operator<<(std::ostream &os, const Good &g) { return os << g.name; }

class GoodOptions : public ::testing::TestWithParam<Good> {};

TEST_P(GoodOptions, Read)
{
    const commio::PortMapResult map = ParsePortMap(GetParam().text);
    ASSERT_EQ(map.error, "");
    ASSERT_EQ(map.uarts.size(), 1u);
    EXPECT_EQ(Options(map.uarts[0]), GetParam().options);
}

const Good kGood[] = {
    {"NoneIsPlainCts", "any = COM5", "CTS 0 \\\\.\\COM5"},
    {"EachLine", "any = COM5 line=DSR", "DSR 0 \\\\.\\COM5"},
    {"Dcd", "any = COM5 line=dcd", "DCD 0 \\\\.\\COM5"},
    {"Ri", "any = COM5 LINE=Ri", "RI 0 \\\\.\\COM5"},
    {"CtsNamed", "any = COM5 line=CTS", "CTS 0 \\\\.\\COM5"},
    {"AllThreeTabsAndComment", "3F8 = com5\tline=DSR  invert\tdebounce=20 # pedal", "DSR invert 20 \\\\.\\COM5"},
    {"OptionsBeforeTheDevice", "any = invert debounce=250 COM12", "CTS invert 250 \\\\.\\COM12"},
    {"DebounceZeroAndMs", "any = COM5 debounce=0", "CTS 0 \\\\.\\COM5"},
    {"DebounceInMs", "any = COM5 debounce=15ms", "CTS 15 \\\\.\\COM5"},
    {"AdapterAlone", "any = usb=0403:6001:A1B2C3", "CTS 0 usb=0403:6001:A1B2C3"},
    {"AdapterBesideAComName", "any = usb=403:6001:a1b2c3 COM5 line=DSR", "DSR 0 usb=0403:6001:a1b2c3 \\\\.\\COM5"},
    {"AdapterWithoutSerial", "any = usb=1a86:7523", "CTS 0 usb=1A86:7523"},
};
INSTANTIATE_TEST_SUITE_P(Table, GoodOptions, ::testing::ValuesIn(kGood),
                         [](const auto &row) { return std::string(row.param.name); });

struct Bad {
    const char *name;
    const char *text;
    int line;
    std::string error;
};

std::ostream &operator<<(std::ostream &os, const Bad &b) { return os << b.name; }

std::string Unreadable(const char *identity)
{
    return std::string("USB identity '") + identity +
           "' unreadable; write usb=VID:PID:SERIAL in hexadecimal IDs, such as usb=0403:6001:A1B2C3";
}

class BadOptions : public ::testing::TestWithParam<Bad> {};

TEST_P(BadOptions, AreRefusedWithTheLineAndWhy)
{
    const commio::PortMapResult map = ParsePortMap(GetParam().text);
    EXPECT_EQ(map.error, GetParam().error);
    EXPECT_EQ(map.errorLine, GetParam().line);
    EXPECT_TRUE(map.uarts.empty());
}

const Bad kBad[] = {
    {"UnknownLine", "# pedal\nany = COM5 line=RTS", 2, "input line 'RTS' unknown; use line=CTS, DSR, DCD or RI"},
    {"EmptyLine", "any = COM5 line=", 1, "input line '' unknown; use line=CTS, DSR, DCD or RI"},
    {"DebounceTooLong", "any = COM5 debounce=251", 1, "debounce '251' is not 0 to 250 milliseconds"},
    {"DebounceNegative", "any = COM5 debounce=-1", 1, "debounce '-1' is not 0 to 250 milliseconds"},
    {"DebounceFourDigits", "any = COM5 debounce=0020", 1, "debounce '0020' is not 0 to 250 milliseconds"},
    {"DebounceSeconds", "any = COM5 debounce=1s", 1, "debounce '1s' is not 0 to 250 milliseconds"},
    {"DebounceEmpty", "any = COM5 debounce=", 1, "debounce '' is not 0 to 250 milliseconds"},
    {"InvertWithValue", "any = COM5 invert=yes", 1, "'invert' takes no value"},
    {"LineTwice", "any = COM5 line=DSR line=DCD", 1, "option 'line' given twice"},
    {"InvertTwice", "any = COM5 invert invert", 1, "option 'invert' given twice"},
    {"UnknownOption", "any = COM5 pull=up", 1,
     "unknown option 'pull=up'; the options are line=CTS|DSR|DCD|RI, invert, debounce=MS, usb=VID:PID:SERIAL"},
    {"SecondDeviceAfterOptions", "any = COM5 invert COM6", 1, "one device per line, not 'COM5 invert COM6'"},
    {"UnknownDeviceAmongOptions", "any = invert LPT1", 1,
     "unknown device 'LPT1'; use COM1 to COM256 or a \\\\.\\ name"},
    {"OnlyOptions", "any = line=DSR invert", 1,
     "no device among the options; name one such as COM3, or an adapter as usb=VID:PID:SERIAL"},
    {"UsbOneId", "any = usb=0403", 1,
     Unreadable("0403")},
    {"UsbLongId", "any = usb=10403:6001:X", 1,
     Unreadable("10403:6001:X")},
    {"UsbEmptySerial", "any = usb=0403:6001:", 1,
     Unreadable("0403:6001:")},
    {"UsbSerialWithBackslash", "any = usb=0403:6001:A\\B", 1,
     Unreadable("0403:6001:A\\B")},
    {"UsbTwice", "any = usb=0403:6001:A usb=0403:6001:B", 1, "option 'usb' given twice"},
    {"OneAdapterForTwoUarts", "3F8 = usb=0403:6001:A1\n2F8 = usb=403:6001:a1", 2,
     "adapter usb=0403:6001:a1 already carries another UART (line 1)"},
};
INSTANTIATE_TEST_SUITE_P(Table, BadOptions, ::testing::ValuesIn(kBad),
                         [](const auto &row) { return std::string(row.param.name); });

// Two UARTs on adapters only, without a COM name, are two mappings.
TEST(AdapterLines, TwoAdaptersWithoutComNamesAreNoConflict)
{
    const commio::PortMapResult map = ParsePortMap("3F8 = usb=0403:6001:A1\n2F8 = usb=0403:6001:B2");
    EXPECT_EQ(map.error, "");
    EXPECT_EQ(map.uarts.size(), 2u);
}

// The key tester writes what it found with FormatMapping; the io.dll reads
// it with ParsePortMap. Both must agree on every field.
class RoundTrip : public ::testing::TestWithParam<const char *> {};

TEST_P(RoundTrip, AFormattedMappingReadsBackTheSame)
{
    const commio::PortMapResult first = ParsePortMap(GetParam());
    ASSERT_EQ(first.error, "");
    const std::string line = commio::FormatMapping(first.uarts[0]);
    const commio::PortMapResult again = ParsePortMap(line);
    ASSERT_EQ(again.error, "") << line;
    const PortMapping &a = first.uarts[0], &b = again.uarts[0];
    EXPECT_EQ(a.any, b.any) << line;
    EXPECT_EQ(a.base, b.base) << line;
    EXPECT_EQ(a.device, b.device) << line;
    EXPECT_EQ(a.path, b.path) << line;
    EXPECT_EQ(Options(a), Options(b)) << line;
    EXPECT_EQ(a.usb.serial, b.usb.serial) << line;
}

INSTANTIATE_TEST_SUITE_P(Lines, RoundTrip,
                         ::testing::Values("any = COM5", "3f8h = com3", "FFF8 = \\\\.\\COM17", "100 = COM1 line=DSR",
                                           "any = COM5 line=DCD invert", "any = COM5 line=RI debounce=250",
                                           "D040 = COM9 invert debounce=1", "any = usb=0403:6001:A1B2C3",
                                           "any = usb=1a86:7523 COM4 line=DSR invert debounce=20"));

TEST(FormatMapping, WritesOnlyWhatDiffersFromTheDefaults)
{
    PortMapping m;
    m.any = true;
    m.device = "COM5";
    m.path = "\\\\.\\COM5";
    EXPECT_EQ(commio::FormatMapping(m), "any = COM5");
    m.any = false;
    m.base = 0x2F8;
    m.input = KeyLine::Dsr;
    m.invert = true;
    m.debounceMs = 20;
    m.hasUsb = true;
    m.usb = {0x403, 0x6001, "A1B2C3"};
    EXPECT_EQ(commio::FormatMapping(m), "2F8 = COM5 usb=0403:6001:A1B2C3 line=DSR invert debounce=20");
}

struct Instance {
    const char *id;
    commio::UsbIdentity usb;
    bool matches;
};

std::ostream &operator<<(std::ostream &os, const Instance &i) { return os << i.id; }

class InstanceIds : public ::testing::TestWithParam<Instance> {};

TEST_P(InstanceIds, NameTheAdapterOrNot)
{
    EXPECT_EQ(commio::InstanceIdMatches(GetParam().id, GetParam().usb), GetParam().matches);
}

const Instance kInstances[] = {
    {"USB\\VID_0403&PID_6001\\A1B2C3", {0x0403, 0x6001, "A1B2C3"}, true},
    {"usb\\vid_0403&pid_6001\\a1b2c3", {0x0403, 0x6001, "A1B2C3"}, true},
    {"USB\\VID_0403&PID_6001\\A1B2C3", {0x0403, 0x6001, ""}, true},
    {"USB\\VID_0403&PID_6001\\A1B2C4", {0x0403, 0x6001, "A1B2C3"}, false},
    {"USB\\VID_0403&PID_6001\\A1B2C3X", {0x0403, 0x6001, "A1B2C3"}, false},
    {"USB\\VID_0403&PID_6001\\A1B2C", {0x0403, 0x6001, "A1B2C3"}, false},
    {"USB\\VID_0403&PID_6015\\A1B2C3", {0x0403, 0x6001, "A1B2C3"}, false},
    {"USB\\VID_0404&PID_6001\\A1B2C3", {0x0403, 0x6001, "A1B2C3"}, false},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3A\\0000", {0x0403, 0x6001, "A1B2C3"}, true},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3A\\0000", {0x0403, 0x6001, "A1B2C3A"}, true},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C3B\\0000", {0x0403, 0x6001, "A1B2C3A"}, false},
    {"SERIALBUS\\VID_0403+PID_6001+A1B2C31\\0000", {0x0403, 0x6001, "A1B2C3"}, false},
    {"USB\\VID_1A86&PID_7523\\5&2A3B4C&0&2", {0x1A86, 0x7523, ""}, true},
    {"USB\\VID_1A86&PID_7523\\5&2A3B4C&0&2", {0x1A86, 0x7523, "5"}, false},
    {"USB\\VID_2341&PID_0043&MI_00\\6&1234&0&0000", {0x2341, 0x0043, "6"}, false},
    // Only a USB device's instance part, and a port's bus after a '+', is a serial number.
    {"SERIALBUS\\VID_0403+PID_6001\\0000", {0x0403, 0x6001, "0000"}, false},
    {"USB\\VID_0403&PID_6001\\A1B2C3A", {0x0403, 0x6001, "A1B2C3"}, false},
    {"ACPI\\PNP0501\\1", {0x0403, 0x6001, ""}, false},
    {"USB\\VID_0403&PID_60", {0x0403, 0x6001, ""}, false},
    {"", {0, 0, ""}, false},
};
INSTANTIATE_TEST_SUITE_P(Table, InstanceIds, ::testing::ValuesIn(kInstances));

} // namespace
