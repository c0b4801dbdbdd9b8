// Reading the port map file: what it accepts, and a clear word for what it
// doesn't.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "commio/PortMap.h"

namespace {

using commio::ParsePortMap;

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
        out += (out.empty() ? "" : " ") + (m.any ? std::string("any") : std::string(base)) + "=" + m.path + "@" +
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
};
INSTANTIATE_TEST_SUITE_P(Table, GoodMap, ::testing::ValuesIn(kGood),
                         [](const auto &row) { return std::string(row.param.name); });

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
    {"NonAscii", "any = COM3\n# caf\xC3\xA9\n", 2, "byte C3h at column 6 is not plain ASCII text"},
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
};
INSTANTIATE_TEST_SUITE_P(Table, BadMap, ::testing::ValuesIn(kBad),
                         [](const auto &row) { return std::string(row.param.name); });

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

} // namespace
