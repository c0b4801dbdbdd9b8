// The port-I/O operations over COM devices: a 16550 register file for each
// mapped UART, whose modem lines and line format are carried to the COM
// device that the port map names, through the serial driver's calls.
//
// - Modem control writes: a change of DTR or RTS becomes one
//   EscapeCommFunction; OUT1, OUT2 and loopback stay in the register file.
//   In loopback the outputs feed the modem status inside the model and the
//   device's lines stay as they were.
// - Line format: when a line control write leaves DLAB clear and the
//   divisor and format differ from those last asked for, one GetCommState
//   and one SetCommState (a zero divisor is kept and not applied).
// - Modem status reads: the delta bits compare with the previous read and
//   clear on read, as on a 16550. The device is opened for comm events and
//   a WaitCommEvent on its input lines is kept pending: a read whose wait
//   has not completed makes no call at all (the wait's record says so);
//   one whose wait has completed reads GetCommModemStatus, starts the wait
//   again and reads the lines once more (see Refresh); and every
//   RefreshReads-th read reads the lines in any case, for a driver that
//   signals nothing. A driver that refuses the events gets one
//   GetCommModemStatus per read.
// - A press or release that came and went between two reads (a completed
//   wait says the key line changed, but it reads as the host last saw it)
//   is shown at the next read of the key bit, and the true level at the
//   one after: the host sees it once.
// - Ports no mapping covers: writes are dropped, reads answer FFh.
// - A mapping's wiring (input line, invert, debounce) is applied to the
//   device's lines before the modem status register sees them, so the
//   key line reads as CTS with its delta bit (KeyWiring).
// - A mapping that names a USB adapter opens, at every open and reopen,
//   the COM port that carries the adapter now (FindAdapter).
//
// The devices are claimed at the first IsDriverInstalled and held until
// Release. A device whose call fails is closed and counted lost; while
// lost its bit reads answer 0, and IsDriverInstalled tries to open it again
// at most once per RetryIntervalMs. Once open, IsDriverInstalled makes no
// call at all, nor does a modem status read while the lines are quiet;
// neither allocates, and nothing ever waits. A pending wait is cancelled
// and collected before its device is closed; when the io.dll is unloaded,
// where nothing may wait, it is cancelled and left to the driver.
//
// One thread at a time, like the key library that calls it.
#pragma once

#include <cstdint>
#include <string>

#include "commio/CommApi.h"
#include "commio/DeviceClaim.h"
#include "commio/PortMap.h"
#include "commio/AdapterLookup.h"
#include "commio/KeyWiring.h"
#include "uart/Uart16550.h"

namespace commio {

class CommIo {
public:
    static constexpr std::uint32_t RetryIntervalMs = 500;
    // While comm events are watched, every this many reads of the modem
    // status read the lines anyway, for a driver that signals nothing: a
    // tenth of a second at the usual poll every 10 ms, with no clock read.
    static constexpr std::uint8_t RefreshReads = 10;

    explicit CommIo(CommApi &api) : api_(api) {}
    CommIo(const CommIo &) = delete;
    CommIo &operator=(const CommIo &) = delete;

    // The port map to serve. Opens nothing yet.
    void Configure(const std::vector<PortMapping> &uarts);
    // Why there is no port map: the library stays idle, IsDriverInstalled
    // answers 0, and the status text is `why`. Allocates nothing.
    void ConfigureFailed(const char *why);

    std::uint8_t IsDriverInstalled();
    void PortOut(std::uint16_t port, std::uint8_t value);
    std::uint8_t PortIn(std::uint16_t port);
    std::uint16_t GetPortBit(std::uint16_t port, std::uint8_t bit);
    void SetPortBit(std::uint16_t port, std::uint8_t bit);
    void ClrPortBit(std::uint16_t port, std::uint8_t bit);

    // Which device is held, or why none is; valid until the next call.
    const char *Status();

    // Closes every device held. `unloading`: the io.dll is being unloaded,
    // under the loader lock: a pending wait is cancelled but not waited for.
    void Release(bool unloading = false);

    // For tests: the register file behind `port`, or null.
    const uart::Uart16550 *RegistersAt(std::uint16_t port);

private:
    enum class Link : std::uint8_t { NotYetOpened, Open, Closed };

    struct Uart {
        uart::Uart16550 regs;
        PortMapping map;
        Link link = Link::NotYetOpened;
        DeviceHandle handle = nullptr;
        bool dtr = false, rts = false;  // the device's outputs as last set
        bool accepted = false;          // the device took `line`
        LineSettings line{};            // re-applied at every open
        bool requested = false;         // the host asked for `wanted`
        LineSettings wanted{};
        std::uint32_t lastAttempt = 0;  // tick of the last open attempt
        const char *failedCall = nullptr; // why it is closed, or what it refused
        std::uint32_t error = 0;
        void Note(const char *call, std::uint32_t code) { failedCall = call; error = code; }
        bool wired = false; // the key line is not plain CTS
        KeyWiring wiring;
        AdapterLookup adapter; // at the last open attempt

        // Comm events: while `watch` is Watching, a wait stays pending and
        // `lines` holds the device's lines as last read.
        enum class Watch : std::uint8_t { Off, Watching, Refused } watch = Watch::Off;
        CommWait *wait = nullptr;       // the binding's record, while watching
        bool stale = true;              // `lines` not read since the open
        std::uint8_t lines = 0;         // the device's lines at the last read
        std::uint8_t shownKey = 0;      // the key's source line as the host last saw it
        uart::ModemLine keySource = uart::ModemLine::Cts;
        bool edge = false;              // a press or release the reads missed, to show next
        std::uint8_t quietReads = 0;    // reads answered from `lines` since the last device read
        // Lines a read found changed and showed while the wait still said
        // nothing: the driver's event for such a change, when it comes
        // late, is the same change, not a second one. Kept until the next
        // wait ends or, untold, for one refresh period.
        std::uint8_t untold = 0;
        const char *watchCall = nullptr; // what refused the events
        std::uint32_t watchError = 0;
    };

    // The UART behind `port`, with the register it reaches in `reg`; null
    // for a port no mapping covers.
    Uart *Find(std::uint16_t port, std::uint8_t &reg);
    // `keyRead`: the read shows the host the key bit (a missed edge is shown
    // and used up); reads of the other status bits leave it waiting.
    std::uint8_t ReadRegister(Uart &uart, std::uint8_t reg, bool keyRead = true);
    __attribute__((noinline, cold)) std::uint8_t ModemStatusFailed(Uart &uart, std::uint32_t error);
    void WriteRegister(Uart &uart, std::uint8_t reg, std::uint8_t value);
    void ChangeBit(std::uint16_t port, std::uint8_t bit, bool set);

    std::uint8_t ClaimOrRetry();
    void OpenDevice(Uart &uart);
    void NotOpened(Uart &uart, const char *call, std::uint32_t error);
    void SendLineFormat(Uart &uart);
    void SyncLines(Uart &uart);
    void CloseDevice(Uart &uart, bool mayBlock);
    void Lose(Uart &uart, const char *call, std::uint32_t error);
    void StartWatching(Uart &uart);
    // Brings uart.lines up to date: no call at all while the wait is pending
    // and no refresh is due. 0, or the error that loses the device (with
    // lostCall_ naming the call).
    std::uint32_t Sample(Uart &uart)
    {
        if (uart.watch != Uart::Watch::Watching)
            return ReadLines(uart);
        if (!uart.stale && api_.WaitPending(*uart.wait) && ++uart.quietReads < RefreshReads)
            return 0;
        return Refresh(uart);
    }
    std::uint32_t ReadLines(Uart &uart)
    {
        lostCall_ = "GetCommModemStatus";
        return api_.ModemStatus(uart.handle, uart.lines);
    }
    // The lines to show: the device's, with a missed edge of the key line
    // in place of its level when the host reads the key bit.
    std::uint8_t LinesToShow(Uart &uart, bool keyRead)
    {
        std::uint8_t lines = uart.lines;
        if (keyRead) {
            if (__builtin_expect(uart.edge, 0)) {
                lines = static_cast<std::uint8_t>(lines ^ uart.keySource.Mask());
                uart.edge = false;
                ++recovered_;
            }
            uart.shownKey = lines;
        }
        return lines;
    }
    __attribute__((noinline)) std::uint32_t Refresh(Uart &uart);
    // A wait that ended in an error: true for a removed device (lostCall_
    // set); else the lines are read at every poll from here on.
    bool WaitFailed(Uart &uart, std::uint32_t error);
    void WatchRefused(Uart &uart, const char *call, std::uint32_t error);

    static constexpr std::size_t MaxUarts = MaxMappedUarts;
    CommApi &api_;
    Uart uarts_[MaxUarts];
    std::uint8_t count_ = 0;    // mapped UARTs
    std::uint8_t explicit_ = 0; // of which the first `explicit_` have a base
    std::uint8_t open_ = 0;     // devices open now
    bool allOpen_ = false; // every mapped device open: IsDriverInstalled's answer without a call
    bool configured_ = false;
    bool claimed_ = false;
    const char *lostCall_ = nullptr;
    std::uint32_t missedByEvents_ = 0; // refreshes that found a change no event told of
    std::uint32_t recovered_ = 0;      // presses and releases shown that fell between two reads
    char why_[320] = "no port map read yet";
    char status_[320] = {};
};

} // namespace commio
