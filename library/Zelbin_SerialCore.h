// The key library's inner procedures and its process-wide port state.
// The exports in Zelbin_Serial.h are built on these; the platform's loader
// binding calls LibraryLoad and LibraryUnload.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

struct TComPort {
    const char *Name;
    const char *AddressText;
};

// The four standard PC serial ports; row 0 is the default.
extern const TComPort ComPortTable[4];

// Hex digit values for the characters '0' (0x30) to 'f' (0x66); -1 marks the
// characters in that range that are not hexadecimal digits.
constexpr int HexTableFirst = 0x30;
constexpr int HexTableLast = 0x66;
extern const std::int16_t HexDigitTable[HexTableLast - HexTableFirst + 1];

// Port state. All zero before LibraryLoad runs.
extern std::uint16_t PortBase;     // base of the UART that is, or was last, claimed
extern bool LastKeyState;          // key level at the last poll that read it
extern bool PortOpen;              // true while listening
extern platform::Handle PortHandle; // what the device open returned

void OpenPort(const std::string &portName, const std::string &addressText);
void ClosePort();

std::string AsciiLowerCase(const std::string &text);
int DecodeHexPairs(const char *text, std::uint8_t *buffer, int maxBytes);

// The library is attached to or detached from a process.
void LibraryLoad();
void LibraryUnload();
