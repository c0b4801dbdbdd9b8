// Which device and which UART base a parameter text selects, as seen in the
// calls one start makes.
#include "Harness.h"

namespace {

struct Selection {
    const char *params; // nullptr: the host passes a null pointer
    const char *device;
    std::uint16_t base;
    const char *handle = nullptr; // what the device open returns; nullptr: the first handle, h1
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
    EXPECT_EQ(TakeCalls(), StartCalls(s.device, s.base, s.handle ? s.handle : "h1"));
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
    Selection{"COM9;2E8h", "COM9", 0x02E8, "INVALID_HANDLE_VALUE"}, // the table is not consulted
    Selection{"COM2;3E8h", "COM2", 0x03E8},
    Selection{"COM3;3E8h;extra", "COM3", 0x03E8},
    Selection{";3F8h", "", 0x03F8, "INVALID_HANDLE_VALUE"},         // the empty device name
    Selection{"\\\\.\\COM10;2E8h", "\\\\.\\COM10", 0x02E8, "INVALID_HANDLE_VALUE"}));

struct Decoding {
    const char *address;
    std::uint16_t base;
};

std::ostream &operator<<(std::ostream &os, const Decoding &d) { return os << "'" << d.address << "'"; }

class AddressDecoding : public KeyLibraryTest, public ::testing::WithParamInterface<Decoding> {};

TEST_P(AddressDecoding, GivesTheBaseOfTheUartWrites)
{
    const Decoding &d = GetParam();
    lib.StartListen(("COM1;" + std::string(d.address)).c_str());
    EXPECT_EQ(TakeCalls(), StartCalls("COM1", d.base));
}

INSTANTIATE_TEST_SUITE_P(Table, AddressDecoding, ::testing::Values(
    Decoding{"3F8h", 0x03F8}, Decoding{"2F8h", 0x02F8}, Decoding{"3E8h", 0x03E8}, Decoding{"2E8h", 0x02E8},
    Decoding{"3f8h", 0x03F8},       // lower-case digits alike
    Decoding{"03F8h", 0x03F8},
    Decoding{"12345h", 0x1234},     // only four digits are decoded
    Decoding{"1234567h", 0x1234},
    Decoding{"ABCDx", 0xABCD},      // any suffix character
    Decoding{"1:8h", 0x01F8},       // ':' counts as -1: 16*-1 + 8
    Decoding{"13:h", 0x012F},       // 16*3 - 1
    Decoding{"3@8h", 0x03F8},       // '@' is in range, -1
    Decoding{"1[8h", 0x01F8},       // '[' is in range and not lower-cased
    Decoding{"1`8h", 0x01F8},       // backquote, the last -1 before 'a'
    Decoding{"3G8h", 0x0300},       // 'G' becomes 'g', out of range: decoding stops
    Decoding{"12x4h", 0x1200},      // ... in the second pair; what's unwritten is zero
    Decoding{"12\xC8" "4h", 0x1200}, // bytes above 0x7F are out of range
    Decoding{"0100h", 0x0100},      // the lowest base a UART can have
    Decoding{"FFF9h", 0xFFF9}));    // the highest: its registers end at FFFFh

// A base whose registers would reach below 0100h, the motherboard's own
// ports, or wrap past FFFFh is refused after the driver check: no device is
// opened and no port written, as after a start without the driver.
class RefusedBase : public KeyLibraryTest, public ::testing::WithParamInterface<const char *> {};

TEST_P(RefusedBase, LeavesTheLibraryIdleWithoutTouchingAPortOrDevice)
{
    lib.StartListen(GetParam());
    EXPECT_EQ(TakeCalls(), std::vector<std::string>{"IsDriverInstalled() -> 1"});
    EXPECT_EQ(lib.HandlesHeld(), 0);
    EXPECT_EQ(lib.IsZBToggle(), 0);
    lib.SetToggled(1);
    lib.StopListen();
    EXPECT_EQ(TakeCalls(), std::vector<std::string>{}) << "idle: polls, toggles and stops touch nothing";
}

INSTANTIATE_TEST_SUITE_P(Typos, RefusedBase, ::testing::Values(
    "COM1;00FFh",               // the highest base below the limit
    "COM1;FFFAh",               // base+6 would wrap to 0000h
    "COM1;FFFFh",
    "COM9;2E8",                 // no suffix: 002Eh, the chipset's configuration ports
    "COM2;0x2F8h",              // a C prefix decodes to 0000h
    "COM2;;",                   // an empty address
    "COM1;h",
    "COM1;3F8",                 // 003Fh
    "COM1;\xC3\xA9\xC3\xA8h",   // non-ASCII bytes
    "COM1;0:8h"));              // 00F8h

TEST_F(KeyLibraryTest, RestartOntoARefusedBaseReleasesTheHeldDeviceAndStaysIdle)
{
    lib.StartListen("COM2");
    lib.SetCts(0x02F8, true);
    EXPECT_EQ(lib.IsZBToggle(), 1);
    lib.ClearTranscript();
    lib.StartListen("COM2;2F8");
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"CloseHandle(h1) -> 1", "IsDriverInstalled() -> 1"}));
    EXPECT_EQ(lib.HandlesHeld(), 0);
    EXPECT_EQ(lib.IsZBToggle(), 0);
    EXPECT_EQ(TakeCalls(), std::vector<std::string>{});
    // The next good start reaches the old base's UART again: PortBase and
    // the last key state were kept.
    lib.StartListen("COM2");
    lib.ClearTranscript();
    EXPECT_EQ(lib.IsZBToggle(), 0) << "the key is still held: no new press";
}

} // namespace
