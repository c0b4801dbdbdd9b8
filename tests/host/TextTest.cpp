// The library's text helpers: splitting, lower-casing and hex-pair decoding.
#include <gtest/gtest.h>

#include <algorithm>

#include "ExStrUtils.h"
#include "Zelbin_SerialCore.h"

namespace {

struct SplitCase {
    std::string text, delimiter;
    TSplitArray items;
};

std::ostream &operator<<(std::ostream &os, const SplitCase &c)
{
    return os << "'" << c.text << "' at '" << c.delimiter << "'";
}

class SplitTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTable, CutsAtEveryDelimiter)
{
    EXPECT_EQ(Split(GetParam().text, GetParam().delimiter), GetParam().items);
}

INSTANTIATE_TEST_SUITE_P(Cases, SplitTable, ::testing::Values(
    SplitCase{"", ";", {}},
    SplitCase{"COM1", ";", {"COM1"}},
    SplitCase{"a;;b", ";", {"a", "", "b"}},
    SplitCase{";x", ";", {"", "x"}},
    SplitCase{"COM2;", ";", {"COM2"}},
    SplitCase{";", ";", {""}},
    SplitCase{";;", ";", {"", ""}},
    SplitCase{"a;b;c", ";", {"a", "b", "c"}},
    SplitCase{"abc", "", {"abc"}},                  // an empty delimiter is never found
    SplitCase{"", "", {}},
    SplitCase{"a::b:c", "::", {"a", "b:c"}},        // longer delimiters cut whole
    SplitCase{"a:::b", "::", {"a", ":b"}},          // searching resumes after a match
    SplitCase{"aXbxc", "x", {"aXb", "c"}},          // case-sensitive
    SplitCase{std::string("a\0b;c", 5), ";", {std::string("a\0b", 3), "c"}}));

TEST(Split, AMebibyteOfDelimitersGivesOneEmptyItemEach)
{
    // Deleting each item from the front of a copy would take minutes here and
    // run into the test's time limit; a linear split takes milliseconds.
    const std::string text(1 << 20, ';');
    const TSplitArray items = Split(text, ";");
    EXPECT_EQ(items.size(), text.size());
    EXPECT_TRUE(items.front().empty() && items.back().empty());
}

TEST(AsciiLowerCase, ChangesOnlyTheAsciiCapitals)
{
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += static_cast<char>(c);
    const std::string lower = AsciiLowerCase(all);
    ASSERT_EQ(lower.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const int c = static_cast<unsigned char>(all[i]);
        const int expected = c >= 'A' && c <= 'Z' ? c + 0x20 : c;
        EXPECT_EQ(static_cast<unsigned char>(lower[i]), expected) << "character " << c;
    }
}

TEST(HexDigitTable, HoldsTheDigitsAndMinusOneBetween)
{
    for (int c = HexTableFirst; c <= HexTableLast; ++c) {
        int expected = -1;
        if (c >= '0' && c <= '9') expected = c - '0';
        if (c >= 'A' && c <= 'F') expected = c - 'A' + 10;
        if (c >= 'a' && c <= 'f') expected = c - 'a' + 10;
        EXPECT_EQ(HexDigitTable[c - HexTableFirst], expected) << "character " << static_cast<char>(c);
    }
}

struct DecodeCase {
    const char *text;
    int maxBytes;
    std::vector<std::uint8_t> bytes;
};

std::ostream &operator<<(std::ostream &os, const DecodeCase &c)
{
    return os << "'" << c.text << "' limit " << c.maxBytes;
}

class DecodeTable : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTable, WritesOneBytePerPairUntilAPairFallsOutOfRange)
{
    const DecodeCase &c = GetParam();
    std::uint8_t buffer[9];
    std::fill(std::begin(buffer), std::end(buffer), 0xAA);
    const int written = DecodeHexPairs(c.text, buffer, c.maxBytes);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + written), c.bytes) << "'" << c.text << "'";
    EXPECT_EQ(buffer[written], 0xAA) << "nothing past the count is written";
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeTable, ::testing::Values(
    DecodeCase{"03f8", 2, {0x03, 0xF8}},
    DecodeCase{"03F8", 2, {0x03, 0xF8}},
    DecodeCase{"0123456789abcdef", 8, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}},
    DecodeCase{"123456", 2, {0x12, 0x34}},      // the limit holds
    DecodeCase{"123", 2, {0x12}},               // an odd last digit pairs with the NUL
    DecodeCase{"", 2, {}},
    DecodeCase{"12", 0, {}},
    DecodeCase{":8", 1, {0xF8}},
    DecodeCase{"3:", 1, {0x2F}},
    DecodeCase{"::", 1, {0xEF}},                // 16*-1 - 1
    DecodeCase{"f`", 1, {0xEF}},                // 15*16 - 1
    DecodeCase{"g0", 1, {}},                    // 0x67, just past the table
    DecodeCase{"0/", 1, {}},                    // 0x2F, just before it
    DecodeCase{"12\x80" "0", 2, {0x12}}));

} // namespace
