// The library's text handling where the exports can't show the result:
// splitting, and the decoding of addresses whose base the library refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/ExStrUtils.h"
#include "library/PortChoice.h"

namespace {

using Items = std::vector<std::string>;

// The library's split, its items read back as strings.
Items Split(const std::string &text, const std::string &delimiter)
{
    const library::TSplitArray items = library::Split(text.data(), text.size(), delimiter.data(), delimiter.size());
    EXPECT_FALSE(items.Failed());
    Items read;
    for (std::size_t i = 0; i < items.Count(); ++i)
        read.emplace_back(items[i].Data(), items[i].Size());
    return read;
}

std::uint16_t DecodeBaseAddress(const std::string &address)
{
    return library::DecodeBaseAddress(address.data(), address.size());
}

struct SplitCase {
    std::string text, delimiter;
    Items items;
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
    SplitCase{"a:b:", "::", {"a:b:"}},              // a delimiter's first byte alone cuts nothing
    SplitCase{"a", "ab", {"a"}},                    // a delimiter longer than the text
    SplitCase{"ab", "ab", {""}},
    SplitCase{std::string("a\0b;c", 5), ";", {std::string("a\0b", 3), "c"}}));

TEST(Split, AMebibyteOfDelimitersGivesOneEmptyItemEach)
{
    // A split that copied or rescanned the rest of the text at every item
    // would take minutes here and hit the test's time limit; a linear one
    // takes milliseconds.
    const std::string text(1 << 20, ';');
    const Items items = Split(text, ";");
    EXPECT_EQ(items.size(), text.size());
    EXPECT_TRUE(items.front().empty() && items.back().empty());
}

// What each character between '/' and 'g' is worth as the low digit of an
// address ("0" + c + suffix): its hex value, FFh for the -1 of the
// characters in range that aren't digits, and 0000h where decoding stops.
// Capitals are lowered first, so 'G'..'Z' fall out of range while '['..'`'
// stay in it.
TEST(DecodeBaseAddress, ValuesEachCharacterAsTheTableSays)
{
    const std::string characters = "/0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefg";
    const std::vector<std::uint16_t> values = {
        0x0000, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09,   // '/', '0'..'9'
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,                               // ':'..'@'
        0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,                                     // 'A'..'F'
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,             // 'G'..'Z'
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,                                     // '['..'`'
        0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x0000};                            // 'a'..'f', 'g'
    ASSERT_EQ(characters.size(), values.size());
    for (std::size_t i = 0; i < characters.size(); ++i)
        EXPECT_EQ(DecodeBaseAddress(std::string("0") + characters[i] + "h"), values[i])
            << "character '" << characters[i] << "'";
}

struct BaseCase {
    const char *address;
    std::uint16_t base;
};

std::ostream &operator<<(std::ostream &os, const BaseCase &c) { return os << "'" << c.address << "'"; }

class BaseDecoding : public ::testing::TestWithParam<BaseCase> {};

// The decoding itself, also for the texts whose base the library refuses.
TEST_P(BaseDecoding, FollowsTheAddressRules)
{
    EXPECT_EQ(DecodeBaseAddress(GetParam().address), GetParam().base);
}

INSTANTIATE_TEST_SUITE_P(Cases, BaseDecoding, ::testing::Values(
    BaseCase{"3F8", 0x003F},        // the last character is always dropped
    BaseCase{"2E8", 0x002E},
    BaseCase{"h", 0x0000},
    BaseCase{"", 0x0000},
    BaseCase{"0:8h", 0x00F8},
    BaseCase{"3:h", 0x002F},
    BaseCase{"0x3F8h", 0x0000},     // 'x' stops decoding in the first pair
    BaseCase{"1 34h", 0x0000},      // a space is below '0'
    BaseCase{"::h", 0x00EF},        // 16*-1 - 1, in both digits
    BaseCase{"FFFFh", 0xFFFF}));

} // namespace
