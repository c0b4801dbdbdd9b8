#include "commio/LineFormat.h"

namespace commio {

LineSettings LineFromRegisters(std::uint8_t lcr, std::uint16_t divisor)
{
    LineSettings line{};
    line.baud = UartBaudClock / divisor;
    line.dataBits = static_cast<std::uint8_t>(5 + (lcr & 0x03));
    // Bit 2 selects the longer stop: one and a half bits with five data
    // bits, two with more.
    if (lcr & 0x04)
        line.stopBits = line.dataBits == 5 ? OneAndHalfStopBits : TwoStopBits;
    else
        line.stopBits = OneStopBit;
    // Bit 3 enables parity, bit 4 makes it even, bit 5 sticks it at the
    // opposite of bit 4: mark for odd, space for even.
    static constexpr std::uint8_t parities[4] = {OddParity, EvenParity, MarkParity, SpaceParity};
    line.parity = (lcr & 0x08) ? parities[(lcr >> 4) & 0x03] : static_cast<std::uint8_t>(NoParity);
    return line;
}

} // namespace commio
