// What the comm-port io.dll needs from the operating system: the serial
// driver's calls on a COM device, the list of serial ports the system
// knows, and a millisecond clock. The Windows
// binding passes each call to kernel32; the simulator's COM devices stand in
// for it on the host.
//
// Every call answers a Windows error code: 0 for success, otherwise what
// GetLastError gave. Codes are Windows's own numbers on every build, so that
// the policy that reads them is the same code everywhere.
#pragma once

#include <cstdint>

namespace commio {

using DeviceHandle = void *;

// Line format as the serial driver takes it (the DCB's own numbering).
enum Parity : std::uint8_t { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
enum StopBits : std::uint8_t { OneStopBit = 0, OneAndHalfStopBits = 1, TwoStopBits = 2 };

struct LineSettings {
    std::uint32_t baud;
    std::uint8_t dataBits; // 5 to 8
    std::uint8_t parity;   // Parity
    std::uint8_t stopBits; // StopBits
    bool operator==(const LineSettings &o) const
    {
        return baud == o.baud && dataBits == o.dataBits && parity == o.parity && stopBits == o.stopBits;
    }
    bool operator!=(const LineSettings &o) const { return !(*this == o); }
};

// One SetCommState: flow control always off, DTR and RTS held at the given
// levels by the driver (DTR_CONTROL_ENABLE/DISABLE, RTS_CONTROL_ENABLE/
// DISABLE), and the line format when `line` is not null; without it the
// device keeps the format it has.
struct StateRequest {
    const LineSettings *line;
    bool dtr;
    bool rts;
};

// EscapeCommFunction's codes for the two modem control outputs.
enum class Escape : std::uint32_t { SetRts = 3, ClrRts = 4, SetDtr = 5, ClrDtr = 6 };

// GetCommModemStatus's bits; they sit where a 16550's modem status register
// has the same lines.
constexpr std::uint8_t ModemCts = 0x10, ModemDsr = 0x20, ModemRing = 0x40, ModemDcd = 0x80;

class CommApi {
public:
    virtual ~CommApi() = default;

    // CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
    // 0, NULL): an exclusive claim of the device.
    virtual std::uint32_t Open(const char *path, DeviceHandle &handle) = 0;
    virtual std::uint32_t SetState(DeviceHandle handle, const StateRequest &request) = 0;
    virtual std::uint32_t EscapeFunction(DeviceHandle handle, Escape code) = 0;
    virtual std::uint32_t ModemStatus(DeviceHandle handle, std::uint8_t &lines) = 0;
    virtual void Close(DeviceHandle handle) = 0;

    // The serial ports the system lists (the Ports device class): `visit`
    // gets each one's device instance ID (USB\VID_0403&PID_6001\A1B2C3) and
    // its PortName ("COM7"), both valid only during the call. 0 when the
    // list was read, also when it is empty; a system that can't list its
    // ports answers ERROR_NOT_SUPPORTED.
    using PortVisitor = void (*)(void *context, const char *instanceId, const char *portName);
    virtual std::uint32_t ListPorts(PortVisitor visit, void *context)
    {
        (void)visit;
        (void)context;
        return 50; // ERROR_NOT_SUPPORTED
    }

    // A millisecond count that wraps at 2^32 (GetTickCount).
    virtual std::uint32_t Ticks() = 0;
};

} // namespace commio
