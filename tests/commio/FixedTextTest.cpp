// The io.dll's own text: what fits is kept whole, what doesn't is cut at the
// capacity and says so, and numbers read as printf's "%u" and "%0*X" would
// write them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "commio/FixedText.h"

namespace {

using Text = commio::FixedText<8>;

struct Build {
    const char *name;
    void (*build)(Text &);
    const char *reads;
    bool cut;
};

std::ostream &operator<<(std::ostream &os, const Build &b) { return os << b.name; }

class FixedTextBuild : public ::testing::TestWithParam<Build> {};

TEST_P(FixedTextBuild, KeepsWhatFitsAndSaysWhenItCut)
{
    Text text;
    GetParam().build(text);
    EXPECT_EQ(text, GetParam().reads);
    EXPECT_EQ(std::string(text.c_str()), GetParam().reads) << "ended by a NUL after its last byte";
    EXPECT_EQ(text.Cut(), GetParam().cut);
}

const Build kBuilds[] = {
    Build{"Empty", [](Text &) {}, "", false},
    Build{"ExactlyFull", [](Text &t) { t.Append("COM5").Append(':').Append("abc"); }, "COM5:abc", false},
    Build{"OneByteOver", [](Text &t) { t.Append("12345678").Append('9'); }, "12345678", true},
    Build{"CutInsideAnAppend", [](Text &t) { t.Append("1234").Append("567890"); }, "12345678", true},
    Build{"NothingAfterTheCut", [](Text &t) { t.Append("123456789").Append(""); }, "12345678", true},
    Build{"AnEmptyAppendWhenFull", [](Text &t) { t.Append("12345678").Append(""); }, "12345678", false},
    Build{"DigitsCutToo", [](Text &t) { t.Append("error ").AppendDecimal(1617); }, "error 16", true},
    Build{"HexWidthCut", [](Text &t) { t.Append("1234567").AppendHex(0x3F8, 4); }, "12345670", true},
    Build{"AssignedAfresh", [](Text &t) { t.Append("123456789"); t = "COM5"; }, "COM5", false},
    Build{"FromALongerText",
          [](Text &t) { t = commio::FixedText<16>(std::string_view("0123456789")); }, "01234567", true},
    Build{"Cleared", [](Text &t) { t.Append("123456789"); t.clear(); }, "", false},
    Build{"ShortenedThenAppended", [](Text &t) { t.Append("123456789"); t.Shorten(5); t.Append("..."); },
          "12345...", true},
    Build{"ShortenedPastItsEnd", [](Text &t) { t.Append("1234"); t.Shorten(6); }, "1234", false},
};

INSTANTIATE_TEST_SUITE_P(Texts, FixedTextBuild, ::testing::ValuesIn(kBuilds),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(FixedText, NumbersReadAsPrintfWritesThem)
{
    const unsigned values[] = {0, 7, 9, 10, 15, 16, 255, 0x3F8, 0xFFF8, 0x10000, 1000000, 4294967295u};
    for (const unsigned value : values) {
        for (const std::size_t width : {1u, 2u, 4u, 8u}) {
            char expected[32];
            std::snprintf(expected, sizeof expected, "%0*X", static_cast<int>(width), value);
            commio::FixedText<16> hex;
            EXPECT_EQ(hex.AppendHex(value, width), expected) << value << " width " << width;
        }
        commio::FixedText<16> decimal;
        EXPECT_EQ(decimal.AppendDecimal(value), std::to_string(value));
    }
}

TEST(FixedText, ComparesAsItsBytes)
{
    const commio::FixedText<8> a("COM5");
    EXPECT_TRUE(a == "COM5");
    EXPECT_TRUE("COM5" == a);
    EXPECT_TRUE(a == commio::FixedText<200>("COM5")) << "whatever the capacities";
    EXPECT_TRUE(a != "com5");
    EXPECT_TRUE(a != std::string_view("COM5\0", 5)) << "a NUL is a byte like any other";
    EXPECT_TRUE(a != "COM");
}

} // namespace
