// The port map: which COM device carries which UART. It is the text of a
// small file beside io.dll, one mapping a line:
//
//   # comments run from '#' to the end of the line
//   any = COM5        every UART the host programs is carried by COM5
//   3F8 = COM3        the UART at base 3F8h is carried by COM3
//   D040h = \\.\COM12
//   any = COM5 line=DSR invert debounce=20
//   any = usb=0403:6001:A1B2C3 COM5
//
// Keys are `any` or a UART base in hexadecimal (1 to 4 digits, an optional
// h), from LowestMappedBase to HighestMappedBase. Devices are
// COM1 to COM256 or a name in the \\.\ namespace. Explicit bases come
// before `any`: it carries every port that no explicit line claims.
//
// After the key, the device and options, in any order, separated by blanks:
//   line=CTS|DSR|DCD|RI  the device line the host reads as the UART's CTS
//                        bit (CTS when not given)
//   invert               that line reads inverted: a key that opens when
//                        pressed, or one that pulls the line low
//   debounce=MS          0 to 250: after a change of the key line is shown,
//                        further changes wait this long (0 when not given)
//   usb=VID:PID[:SERIAL] the USB adapter with these IDs (hexadecimal) and
//                        serial number, on whichever COM port it has now; a
//                        COM name beside it is used when no port carries it
// A line names a device, an adapter, or both.
//
// Reading it is a pure function: text in, mappings or one diagnostic out.
//
// The map and everything read from it are held in fixed storage
// (FixedText, MappingList): the io.dll reads it without allocating, and
// links no C++ runtime. FormatMapping and FormatUsbIdentity, which answer a
// std::string, are the host tools' (MapFormat.cpp); the io.dll never calls
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "commio/FixedText.h"
#include "uart/ModemLines.h"
#include "uart/Uart16550.h"

namespace commio {

// A mapped UART's eight registers lie in 0100h..FFFFh without wrapping:
// below 0100h are the motherboard's own ports.
constexpr std::uint16_t LowestMappedBase = 0x0100;
constexpr std::uint16_t HighestMappedBase = 0x10000 - uart::Uart16550::RegisterCount;

constexpr unsigned MaxDebounceMs = 250;
constexpr std::size_t MaxUsbSerial = 32;

// The port map's file, in the folder io.dll is loaded from.
constexpr const char *PortMapFileName = "io-ports.txt";
// The same file as Explorer names it when it hides known extensions: a new
// text document named "io-ports.txt" there is io-ports.txt.txt. What to say
// where that file stands in for the map.
constexpr const char *PortMapNamedTwice = "io-ports.txt.txt";
constexpr const char *PortMapNamedTwiceAdvice =
    "io-ports.txt.txt is there instead: Windows hides the extension .txt, so a file named io-ports.txt in "
    "Explorer became io-ports.txt.txt; rename it to io-ports.txt (with extensions shown: View, File name "
    "extensions)";
constexpr std::size_t MaxPortMapBytes = 16384;
constexpr std::size_t MaxPortMapLine = 200;
constexpr std::size_t MaxMappedUarts = 8;
// The longest device instance ID Windows makes (MAX_DEVICE_ID_LEN): a
// serial number read from one is never longer.
constexpr std::size_t MaxInstanceId = 200;
// A diagnostic: the user text in it is cut short (Quoted) but for the
// option it was likely meant to be, which carries a value as long as the
// line. The longest, that one with a whole line's value, is under 360.
constexpr std::size_t MaxPortMapError = 511;

// A device as the map names it ("COM5", "\\.\CNCA0"), and what is
// opened: never longer than the line it is on.
using DeviceText = FixedText<MaxPortMapLine>;

// A USB serial adapter as Windows names it in a device instance ID
// (USB\VID_0403&PID_6001\A1B2C3).
// A USB adapter's identity: as the map names it, and as the key tester
// reads it from a device instance ID.
struct UsbIdentity {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    // Empty: any adapter with these IDs (or one without a serial number).
    // The map holds at most MaxUsbSerial characters; the key tester reads
    // whole ones from instance IDs.
    FixedText<MaxInstanceId> serial;
    bool Known() const { return vendor != 0 || product != 0; }
};

struct PortMapping {
    bool any = false;       // carries every port no explicit line claims
    std::uint16_t base = 0; // explicit lines only
    DeviceText device;      // as written in the file ("COM5"); may be empty with `usb`
    DeviceText path;        // what is opened ("\\.\COM5"); empty with the device
    int line = 0;           // line number in the file, from 1
    uart::ModemLine input = uart::ModemLine::Cts; // a status line, named in the map as line=NAME
    bool invert = false;
    std::uint8_t debounceMs = 0;
    bool hasUsb = false;
    UsbIdentity usb;
};

// True when the mapping carries the key line as it is: CTS, not inverted,
// not debounced.
inline bool PlainWiring(const PortMapping &m)
{
    return m.input == uart::ModemLine::Cts && !m.invert && m.debounceMs == 0;
}

// The mappings of one map, in order: at most MaxMappedUarts.
class MappingList {
public:
    std::size_t size() const noexcept { return count_; }
    bool empty() const noexcept { return count_ == 0; }
    const PortMapping &operator[](std::size_t index) const noexcept { return items_[index]; }
    PortMapping &operator[](std::size_t index) noexcept { return items_[index]; }
    const PortMapping *begin() const noexcept { return items_; }
    const PortMapping *end() const noexcept { return items_ + count_; }
    PortMapping *begin() noexcept { return items_; }
    PortMapping *end() noexcept { return items_ + count_; }
    void clear() noexcept { count_ = 0; }
    // False, with nothing added, where the list is full.
    bool push_back(const PortMapping &mapping) noexcept
    {
        if (count_ == MaxMappedUarts)
            return false;
        items_[count_++] = mapping;
        return true;
    }

private:
    PortMapping items_[MaxMappedUarts];
    std::size_t count_ = 0;
};

struct PortMapResult {
    MappingList uarts;                  // explicit bases first, `any` last
    FixedText<MaxPortMapError> error;   // empty when the text was read
    int errorLine = 0;                  // the line the error is on; 0 for the whole file
    bool namesNone = false;             // the text was read, and has no mapping (comments at most)
};

PortMapResult ParsePortMap(std::string_view text);

// Whether two names are the same but for the case of ASCII letters: COM
// names, option words, USB serial numbers.
bool EqualsNoCase(std::string_view a, std::string_view b);

// The number of a COM device's name: 1 to 256 for COM1 to COM256, in any
// case, with or without the \\.\ prefix, without leading zeros; 0 for
// anything else. The one reading of a COM name, for the map, the adapter
// lookup and the key tester.
unsigned ComNumber(std::string_view name);

// One mapping as a line ParsePortMap reads back to the same mapping:
// "any = COM5 line=DSR invert debounce=20 usb=0403:6001:A1B2C3". Options
// at their defaults are left out; no line end.
std::string FormatMapping(const PortMapping &mapping);

// Whether the map can name an adapter by this serial number: 1 to
// MaxUsbSerial letters, digits, '_', '-' or '.'.
bool FitsMapSerial(std::string_view serial);

// "0403:6001:A1B2C3", or "0403:6001" without a serial number.
using UsbIdentityText = FixedText<10 + MaxInstanceId>;
UsbIdentityText UsbText(const UsbIdentity &usb);
std::string FormatUsbIdentity(const UsbIdentity &usb); // the same as a std::string

// What a device instance ID says of a USB serial adapter, the one reading
// of such IDs. Reads the USB form (USB\VID_0403&PID_6001\A1B2C3) and the
// form of adapters whose driver lists each port on a bus of its own
// (SERIALBUS\VID_0403+PID_6001+A1B2C3A\0000, where the serial number
// carries the port's letter). Windows makes up the instance part of a USB
// device without a serial number of its own ("5&2B3C&0&2"), and of an
// interface of a composite device: that is no serial number. IDs and
// letters in any case.
struct InstanceIdParts {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::string_view serial; // into the ID; empty where it carries none
    bool portLetter = false; // the serial number ends in the port's letter
};
// False when the ID names no USB adapter.
bool ReadInstanceId(std::string_view instanceId, InstanceIdParts &parts);

// Whether a device instance ID names this adapter. A serial number given
// without the port's letter matches every port of the adapter.
bool InstanceIdMatches(std::string_view instanceId, const UsbIdentity &usb);

} // namespace commio
