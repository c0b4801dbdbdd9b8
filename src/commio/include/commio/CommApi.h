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

#include "commio/PortsClass.h"
#include "commio/WindowsErrors.h"
#include "uart/ModemLines.h"

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

// A serial device's whole settings block as GetCommState answers it and
// SetCommState takes it: the DCB field by field, its bitfields as plain
// members, under the DCB's own names and numbering. The block's length
// field is not a setting: the binding fills it in for every call.
//
// The one list of its fields, in the DCB's order, each as X(type, name,
// bits) with its width in the DCB: for the block itself, the binding's
// conversion to and from a DCB, and the simulated devices' account of a
// change.
#define COMMIO_SETTINGS_FIELDS(X)                                                                               \
    X(std::uint32_t, BaudRate, 32) X(std::uint8_t, fBinary, 1) X(std::uint8_t, fParity, 1)                     \
    X(std::uint8_t, fOutxCtsFlow, 1) X(std::uint8_t, fOutxDsrFlow, 1) X(std::uint8_t, fDtrControl, 2)           \
    X(std::uint8_t, fDsrSensitivity, 1) X(std::uint8_t, fTXContinueOnXoff, 1) X(std::uint8_t, fOutX, 1)         \
    X(std::uint8_t, fInX, 1) X(std::uint8_t, fErrorChar, 1) X(std::uint8_t, fNull, 1)                           \
    X(std::uint8_t, fRtsControl, 2) X(std::uint8_t, fAbortOnError, 1) X(std::uint32_t, fDummy2, 17)             \
    X(std::uint16_t, wReserved, 16) X(std::uint16_t, XonLim, 16) X(std::uint16_t, XoffLim, 16)                 \
    X(std::uint8_t, ByteSize, 8) X(std::uint8_t, Parity, 8) X(std::uint8_t, StopBits, 8) X(char, XonChar, 8)   \
    X(char, XoffChar, 8) X(char, ErrorChar, 8) X(char, EofChar, 8) X(char, EvtChar, 8)                         \
    X(std::uint16_t, wReserved1, 16)

struct DeviceSettings {
#define COMMIO_SETTINGS_MEMBER(type, name, bits) type name;
    COMMIO_SETTINGS_FIELDS(COMMIO_SETTINGS_MEMBER)
#undef COMMIO_SETTINGS_MEMBER

    LineSettings Line() const { return LineSettings{BaudRate, ByteSize, Parity, StopBits}; }
};

// The DCB's values for how the driver handles DTR and RTS.
enum DtrControl : std::uint8_t { DtrControlDisable = 0, DtrControlEnable = 1, DtrControlHandshake = 2 };
enum RtsControl : std::uint8_t { RtsControlDisable = 0, RtsControlEnable = 1, RtsControlHandshake = 2, RtsControlToggle = 3 };

// EscapeCommFunction's codes for the two modem control outputs.
enum class Escape : std::uint32_t { SetRts = 3, ClrRts = 4, SetDtr = 5, ClrDtr = 6 };

// GetCommModemStatus's bits (MS_CTS_ON...) are a 16550's modem status bits
// for the same lines, and SetCommMask's and WaitCommEvent's bits tell of a
// change of each: both are the lines' own (uart::ModemLine::Mask, Event).

// A comm event wait: the binding's own record (on Windows a real OVERLAPPED,
// which the driver completes in place), made by WatchLines and given back
// by EndWait; the core keeps only this part of it.
struct CommWait {
    std::uint32_t events = 0; // which lines changed, once WaitResult took them
    bool armed = false;       // started and not yet collected
};

class CommApi {
public:
    virtual ~CommApi() = default;

    // CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
    // 0, NULL): an exclusive claim of the device.
    virtual std::uint32_t Open(const char *path, DeviceHandle &handle) = 0;
    // The same with FILE_FLAG_OVERLAPPED, so that a comm event wait can stay
    // pending on it; the comm calls above stay synchronous on such a handle.
    virtual std::uint32_t OpenForEvents(const char *path, DeviceHandle &handle) { return Open(path, handle); }
    // GetCommState and SetCommState, the settings block passed whole.
    virtual std::uint32_t GetState(DeviceHandle handle, DeviceSettings &settings) = 0;
    virtual std::uint32_t SetState(DeviceHandle handle, const DeviceSettings &settings) = 0;
    virtual std::uint32_t EscapeFunction(DeviceHandle handle, Escape code) = 0;
    virtual std::uint32_t ModemStatus(DeviceHandle handle, std::uint8_t &lines) = 0;
    virtual void Close(DeviceHandle handle) = 0;

    // Comm events. A driver (or system) that has none answers
    // ErrorNotSupported, and the io.dll reads the lines at every poll.
    // Nothing here ever waits: each is asked from the host's poll.
    //
    // WatchLines: SetCommMask(events), and the wait record if `wait` is
    // null (on the heap: see EndWait). StartWait: WaitCommEvent, overlapped,
    // into the record: 0 once it is pending or already completed (a driver
    // that kept events while no wait was pending completes it at once).
    // WaitPending: whether the driver still holds the wait, read from the
    // record alone with no call (HasOverlappedIoCompleted): a quiet poll
    // asks only this. WaitResult: the result of a completed wait
    // (GetOverlappedResult, no waiting): 0 and wait.events, or the wait's
    // error; ErrorIoIncomplete while the driver, done with the wait by the
    // record, has not yet given it back (ask again at a later poll). EndWait:
    // a wait still pending is cancelled; a record the driver still holds is
    // left to it, to be freed once it is given back (at a later EndWait or
    // WatchLines), or never, where the io.dll is unloaded first. `wait` is
    // null afterwards. Called before the handle is closed, whenever
    // WatchLines was.
    virtual std::uint32_t WatchLines(DeviceHandle, CommWait *&, std::uint32_t) { return ErrorNotSupported; }
    virtual std::uint32_t StartWait(DeviceHandle, CommWait &) { return ErrorNotSupported; }
    virtual bool WaitPending(const CommWait &) { return false; }
    virtual std::uint32_t WaitResult(DeviceHandle, CommWait &) { return ErrorNotSupported; }
    virtual void EndWait(DeviceHandle, CommWait *&wait) { wait = nullptr; }

    // The serial ports the system lists (the Ports device class): `visit`
    // gets each device, its texts valid only during the call, and without
    // friendly names. 0 when the list was read, also when it is empty; a
    // system that can't list its ports answers ERROR_NOT_SUPPORTED.
    using PortVisitor = PortsClassVisitor;
    virtual std::uint32_t ListPorts(PortVisitor, void *) { return ErrorNotSupported; }

    // A millisecond count that wraps at 2^32 (GetTickCount).
    virtual std::uint32_t Ticks() = 0;
    // The same count where it can be read without a call (Windows keeps it
    // in a page shared with every process), so that a quiet poll may look
    // at the time; else the call.
    virtual std::uint32_t QuietTicks() { return Ticks(); }
};

} // namespace commio
