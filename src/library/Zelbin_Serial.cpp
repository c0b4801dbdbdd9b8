#define ZELBIN_API
#include "Zelbin_Serial.h"

#include "library/PortChoice.h"
#include "library/Zelbin_SerialCore.h"

namespace library {

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
std::uint16_t Reg(std::uint16_t offset) { return static_cast<std::uint16_t>(portState.PortBase + offset); }

bool DriverPresent() { return platform::IsDriverInstalled() != 0; }

} // namespace

PortState portState;

void ClosePort()
{
    if (!portState.PortOpen)
        return;
    platform::CloseHandle(portState.PortHandle);
    portState.PortOpen = false;
}

void OpenPort(const TText &portName, const TText &addressText)
{
    if (portState.PortOpen)
        ClosePort();
    if (!DriverPresent())
        return;

    // A base whose registers would reach below 0100h or wrap past FFFFh is a
    // mistyped address: no UART can sit there, and the set-up bytes would go
    // to the motherboard's own ports. Such a start leaves the library idle
    // and PortBase as it was.
    const std::uint16_t base = DecodeBaseAddress(addressText);
    if (!IsUartBase(base))
        return;
    portState.PortBase = base;

    // The handle is kept unexamined: a device that can't be opened still
    // leaves the library listening, and the close later gets the same value
    // (INVALID_HANDLE_VALUE, which Windows also reads as the process's
    // pseudo-handle and closes harmlessly).
    portState.PortHandle = platform::CreateFileA(portName.Data(), GenericReadWrite, NoSharing, nullptr,
                                                 OpenExisting, 0, nullptr);
    portState.PortOpen = true;

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

void Load()
{
    portState.LastKeyState = false;
    portState.PortOpen = false;
}

// A port the host didn't release keeps its handle until the process ends;
// the UART is not touched either.
void Unload() {}

} // namespace library

using library::portState;

extern "C" {

void ZELBIN_CALL ZelbinStartListen(const char *params)
{
    const library::PortChoice choice = library::ChoosePort(params);
    if (choice.outOfMemory) {
        // Out of memory while preparing the texts: silent, like every other
        // failure. All allocation happens before the device open, so no
        // handle is lost; and a start releases the port it held whatever
        // happens next, so the library is left idle, not on the old port.
        library::ClosePort();
        return;
    }
    library::OpenPort(choice.portName, choice.addressText);
}

void ZELBIN_CALL ZelbinStopListen(void) { library::ClosePort(); }

ZelbinBool ZELBIN_CALL ZelbinIsZBToggle(void)
{
    if (!portState.PortOpen || !library::DriverPresent())
        return 0;
    const bool level = platform::GetPortBit(library::Reg(library::RegModemStatus), library::BitCts) != 0;
    if (level == portState.LastKeyState)
        return 0;
    portState.LastKeyState = level;
    return level ? 1 : 0;
}

void ZELBIN_CALL ZelbinSetToggled(ZelbinBool toggled)
{
    if (!portState.PortOpen || !library::DriverPresent())
        return;
    if (toggled != 0)
        platform::SetPortBit(library::Reg(library::RegModemControl), library::BitDtr);
    else
        platform::ClrPortBit(library::Reg(library::RegModemControl), library::BitDtr);
}

ZelbinBool ZELBIN_CALL ZelbinIsCustom(void) { return 1; }

} // extern "C"
