#define ZELBIN_API
#include "Zelbin_Serial.h"

#include "ExStrUtils.h"
#include "Zelbin_SerialCore.h"

namespace {

// UART registers, as offsets from the base address.
constexpr std::uint16_t RegDivisorLow = 0;
constexpr std::uint16_t RegDivisorHigh = 1; // interrupt enable while DLAB is off
constexpr std::uint16_t RegInterruptEnable = 1;
constexpr std::uint16_t RegFifoControl = 2;
constexpr std::uint16_t RegLineControl = 3;
constexpr std::uint16_t RegModemControl = 4;
constexpr std::uint16_t RegModemStatus = 6;

constexpr std::uint8_t BitDtr = 0; // in the modem control register
constexpr std::uint8_t BitCts = 4; // in the modem status register

// CreateFileA arguments for an exclusive read-write claim of the device.
constexpr std::uint32_t GenericReadWrite = 0xC0000000u;
constexpr std::uint32_t NoSharing = 0;
constexpr std::uint32_t OpenExisting = 3;

// Register addresses wrap at 65536, like the 16-bit I/O space itself.
std::uint16_t Reg(std::uint16_t offset) { return static_cast<std::uint16_t>(PortBase + offset); }

bool DriverPresent() { return platform::IsDriverInstalled() != 0; }

} // namespace

const TComPort ComPortTable[4] = {
    {"COM1", "3F8h"},
    {"COM2", "2F8h"},
    {"COM3", "3E8h"},
    {"COM4", "2E8h"},
};

const std::int16_t HexDigitTable[HexTableLast - HexTableFirst + 1] = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  9,                              // '0'..'9'
    -1, -1, -1, -1, -1, -1, -1,                                         // ':'..'@'
    10, 11, 12, 13, 14, 15,                                             // 'A'..'F'
    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, // 'G'..'W'
    -1, -1, -1, -1, -1, -1, -1, -1, -1,                                 // 'X'..'`'
    10, 11, 12, 13, 14, 15,                                             // 'a'..'f'
};

std::uint16_t PortBase;
bool LastKeyState;
bool PortOpen;
platform::Handle PortHandle;

std::string AsciiLowerCase(const std::string &text)
{
    std::string lower(text);
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 0x20);
    return lower;
}

int DecodeHexPairs(const char *text, std::uint8_t *buffer, int maxBytes)
{
    auto inRange = [](char c) {
        auto code = static_cast<unsigned char>(c);
        return code >= HexTableFirst && code <= HexTableLast;
    };
    int written = 0;
    // The range test is the only check: a character inside '0'..'f' that is
    // not a hex digit counts as -1 (":8" gives 0xF8). A NUL fails the test, so
    // the second character is only read when the first one was in range.
    while (written < maxBytes && inRange(text[0]) && inRange(text[1])) {
        int value = 16 * HexDigitTable[static_cast<unsigned char>(text[0]) - HexTableFirst] +
                    HexDigitTable[static_cast<unsigned char>(text[1]) - HexTableFirst];
        buffer[written++] = static_cast<std::uint8_t>(value & 0xFF);
        text += 2;
    }
    return written;
}

void ClosePort()
{
    if (!PortOpen)
        return;
    platform::CloseHandle(PortHandle);
    PortOpen = false;
}

void OpenPort(const std::string &portName, const std::string &addressText)
{
    if (PortOpen)
        ClosePort();
    if (!DriverPresent())
        return;

    // Address text: hex digits, most significant first, then one suffix
    // character that is dropped unseen. Short texts are padded to four digits.
    std::string digits = AsciiLowerCase(addressText.substr(0, addressText.empty() ? 0 : addressText.size() - 1));
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), '0');
    // Bytes that decoding stops short of stay zero: "0x3F8h" gives 0x0000 and
    // "12x4h" gives 0x1200.
    std::uint8_t base[2] = {0, 0};
    DecodeHexPairs(digits.c_str(), base, 2);
    PortBase = static_cast<std::uint16_t>(base[0] * 256 + base[1]);

    // The handle is kept unexamined: a device that can't be opened still
    // leaves the library listening, and the close later gets the same value
    // (INVALID_HANDLE_VALUE, which Windows also reads as the process's
    // pseudo-handle and closes harmlessly).
    PortHandle = platform::CreateFileA(portName.c_str(), GenericReadWrite, NoSharing, nullptr, OpenExisting, 0,
                                       nullptr);
    PortOpen = true;

    // 2400 baud (divisor 48), 8 data bits, odd parity, 1 stop bit, no
    // interrupts, FIFOs on without a reset, RTS and OUT2 on, DTR off.
    platform::PortOut(Reg(RegLineControl), 0x80);
    platform::PortOut(Reg(RegDivisorLow), 0x30);
    platform::PortOut(Reg(RegDivisorHigh), 0x00);
    platform::PortOut(Reg(RegLineControl), 0x0B);
    platform::PortOut(Reg(RegInterruptEnable), 0x00);
    platform::PortOut(Reg(RegFifoControl), 0xC1);
    platform::PortOut(Reg(RegModemControl), 0x0A);
}

void LibraryLoad()
{
    LastKeyState = false;
    PortOpen = false;
}

// A port the host didn't release keeps its handle until the process ends;
// the UART is not touched either.
void LibraryUnload() {}

extern "C" {

void ZELBIN_CALL ZelbinStartListen(const char *params)
{
    try {
        const TSplitArray items = Split(params ? params : "", ";");
        const std::string first = items.size() > 0 ? items[0] : std::string();
        const std::string second = items.size() > 1 ? items[1] : std::string();

        std::string name = ComPortTable[0].Name;
        std::string address = ComPortTable[0].AddressText;
        if (items.size() == 1) {
            for (const TComPort &row : ComPortTable) {
                if (first == row.Name) {
                    name = row.Name;
                    address = row.AddressText;
                    break;
                }
            }
        } else if (items.size() >= 2) {
            name = first;
            address = second;
        }
        OpenPort(name, address);
    } catch (...) {
        // Out of memory while preparing the texts: silent, like every other
        // failure. All allocation happens before the device open, so no
        // handle is lost and the library is left idle.
    }
}

void ZELBIN_CALL ZelbinStopListen(void) { ClosePort(); }

ZelbinBool ZELBIN_CALL ZelbinIsZBToggle(void)
{
    if (!PortOpen || !DriverPresent())
        return 0;
    const bool level = platform::GetPortBit(Reg(RegModemStatus), BitCts) != 0;
    if (level == LastKeyState)
        return 0;
    LastKeyState = level;
    return level ? 1 : 0;
}

void ZELBIN_CALL ZelbinSetToggled(ZelbinBool toggled)
{
    if (!PortOpen || !DriverPresent())
        return;
    if (toggled != 0)
        platform::SetPortBit(Reg(RegModemControl), BitDtr);
    else
        platform::ClrPortBit(Reg(RegModemControl), BitDtr);
}

ZelbinBool ZELBIN_CALL ZelbinIsCustom(void) { return 1; }

} // extern "C"
