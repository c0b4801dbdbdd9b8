#define ZELBIN_API
#include "Zelbin_Serial.h"

#include "library/PortChoice.h"
#include "library/Zelbin_SerialCore.h"

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

std::uint16_t PortBase;
bool LastKeyState;
bool PortOpen;
platform::Handle PortHandle;

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

    // A base whose registers would reach below 0100h or wrap past FFFFh is a
    // mistyped address: no UART can sit there, and the set-up bytes would go
    // to the motherboard's own ports. Such a start leaves the library idle
    // and PortBase as it was.
    const std::uint16_t base = DecodeBaseAddress(addressText);
    if (!IsUartBase(base))
        return;
    PortBase = base;

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

void ClearPortStateAsInANewProcess()
{
    PortBase = 0;
    LastKeyState = false;
    PortOpen = false;
    PortHandle = nullptr;
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
        const TPortChoice choice = ChoosePort(params);
        OpenPort(choice.PortName, choice.AddressText);
    } catch (...) {
        // Out of memory while preparing the texts: silent, like every other
        // failure. All allocation happens before the device open, so no
        // handle is lost; and a start releases the port it held whatever
        // happens next, so the library is left idle, not on the old port.
        ClosePort();
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
