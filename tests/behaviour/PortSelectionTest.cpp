// Which device and which UART base a parameter text selects, as seen in the
// calls one start makes.
#include "Harness.h"

namespace {

struct Selection {
    const char *params; // nullptr: the host passes a null pointer
    const char *device;
    std::uint16_t base;
};

std::ostream &operator<<(std::ostream &os, const Selection &s)
{
    return os << (s.params ? "'" + std::string(s.params) + "'" : std::string("NULL"));
}

class PortSelection : public KeyLibraryTest, public ::testing::WithParamInterface<Selection> {};

TEST_P(PortSelection, OpensTheDeviceAndProgramsTheUartAtItsBase)
{
    const Selection &s = GetParam();
    lib.StartListen(s.params);
    // The simulated PC has the devices COM1 to COM4 only.
    const bool known = std::string(s.device).size() == 4 && std::string(s.device) <= "COM4" &&
                       std::string(s.device) >= "COM1";
    EXPECT_EQ(TakeCalls(), StartCalls(s.device, s.base, known ? "h1" : "INVALID_HANDLE_VALUE"));
}

INSTANTIATE_TEST_SUITE_P(Table, PortSelection, ::testing::Values(
    Selection{nullptr, "COM1", 0x03F8},
    Selection{"", "COM1", 0x03F8},
    Selection{"COM1", "COM1", 0x03F8},
    Selection{"COM2", "COM2", 0x02F8},
    Selection{"COM3", "COM3", 0x03E8},
    Selection{"COM4", "COM4", 0x02E8},
    Selection{"com3", "COM1", 0x03F8},          // case matters
    Selection{" COM3", "COM1", 0x03F8},         // no trimming
    Selection{"COM9", "COM1", 0x03F8},
    Selection{"COM2;", "COM2", 0x02F8},         // one item
    Selection{";", "COM1", 0x03F8},             // one empty item
    Selection{"COM9;2E8h", "COM9", 0x02E8},     // the table is not consulted
    Selection{"COM2;3E8h", "COM2", 0x03E8},
    Selection{"COM3;3E8h;extra", "COM3", 0x03E8},
    Selection{"COM3;;", "COM3", 0x0000},        // two items, the address empty
    Selection{";3F8h", "", 0x03F8},             // the empty device name
    Selection{"\\\\.\\COM10;2E8h", "\\\\.\\COM10", 0x02E8}));

struct Decoding {
    const char *address;
    std::uint16_t base;
};

std::ostream &operator<<(std::ostream &os, const Decoding &d) { return os << "'" << d.address << "'"; }

class AddressDecoding : public KeyLibraryTest, public ::testing::WithParamInterface<Decoding> {};

TEST_P(AddressDecoding, GivesTheBaseOfTheUartWrites)
{
    const Decoding &d = GetParam();
    // The closing ';' keeps an empty address text an item of its own.
    lib.StartListen(("COM1;" + std::string(d.address) + ";").c_str());
    EXPECT_EQ(TakeCalls(), StartCalls("COM1", d.base));
}

INSTANTIATE_TEST_SUITE_P(Table, AddressDecoding, ::testing::Values(
    Decoding{"3F8h", 0x03F8}, Decoding{"2F8h", 0x02F8}, Decoding{"3E8h", 0x03E8}, Decoding{"2E8h", 0x02E8},
    Decoding{"3f8h", 0x03F8},       // lower-case digits alike
    Decoding{"3F8", 0x003F},        // the last character is always dropped
    Decoding{"03F8h", 0x03F8},
    Decoding{"12345h", 0x1234},     // only four digits are decoded
    Decoding{"1234567h", 0x1234},
    Decoding{"h", 0x0000},
    Decoding{"", 0x0000},
    Decoding{"ABCDx", 0xABCD},      // any suffix character
    Decoding{"0:8h", 0x00F8},       // ':' counts as -1: 16*-1 + 8
    Decoding{"3:h", 0x002F},        // 16*3 - 1
    Decoding{"3@8h", 0x03F8},       // '@' is in range, -1
    Decoding{"[8h", 0x00F8},        // '[' is in range and not lower-cased
    Decoding{"`8h", 0x00F8},        // backquote, the last -1 before 'a'
    Decoding{"3G8h", 0x0300},       // 'G' becomes 'g', out of range: decoding stops
    Decoding{"0x3F8h", 0x0000},     // 'x' stops decoding in the first pair
    Decoding{"12x4h", 0x1200},      // ... or in the second; what's unwritten is zero
    Decoding{"1 34h", 0x0000},      // a space is below '0'
    Decoding{"12\xC8" "4h", 0x1200}, // bytes above 0x7F are out of range
    Decoding{"FFFFh", 0xFFFF}));    // registers wrap to 0x0000..0x0003

} // namespace
