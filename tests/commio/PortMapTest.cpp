// Reading the port map: what it accepts (mappings, options after the device
// in any case, USB identities), a clear word with the line number for what
// it doesn't, a mapping written back as a line that reads the same, the
// instance IDs that name an adapter, and the template that ships.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "commio/PortMap.h"

namespace {

using uart::ModemLine;
using commio::ParsePortMap;
using commio::PortMapping;

struct Good {
    const char *name;
    std::string text;
    std::string mappings; // "base=path" each, in lookup order
};

std::ostream &operator<<(std::ostream &os, const Good &g) { return os << g.name; }

std::string Describe(const commio::PortMapResult &map)
{
    std::string out;
    for (const commio::PortMapping &m : map.uarts) {
        char base[8];
        std::snprintf(base, sizeof base, "%04X", m.base);
        out += (out.empty() ? "" : " ") + (m.any ? std::string("any") : std::string(base)) + "=" + std::string(m.path) + "@" +
               std::to_string(m.line);
    }
    return out;
}

class GoodMap : public ::testing::TestWithParam<Good> {};

TEST_P(GoodMap, Reads)
{
    const commio::PortMapResult map = ParsePortMap(GetParam().text);
    EXPECT_EQ(map.error, "");
    EXPECT_EQ(Describe(map), GetParam().mappings);
}

const Good kGood[] = {
    {"OneLine", "any = COM3\n", "any=\\\\.\\COM3@1"},
    {"NoNewlineAtTheEnd", "any=COM3", "any=\\\\.\\COM3@1"},
    {"CommentsBlanksAndCrLf", "# key\r\n\r\n  \tany\t=  com12  # the adapter\r\n", "any=\\\\.\\COM12@3"},
    {"Utf8MarkFirst", "\xEF\xBB\xBF" "ANY = COM256", "any=\\\\.\\COM256@1"},
    {"ExplicitBasesFirst", "any = COM3\n3f8h = COM4\nD040 = \\\\.\\COM17\n",
     "03F8=\\\\.\\COM4@2 D040=\\\\.\\COM17@3 any=\\\\.\\COM3@1"},
    {"RangeEnds", "100 = COM1\nFFF8H = COM2", "0100=\\\\.\\COM1@1 FFF8=\\\\.\\COM2@2"},
    {"LineOfExactly200", "any = COM3 #" + std::string(188, 'x') + "\r\n", "any=\\\\.\\COM3@1"},
    {"FileOfExactly16KiB", "any = COM3\n" + std::string(16384 - 11, '\n'), "any=\\\\.\\COM3@1"},
    {"BasesEightApart", "3F8 = COM3\n400 = COM4\n3F0 = COM5",
     "03F8=\\\\.\\COM3@1 0400=\\\\.\\COM4@2 03F0=\\\\.\\COM5@3"},
    {"TabsAndTheLastPrintableByte", "any\t=\t\\\\.\\A~B", "any=\\\\.\\A~B@1"},
    // A comment holds any text, in UTF-8 or a PC's code page.
    {"Utf8InAComment", "# Taster am Empfang (Schl\xC3\xBCssel)\nany = COM3 # \xE2\x80\x94 gr\xC3\xBCn\n",
     "any=\\\\.\\COM3@2"},
    {"CodePageBytesInAComment", "any = COM3 # Schl\xFCssel\n", "any=\\\\.\\COM3@1"},
};
INSTANTIATE_TEST_SUITE_P(Table, GoodMap, ::testing::ValuesIn(kGood),
                         [](const auto &row) { return std::string(row.param.name); });

// The parser's word for a USB identity it can't read, as it shows it.
std::string Unreadable(const std::string &shown)
{
    return "USB identity '" + shown +
           "' unreadable; write usb=VID:PID:SERIAL in hexadecimal IDs, such as usb=0403:6001:A1B2C3";
}

const std::string kSerial32 = "A1234567890123456789012345678901";

// The parser's word for a mistyped option.
std::string DidYouMean(const std::string &word, const std::string &meant)
{
    return "unknown option '" + word + "'; did you mean '" + meant +
           "'? The options are line=CTS|DSR|DCD|RI, invert, debounce=MS, usb=VID:PID:SERIAL";
}

struct Bad {
    const char *name;
    std::string text;
    int line;
    std::string error;
};

std::ostream &operator<<(std::ostream &os, const Bad &b) { return os << b.name; }

class BadMap : public ::testing::TestWithParam<Bad> {};

TEST_P(BadMap, IsRefusedWithTheLineAndWhy)
{
    const commio::PortMapResult map = ParsePortMap(GetParam().text);
    EXPECT_EQ(map.error, GetParam().error);
    EXPECT_EQ(map.errorLine, GetParam().line);
    EXPECT_TRUE(map.uarts.empty());
}

const Bad kBad[] = {
    {"Empty", "", 0, "names no COM device; add a line such as 'any = COM3'"},
    {"OnlyComments", "# any = COM3\n\n", 0, "names no COM device; add a line such as 'any = COM3'"},
    {"Garbage", "any = COM3\nhello world\n", 2, "expected 'KEY = DEVICE', such as 'any = COM3', not 'hello world'"},
    {"UnknownKey", "speed = 9600", 1, "unknown key 'speed'; the key is 'any' or a UART base such as 3F8"},
    {"NoKey", " = COM3", 1, "nothing before '='; the key is 'any' or a UART base such as 3F8"},
    {"NoDevice", "any =", 1, "no device after '='; name one such as COM3"},
    {"BaseTooLow", "F8 = COM3", 1, "UART base 'F8' out of range; bases run from 100 to FFF8"},
    {"BaseTooHigh", "FFF9 = COM3", 1, "UART base 'FFF9' out of range; bases run from 100 to FFF8"},
    {"FiveDigits", "103F8 = COM3", 1, "unknown key '103F8'; the key is 'any' or a UART base such as 3F8"},
    {"DuplicateBase", "3F8 = COM3\n3f8h = COM4", 2, "UART base given twice (line 1)"},
    {"OverlappingBases", "3F8 = COM3\n3FC = COM4", 2, "UART registers overlap the base on line 1"},
    {"TwoAny", "any = COM3\nany = COM4", 2, "a second 'any' (line 1)"},
    {"OneDeviceTwice", "3F8 = COM3\n2F8 = com3", 2, "device 'com3' already carries another UART (line 1)"},
    {"TwoDevices", "any = COM3 COM4", 1, "one device per line, not 'COM3 COM4'"},
    {"NotACom", "any = LPT1", 1, "unknown device 'LPT1'; use COM1 to COM256 or a \\\\.\\ name"},
    {"ComZero", "any = COM0", 1, "unknown device 'COM0'; use COM1 to COM256 or a \\\\.\\ name"},
    {"ComTooHigh", "any = COM257", 1, "unknown device 'COM257'; use COM1 to COM256 or a \\\\.\\ name"},
    {"FilePath", "any = \\\\.\\C:\\x", 1, "unknown device '\\\\.\\C:\\x'; use COM1 to COM256 or a \\\\.\\ name"},
    {"NonAsciiInADevice", "any = COM3\n3F8 = caf\xC3\xA9 # caf\xC3\xA9\n", 2,
     "byte C3h at column 10 is not plain ASCII text (only a comment, after #, may hold other text)"},
    {"ControlByteInAComment", "any = COM3 # \x01\n", 1, "byte 01h at column 14 is not plain ASCII text"},
    {"NulByte", std::string("any = COM3\0", 11), 1, "byte 00h at column 11 is not plain ASCII text"},
    {"Utf16", "\xFF\xFE" "a\0n\0y\0", 0, "saved as UTF-16; save it as ANSI or UTF-8"},
    {"LongLine", "any = COM3\n#" + std::string(200, 'x'), 2, "longer than 200 characters"},
    {"LongFile", std::string(16385, '\n'), 0, "longer than 16384 bytes"},
    {"LongKeyIsShortenedInTheMessage", std::string(40, 'k') + " = COM3", 1,
     "unknown key 'kkkkkkkkkkkkkkkkkkkkkkkk...'; the key is 'any' or a UART base such as 3F8"},
    {"LineOf201", "any = COM3 #" + std::string(189, 'x'), 1, "longer than 200 characters"},
    {"FileOf16KiBAndOne", "any = COM3\n" + std::string(16384 - 10, '\n'), 0, "longer than 16384 bytes"},
    {"ComWithALeadingZero", "any = COM01", 1, "unknown device 'COM01'; use COM1 to COM256 or a \\\\.\\ name"},
    {"SlashInANamespaceName", "any = \\\\.\\COM3/x", 1,
     "unknown device '\\\\.\\COM3/x'; use COM1 to COM256 or a \\\\.\\ name"},
    {"SecondEquals", "any = COM3=COM4", 1, "one device per line, not 'COM3=COM4'"},
    {"SecondEqualsWithBlanks", "3F8 = COM3 = COM4", 1, "one device per line, not 'COM3 = COM4'"},
    {"BasesSevenApartAbove", "3F8 = COM3\n3FF = COM4", 2, "UART registers overlap the base on line 1"},
    {"BasesSevenApartBelow", "3F8 = COM3\n3F1 = COM4", 2, "UART registers overlap the base on line 1"},
    {"NamespaceDeviceTwiceInOtherCase", "3F8 = \\\\.\\Key\n2F8 = \\\\.\\KEY", 2,
     "device '\\\\.\\KEY' already carries another UART (line 1)"},
    {"ComAndItsNamespaceNameInOtherCase", "3F8 = com3\n2F8 = \\\\.\\Com3", 2,
     "device '\\\\.\\Com3' already carries another UART (line 1)"},
    {"DelByte", "any = COM3\x7F", 1, "byte 7Fh at column 11 is not plain ASCII text"},
    {"Utf16BigEndian", std::string("\xFE\xFF\0a\0n\0y", 8), 0, "saved as UTF-16; save it as ANSI or UTF-8"},
    {"NineUarts",
     "100=COM1\n108=COM2\n110=COM3\n118=COM4\n120=COM5\n128=COM6\n130=COM7\n138=COM8\n140=COM9\n", 9,
     "more than 8 UARTs"},
    // Options after the device.
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
    // A mistyped option is named as one, with the option it was most
    // likely meant to be.
    {"InvertedForInvert", "any = COM5 inverted", 1, DidYouMean("inverted", "invert")},
    {"InverttForInvert", "any = COM5 invertt", 1, DidYouMean("invertt", "invert")},
    {"LineNameAlone", "any = COM5 dsr", 1, DidYouMean("dsr", "line=DSR")},
    {"ColonForEquals", "any = COM5 line:DSR", 1, DidYouMean("line:DSR", "line=DSR")},
    {"MisspeltName", "any = COM5 linr=DSR", 1, DidYouMean("linr=DSR", "line=DSR")},
    {"MisspeltDebounce", "any = COM5 debunce=20", 1, DidYouMean("debunce=20", "debounce=20")},
    {"MistypedOptionBeforeTheDevice", "any = inverted COM5", 1, DidYouMean("inverted", "invert")},
    {"NotADeviceAfterTheDevice", "any = COM5 LPT1", 1,
     "unknown option 'LPT1'; the options are line=CTS|DSR|DCD|RI, invert, debounce=MS, usb=VID:PID:SERIAL"},
    {"BlanksAroundEquals", "any = COM5 line = DSR", 1,
     "blanks around '=' split the option 'line = DSR'; write it as one word: line=DSR"},
    {"BlankAfterEquals", "any = COM5 debounce= 20", 1,
     "blanks around '=' split the option 'debounce = 20'; write it as one word: debounce=20"},
    {"BlankBeforeEquals", "any = COM5 line =DCD invert", 1,
     "blanks around '=' split the option 'line = DCD'; write it as one word: line=DCD"},
    {"SecondDeviceAfterOptions", "any = COM5 invert COM6", 1, "one device per line, not 'COM5 invert COM6'"},
    // The option meant carries its value whole, however long the line
    // makes it: the word as written is shown cut (24 characters), the
    // option to write instead is not.
    {"MisspeltNameWithALineLongValue", "any = COM5 debunce=" + std::string(180, '7'), 1,
     DidYouMean("debunce=" + std::string(16, '7') + "...", "debounce=" + std::string(180, '7'))},
    {"BlanksAroundEqualsWithALineLongValue", "any = COM5 line = " + std::string(180, 'D'), 1,
     "blanks around '=' split the option 'line = " + std::string(17, 'D') +
         "...'; write it as one word: line=" + std::string(180, 'D')},
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
    // Options and identities at their edges.
    {"SerialOnePastTheLimit", "any = usb=0403:6001:" + kSerial32 + "2", 1, Unreadable("0403:6001:A1234567890123...")},
    {"ShownWholeAtTwentyFourCharacters", "any = usb=0403:6001:ABCDEFGHIJKLM/", 1, Unreadable("0403:6001:ABCDEFGHIJKLM/")},
    {"ShortenedAtTwentyFive", "any = usb=0403:6001:ABCDEFGHIJKLMN/", 1, Unreadable("0403:6001:ABCDEFGHIJKLMN...")},
    {"NoVendor", "any = usb=:6001", 1, Unreadable(":6001")},
    {"NoProduct", "any = usb=0403:", 1, Unreadable("0403:")},
    {"NoProductBeforeTheSerial", "any = usb=0403::A1", 1, Unreadable("0403::A1")},
    {"FiveDigitProduct", "any = usb=0403:60011:A1", 1, Unreadable("0403:60011:A1")},
    {"DebounceTwice", "any = COM5 debounce=1 debounce=2", 1, "option 'debounce' given twice"},
    {"DebounceTwiceOtherCase", "any = COM5 DEBOUNCE=1 debounce=1", 1, "option 'debounce' given twice"},
    {"LineTwiceOtherCase", "any = COM5 LINE=DSR line=DSR", 1, "option 'line' given twice"},
    {"InvertTwiceOtherCase", "any = COM5 Invert INVERT", 1, "option 'invert' given twice"},
    {"UsbTwiceOtherCase", "any = usb=0403:6001:A USB=0403:6001:B", 1, "option 'usb' given twice"},
    {"InvertInCapitalsWithValue", "any = COM5 INVERT=yes", 1, "'invert' takes no value"},
    {"DebounceOnePastWithUnit", "any = COM5 debounce=251ms", 1, "debounce '251ms' is not 0 to 250 milliseconds"},
    {"JustTheNamespacePrefix", "any = \\\\.\\", 1, "unknown device '\\\\.\\'; use COM1 to COM256 or a \\\\.\\ name"},
    {"QuoteInANamespaceName", "any = \\\\.\\A\"B", 1, "unknown device '\\\\.\\A\"B'; use COM1 to COM256 or a \\\\.\\ name"},
};
INSTANTIATE_TEST_SUITE_P(Table, BadMap, ::testing::ValuesIn(kBad),
                         [](const auto &row) { return std::string(row.param.name); });

// ---- Options after the device -------------------------------------------------

// The wiring and identity of a mapping, for comparing: "DSR invert 20 usb=0403:6001:A1B2C3 \\.\COM5".
std::string Options(const PortMapping &m)
{
    const char *line = m.input == ModemLine::Cts   ? "CTS"
                       : m.input == ModemLine::Dsr ? "DSR"
                       : m.input == ModemLine::Dcd ? "DCD"
                                                 : "RI";
    std::string out = std::string(line) + (m.invert ? " invert " : " ") + std::to_string(m.debounceMs);
    if (m.hasUsb)
        out += " usb=" + commio::FormatUsbIdentity(m.usb);
    return out + (m.path.empty() ? "" : " " + std::string(m.path));
}

struct GoodOption {
    const char *name;
    const char *text;
    std::string options;
};

std::ostream &operator<<(std::ostream &os, const GoodOption &g) { return os << g.name; }

class GoodOptions : public ::testing::TestWithParam<GoodOption> {};

TEST_P(GoodOptions, Read)
{
    const commio::PortMapResult map = ParsePortMap(GetParam().text);
    ASSERT_EQ(map.error, "");
    ASSERT_EQ(map.uarts.size(), 1u);
    EXPECT_EQ(Options(map.uarts[0]), GetParam().options);
}

const GoodOption kGoodOptions[] = {
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
INSTANTIATE_TEST_SUITE_P(Table, GoodOptions, ::testing::ValuesIn(kGoodOptions),
                         [](const auto &row) { return std::string(row.param.name); });

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

// ---- Refused maps, their lines and why ---- (the table above)

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
    m.input = ModemLine::Dsr;
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

} // namespace

namespace {

// The template that ships beside the comm-port io.dll, byte for byte: it
// maps nothing until a line is taken out of its comments, and each example
// line it shows, taken out, is read as one mapping.
TEST(PortMapTemplate, MapsNothingAndEachExampleReads)
{
    std::ifstream file(ZELBIN_PORT_MAP_TEMPLATE, std::ios::binary);
    ASSERT_TRUE(file) << ZELBIN_PORT_MAP_TEMPLATE;
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const commio::PortMapResult whole = ParsePortMap(text);
    EXPECT_EQ(whole.errorLine, 0) << whole.error;
    EXPECT_EQ(whole.error, "names no COM device; add a line such as 'any = COM3'");

    int examples = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("# ", 0) != 0 || line.find(" = ") == std::string::npos)
            continue;
        ++examples;
        const commio::PortMapResult one = ParsePortMap(line.substr(2));
        EXPECT_EQ(one.error, "") << line;
        EXPECT_EQ(one.uarts.size(), 1u) << line;
    }
    EXPECT_GE(examples, 5);
}

// The template's prose gives the reader's own limits and names, so that
// what a technician reads there is what the io.dll takes.
TEST(PortMapTemplate, ItsProseStatesTheReadersLimits)
{
    std::ifstream file(ZELBIN_PORT_MAP_TEMPLATE, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The number after the first `words` following `after`, or -1.
    const auto numberAfter = [&text](const char *after, const char *words) {
        const std::size_t at = text.find(after);
        const std::size_t found = at == std::string::npos ? at : text.find(words, at);
        return found == std::string::npos ? -1L : std::strtol(text.c_str() + found + std::strlen(words), nullptr, 10);
    };
    const struct {
        const char *what, *after, *words;
        long limit;
    } limits[] = {
        {"debounce's range", "debounce=20", "(0 to ", static_cast<long>(commio::MaxDebounceMs)},
        {"the UARTs a map carries", "several keys", "(at most ", static_cast<long>(commio::MaxMappedUarts)},
        {"a line's length", "What the file may hold", "lines of up to ", static_cast<long>(commio::MaxPortMapLine)},
    };
    for (const auto &limit : limits)
        EXPECT_EQ(numberAfter(limit.after, limit.words), limit.limit) << limit.what;
    for (const uart::ModemLine line : uart::InputLines)
        EXPECT_NE(text.find(std::string("line=") + line.Name()), std::string::npos) << line.Name();
    EXPECT_NE(text.find(commio::PortMapFileName), std::string::npos);
    // Its own comments in another language read as they say.
    EXPECT_EQ(ParsePortMap(text + "# Taster am Empfang (Schl\xC3\xBCssel)\nany = COM3\n").error, "");
}

} // namespace
