// The key tester's port plan: the device and base the library will choose
// for a parameter text, worked out by the library's own code, and a warning
// for every text the library reads otherwise than its writer likely meant.
#include <gtest/gtest.h>

#include "keytest/PortPlan.h"

using namespace keytest; // the key tester's own names, unqualified as in its own code

namespace {

struct PlanCase {
    const char *params; // null: NULL
    const char *device;
    std::uint16_t base;
    bool accepted;
    std::vector<std::string> warnings; // each in full, in order
};

std::ostream &operator<<(std::ostream &os, const PlanCase &c) { return os << (c.params ? c.params : "NULL"); }

class PortPlanCases : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PortPlanCases, SelectsAsTheLibraryAndWarns)
{
    const PortPlan plan = PlanPort(GetParam().params);
    EXPECT_EQ(plan.portName, GetParam().device);
    EXPECT_EQ(plan.base, GetParam().base);
    EXPECT_EQ(plan.baseAccepted, GetParam().accepted);
    EXPECT_EQ(plan.warnings, GetParam().warnings);
}

// The warnings, each with the parts a parameter text fills in.
std::string NotAName(const std::string &name)
{
    return "'" + name + "' is not one of the names COM1 to COM4 (written exactly so), so the library uses COM1 at "
           "3F8h. For another port give \"NAME;ADDRh\".";
}
std::string NoSuffix(const std::string &text, const std::string &reads, const std::string &instead)
{
    return "The address text '" + text + "' ends in a hex digit: the library drops the last character as the suffix "
           "and reads " + reads + ". Write it with a suffix, such as '" + instead + "'.";
}
std::string HexPrefix(const std::string &text, const std::string &instead)
{
    return "The address text '" + text + "' starts with 0x: the library takes no prefix, and the 'x' ends its "
           "reading at 0000h. Write it as '" + instead + "'.";
}
std::string OnlyASuffix(const std::string &text, const std::string &instead)
{
    return "The address text '" + text + "' is only a suffix, with no digits before it: it reads 0000h. Write the "
           "base before the suffix, such as '" + instead + "'.";
}
std::string Outside(const std::string &base)
{
    return "The base " + base + " lies outside 0100h to FFF9h: the library refuses it, opens nothing and reports no "
           "press.";
}

INSTANTIATE_TEST_SUITE_P(Cases, PortPlanCases, ::testing::Values(
    PlanCase{nullptr, "COM1", 0x3F8, true, {}},
    PlanCase{"", "COM1", 0x3F8, true, {}},
    PlanCase{"COM2", "COM2", 0x2F8, true, {}},
    PlanCase{"COM2;", "COM2", 0x2F8, true, {}},
    PlanCase{"com2", "COM1", 0x3F8, true, {NotAName("com2")}},
    PlanCase{"COM5", "COM1", 0x3F8, true, {NotAName("COM5")}},
    PlanCase{";", "COM1", 0x3F8, true, {NotAName("")}},
    // Names are matched whole: a longer one is not its first four letters.
    PlanCase{"COM10", "COM1", 0x3F8, true, {NotAName("COM10")}},
    PlanCase{"COM2 ", "COM1", 0x3F8, true, {NotAName("COM2 ")}},
    PlanCase{"COM9;2E8h", "COM9", 0x2E8, true, {}},
    PlanCase{"COM9;2E8H", "COM9", 0x2E8, true, {}},
    PlanCase{"COM9;100h", "COM9", 0x100, true, {}},
    PlanCase{"COM9;FFF9h", "COM9", 0xFFF9, true, {}},
    PlanCase{"COM9;FFh", "COM9", 0xFF, false, {Outside("00FFh")}},
    PlanCase{"COM9;FFFAh", "COM9", 0xFFFA, false, {Outside("FFFAh")}},
    // The last character is a suffix whatever it is, a hex letter too.
    PlanCase{"COM9;3F8", "COM9", 0x003F, false, {NoSuffix("3F8", "003Fh", "3F8h"), Outside("003Fh")}},
    PlanCase{"COM9;3FA", "COM9", 0x003F, false, {NoSuffix("3FA", "003Fh", "3FAh"), Outside("003Fh")}},
    PlanCase{"COM9;12345", "COM9", 0x1234, true, {NoSuffix("12345", "1234h", "12345h")}},
    PlanCase{"COM9;2E8F", "COM9", 0x02E8, true, {NoSuffix("2E8F", "02E8h", "2E8Fh")}},
    PlanCase{"COM9;5", "COM9", 0, false, {NoSuffix("5", "0000h", "5h"), Outside("0000h")}},
    // A prefix the library doesn't take, in either case, with a suffix or
    // without: the suggestion gives the base with one.
    PlanCase{"COM9;0x3F8h", "COM9", 0x0000, false, {HexPrefix("0x3F8h", "3F8h"), Outside("0000h")}},
    PlanCase{"COM2;0x2F8h", "COM2", 0x0000, false, {HexPrefix("0x2F8h", "2F8h"), Outside("0000h")}},
    PlanCase{"COM9;0x3F8", "COM9", 0x0000, false, {HexPrefix("0x3F8", "3F8h"), Outside("0000h")}},
    PlanCase{"COM9;0X3F8h", "COM9", 0, false, {HexPrefix("0X3F8h", "3F8h"), Outside("0000h")}},
    PlanCase{"COM9;0X2F8", "COM9", 0, false, {HexPrefix("0X2F8", "2F8h"), Outside("0000h")}},
    // Too short to be a prefix before digits: just a text that reads 0.
    PlanCase{"COM9;0x", "COM9", 0, false, {Outside("0000h")}},
    PlanCase{"COM2;;", "COM2", 0x0000, false,
             {"The address is empty: a second item is the UART's base as written, and an empty one reads 0000h. "
              "Give the base, such as 'COM2;2F8h', or the name alone for one of COM1 to COM4.",
              Outside("0000h")}},
    PlanCase{"COM9;h", "COM9", 0x0000, false, {OnlyASuffix("h", "2F8h"), Outside("0000h")}},
    PlanCase{"COM9;x", "COM9", 0, false, {OnlyASuffix("x", "2F8x"), Outside("0000h")}}));

} // namespace
