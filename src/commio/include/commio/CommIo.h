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
//   a WaitCommEvent on the key's line alone is kept pending: a read of the
//   key bit whose wait has not completed makes no call at all (the wait's
//   record says so, and the time comes from memory); one whose wait has
//   completed collects it, starts the next and reads the lines around that
//   start (see Refresh); every RefreshReads-th read of the key bit, and the
//   first after a pause of GapMs, reads the lines in any case, for a driver
//   that signals nothing and for a PC that slept. A read that needs the
//   other lines reads them: no event watches them. A key on RI is read at
//   every poll, as Windows tells RI's trailing edge only. A driver that
//   refuses the events gets one GetCommModemStatus per read. What the reads
//   and the events mean for the host is KeyLineTracker's to decide.
// - A press or release that came and went between two reads is shown at
//   the next read of the key bit, and the true level at the one after: the
//   host sees it once.
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
// at most once per RetryIntervalMs; one whose mapping names a USB adapter,
// which every attempt looks up in the system's port list, waits twice as
// long after each attempt that fails, up to MaxAdapterRetryMs. Once open,
// IsDriverInstalled makes no call at all, nor does a read of the key bit
// while the key is quiet; neither allocates, and nothing ever waits. A
// pending wait is cancelled before its device is closed, and left to the
// driver until it gives the record back.
//
// One thread at a time, like the key library that calls it.
#pragma once

#include <cstdint>

#include "CommPortIo.h"
#include "commio/CommApi.h"
#include "commio/DeviceClaim.h"
#include "commio/FixedText.h"
#include "commio/PortMap.h"
#include "commio/AdapterLookup.h"
#include "commio/KeyLineTracker.h"
#include "commio/KeyWiring.h"
#include "uart/Uart16550.h"

namespace commio {

class CommIo {
public:
    static constexpr std::uint32_t RetryIntervalMs = 500;
    // The longest wait between two attempts to open a missing USB adapter:
    // at most this long after it is plugged in again, a poll finds it.
    static constexpr std::uint32_t MaxAdapterRetryMs = 4000;
    // While comm events are watched, every this many reads of the modem
    // status read the lines anyway, for a driver that signals nothing: a
    // tenth of a second at the usual poll every 10 ms, with no clock read.
    static constexpr std::uint8_t RefreshReads = 10;
    // A pause in the reads this long (a host held up, a PC that slept,
    // after which Windows' driver reads its lines again and tells no
    // event) and the next read of the key bit reads the lines first.
    static constexpr std::uint32_t GapMs = 1000;
    // A wait that ends at once as it starts (a driver that kept events
    // while none was pending) is collected and started again, this many
    // times at the most in one read.
    static constexpr std::uint8_t MaxStarts = 4;
    // The status text, and why there is no port map: a line of up to this
    // many characters; a longer status ends in "...".
    static constexpr std::size_t MaxStatus = 319;

    explicit CommIo(CommApi &api) : api_(api) { why_ = "no port map read yet"; }
    CommIo(const CommIo &) = delete;
    CommIo &operator=(const CommIo &) = delete;

    // The port map to serve. Opens nothing yet.
    void Configure(const MappingList &uarts);
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
    // Made from the records UartStatus gives.
    const char *Status();
    // The number of mapped UARTs (0 without a map), and the record of UART
    // `index` into `*out` where it is one of them: at most out->size bytes
    // of it, out->size then the bytes filled (CommPortIo.h).
    std::uint32_t UartStatus(std::uint32_t index, CommIoUart *out) const;

    // Closes every device held: the io.dll is being unloaded. Waits for
    // nothing (the loader lock is held): a pending wait is cancelled and
    // left to the driver.
    void Release();

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
        std::uint32_t retryMs = RetryIntervalMs; // from it to the next
        const char *failedCall = nullptr; // why it is closed, or what it refused
        std::uint32_t error = 0;
        void Note(const char *call, std::uint32_t code) { failedCall = call; error = code; }
        bool wired = false; // the key line is not plain CTS
        KeyWiring wiring;
        AdapterLookup adapter; // at the last open attempt

        // Comm events: while `watch` is Watching, a wait on the key's line
        // stays pending, and `tracker` holds the lines as last read.
        enum class Watch : std::uint8_t { Off, Watching, Refused } watch = Watch::Off;
        CommWait *wait = nullptr;       // the binding's record, while watching
        KeyLineTracker tracker;
        uart::ModemLine keySource = uart::ModemLine::Cts;
        bool readEveryPoll = false;     // the key is on RI
        std::uint8_t quietReads = 0;    // key reads answered without a device read
        std::uint32_t lastKeyRead = 0;  // QuietTicks at the last read of the key bit
        const char *watchCall = nullptr; // what refused the events
        std::uint32_t watchError = 0;
        // Of the devices this UART held and closed since the first claim
        // (the open one's tracker counts its own): presses and releases
        // shown that fell between two reads, and key changes that a read
        // found before the driver told.
        std::uint32_t edgesShown = 0, foundBeforeTold = 0;
    };

    // The record of one UART, whole.
    void Describe(const Uart &uart, CommIoUart &record) const;

    // The UART behind `port`, with the register it reaches in `reg`; null
    // for a port no mapping covers.
    Uart *Find(std::uint16_t port, std::uint8_t &reg);
    // What a read of the modem status needs: the key bit alone (the poll),
    // or the other lines too; and whether it shows the host the key bit
    // (an edge owed is shown and used up).
    enum class Need : std::uint8_t { KeyBit, AllLines, OtherBits };
    std::uint8_t ReadRegister(Uart &uart, std::uint8_t reg, Need need = Need::AllLines);
    __attribute__((noinline, cold)) std::uint8_t ModemStatusFailed(Uart &uart, std::uint32_t error);
    void WriteRegister(Uart &uart, std::uint8_t reg, std::uint8_t value);
    void ChangeBit(std::uint16_t port, std::uint8_t bit, bool set);

    std::uint8_t ClaimOrRetry();
    void OpenDevice(Uart &uart);
    void NotOpened(Uart &uart, const char *call, std::uint32_t error);
    void SendLineFormat(Uart &uart);
    void SyncLines(Uart &uart);
    void CloseDevice(Uart &uart);
    void Lose(Uart &uart, const char *call, std::uint32_t error);
    void StartWatching(Uart &uart);
    // Brings the tracker up to date: no call at all when only the key bit
    // is asked for, its wait is pending, and no refresh is due. 0, or the
    // error that loses the device (with lostCall_ naming the call).
    std::uint32_t Sample(Uart &uart, Need need)
    {
        if (uart.watch != Uart::Watch::Watching)
            return ReadLines(uart, KeyLineTracker::Read::Unwatched);
        if (need == Need::KeyBit && uart.tracker.Known() && !uart.readEveryPoll && api_.WaitPending(*uart.wait)) {
            const std::uint32_t now = api_.QuietTicks();
            const bool paused = now - uart.lastKeyRead >= GapMs;
            uart.lastKeyRead = now;
            if (++uart.quietReads < RefreshReads && !paused)
                return 0;
        }
        return Refresh(uart);
    }
    // A device read of the lines, for the tracker. Out of line: the quiet
    // poll that doesn't read keeps to registers.
    __attribute__((noinline)) std::uint32_t ReadLines(Uart &uart, KeyLineTracker::Read read);
    // The pending wait may tell of a change a read counted: SetCommMask
    // ends it, so that it does within the driver's period, and the next
    // starts from lines the reads know.
    __attribute__((noinline, cold)) std::uint32_t StartAfresh(Uart &uart);
    __attribute__((noinline)) std::uint32_t Refresh(Uart &uart);
    // Collects a completed wait and starts the next, until one stays
    // pending; then reads the lines. 0 or the error that loses the device.
    std::uint32_t Rearm(Uart &uart);
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
    FixedText<MaxStatus> why_; // set as it is made: a blank io.dll image holds none of it
    FixedText<MaxStatus> status_;
};

} // namespace commio
