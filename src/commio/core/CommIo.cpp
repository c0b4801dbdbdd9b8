#include "commio/CommIo.h"

#include "commio/DeviceClaim.h"
#include "commio/LineFormat.h"
#include "commio/WindowsErrors.h"

namespace commio {

using Regs = uart::Uart16550;

void CommIo::Configure(const MappingList &uarts)
{
    ConfigureFailed("the port map names no COM device"); // until a mapping is taken
    for (const PortMapping &map : uarts) {
        if (count_ == MaxUarts)
            break;
        Uart &uart = uarts_[count_++];
        uart = Uart{};
        uart.regs = Regs::PowerOn(map.base);
        uart.map = map;
        uart.wiring.Configure(map);
        uart.wired = !PlainWiring(map);
        uart.keySource = map.input;
        uart.readEveryPoll = uart.keySource == uart::ModemLine::Ri;
        if (!map.any)
            ++explicit_;
    }
    configured_ = count_ > 0;
    claimed_ = false;
}

void CommIo::ConfigureFailed(const char *why)
{
    count_ = explicit_ = open_ = 0;
    allOpen_ = false;
    configured_ = false;
    why_ = why;
}

// ---- Claim, loss and reopening ------------------------------------------

std::uint8_t CommIo::IsDriverInstalled()
{
    if (allOpen_)
        return 1;
    return ClaimOrRetry();
}

std::uint8_t CommIo::ClaimOrRetry()
{
    if (!configured_)
        return 0;
    if (!claimed_) {
        claimed_ = true;
        for (std::uint8_t i = 0; i < count_; ++i)
            OpenDevice(uarts_[i]);
    } else {
        const std::uint32_t now = api_.Ticks();
        for (std::uint8_t i = 0; i < count_; ++i) {
            Uart &uart = uarts_[i];
            if (uart.link != Link::Open && now - uart.lastAttempt >= uart.retryMs) {
                OpenDevice(uart);
                // Each attempt for an adapter lists the system's ports (a
                // walk of the Ports class, with a registry key opened per
                // port): while it stays missing, the wait doubles. A plain
                // COM name costs a failed open and is tried as often as
                // ever; an open device starts again from the shortest wait.
                uart.retryMs = uart.link == Link::Open || !uart.map.hasUsb ? RetryIntervalMs
                               : uart.retryMs >= MaxAdapterRetryMs / 2 ? MaxAdapterRetryMs
                                                                       : 2 * uart.retryMs;
            }
        }
    }
    return open_ > 0 ? 1 : 0;
}

void CommIo::OpenDevice(Uart &uart)
{
    uart.lastAttempt = api_.Ticks();
    DeviceHandle handle = nullptr;
    const char *path = FindAdapter(api_, uart.map, uart.adapter);
    if (*path == '\0') // an adapter that no port carries now, and no COM name to use instead
        return NotOpened(uart, nullptr, 0);
    if (const std::uint32_t openError = api_.OpenForEvents(path, handle))
        return NotOpened(uart, "CreateFile", openError);
    // Hand DTR and RTS to us, both off, before anything else: the driver
    // would otherwise raise them for the open. The line format is the one
    // the device last accepted, if any.
    const LineSettings *line = uart.accepted ? &uart.line : nullptr;
    const char *call = nullptr;
    std::uint32_t error = ApplyKeyLineState(api_, handle, line, false, false, call);
    if (error && line && call == kSetCommState) {
        // Perhaps another adapter, which can't make that format: claim it
        // with its own, and ask for ours again below (a refusal is kept).
        error = ApplyKeyLineState(api_, handle, nullptr, false, false, call);
        uart.accepted = false;
    }
    if (error) {
        // Not a serial port we can drive: don't keep it.
        api_.Close(handle);
        return NotOpened(uart, call, error);
    }
    uart.handle = handle;
    uart.link = Link::Open;
    uart.dtr = uart.rts = false;
    uart.Note(nullptr, 0);
    ++open_;
    allOpen_ = open_ == count_;
    if (uart.requested && !(uart.accepted && uart.wanted == uart.line)) {
        SendLineFormat(uart);
        if (uart.link != Link::Open)
            return; // gone again at once
    }
    SyncLines(uart);
    if (uart.link == Link::Open)
        StartWatching(uart);
}

void CommIo::NotOpened(Uart &uart, const char *call, std::uint32_t error)
{
    uart.link = Link::Closed;
    uart.Note(call, error);
}

// ---- Comm events ------------------------------------------------------------

void CommIo::StartWatching(Uart &uart)
{
    uart.tracker.Start(uart.keySource.Mask());
    uart.quietReads = 0;
    uart.lastKeyRead = api_.QuietTicks();
    uart.watchCall = nullptr;
    uart.watchError = 0;
    // Only the key's line: a change of another line would end the wait and
    // open a gap around its next start for nothing. The others are read
    // when something asks for them.
    const char *call = "SetCommMask";
    std::uint32_t error = api_.WatchLines(uart.handle, uart.wait, uart.keySource.Event());
    uart.watch = Uart::Watch::Watching; // EndWait from here on, whatever follows
    if (error == 0) {
        call = "WaitCommEvent";
        error = api_.StartWait(uart.handle, *uart.wait);
        uart.wait->armed = error == 0;
    }
    // A refusal here keeps the device, whatever the code: it was just set up,
    // and a device that is really gone fails its next line read. What the
    // first wait tells, before the first read, is no press; it is collected
    // there.
    if (error != 0)
        WatchRefused(uart, call, error);
}

void CommIo::WatchRefused(Uart &uart, const char *call, std::uint32_t error)
{
    // Not every driver has comm events: read the lines at every poll, as
    // before there were any.
    api_.EndWait(uart.handle, uart.wait);
    uart.watch = Uart::Watch::Refused;
    uart.watchCall = call;
    uart.watchError = error;
}

std::uint32_t CommIo::Refresh(Uart &uart)
{
    uart.quietReads = 0;
    uart.lastKeyRead = api_.QuietTicks();
    if (api_.WaitPending(*uart.wait))
        return ReadLines(uart, KeyLineTracker::Read::WhileWaiting);
    const std::uint32_t error = api_.WaitResult(uart.handle, *uart.wait);
    if (error == ErrorIoIncomplete) {
        // Done by its record, not yet given back (Wine sets the event
        // last): collected at a later read; the lines meanwhile, which
        // show what it told.
        return ReadLines(uart, KeyLineTracker::Read::Ending);
    }
    uart.wait->armed = false;
    if (error == ErrorOperationAborted) {
        // Windows cancels a wait when the thread that started it exits (a
        // host thread that polled and ended): that says nothing of the
        // device. The wait is armed again from this thread; what it would
        // have said is unknown, and the reads around the new start tell.
        uart.tracker.WaitEnded(false);
    } else if (error != 0) {
        return WaitFailed(uart, error) ? error : ReadLines(uart, KeyLineTracker::Read::Unwatched);
    } else {
        uart.tracker.WaitEnded((uart.wait->events & uart.keySource.Event()) != 0);
    }
    return Rearm(uart);
}

std::uint32_t CommIo::Rearm(Uart &uart)
{
    for (std::uint8_t start = 0;; ++start) {
        if (const std::uint32_t error = ReadLines(uart, KeyLineTracker::Read::Settling))
            return error;
        const std::uint32_t error = api_.StartWait(uart.handle, *uart.wait);
        uart.wait->armed = error == 0;
        if (error != 0)
            return WaitFailed(uart, error) ? error : ReadLines(uart, KeyLineTracker::Read::Unwatched);
        // A driver that kept what changed since the last wait ended ends
        // this one at once: collected, so that the pending wait tells only
        // of what comes after its start. A wait not yet given back is
        // collected at a later read.
        if (api_.WaitPending(*uart.wait) || start + 1 == MaxStarts)
            break;
        const std::uint32_t result = api_.WaitResult(uart.handle, *uart.wait);
        if (result == ErrorIoIncomplete)
            break;
        uart.wait->armed = false;
        if (result != 0 && result != ErrorOperationAborted)
            return WaitFailed(uart, result) ? result : ReadLines(uart, KeyLineTracker::Read::Unwatched);
        uart.tracker.WaitEnded(false); // what it kept, the reads around it show
    }
    // The wait compares with the lines as they are when it begins, or tells
    // of what changes after: the read after the start shows what changed
    // before it, and the tracker takes an event for a change this read saw
    // as that change.
    return ReadLines(uart, KeyLineTracker::Read::Armed);
}

std::uint32_t CommIo::ReadLines(Uart &uart, KeyLineTracker::Read read)
{
    std::uint8_t lines = 0;
    if (const std::uint32_t error = api_.ModemStatus(uart.handle, lines)) {
        lostCall_ = "GetCommModemStatus";
        return error;
    }
    return uart.tracker.Saw(lines, read) ? StartAfresh(uart) : 0;
}

std::uint32_t CommIo::StartAfresh(Uart &uart)
{
    const std::uint32_t error = api_.WatchLines(uart.handle, uart.wait, uart.keySource.Event());
    if (error == 0)
        return 0;
    if (MeansDeviceRemoved(error)) {
        lostCall_ = "SetCommMask";
        return error;
    }
    WatchRefused(uart, "SetCommMask", error);
    return 0;
}

bool CommIo::WaitFailed(Uart &uart, std::uint32_t error)
{
    if (MeansDeviceRemoved(error)) {
        lostCall_ = "WaitCommEvent";
        return true;
    }
    // Any other error: the driver's events can't be relied on.
    WatchRefused(uart, "WaitCommEvent", error);
    return false;
}

void CommIo::CloseDevice(Uart &uart)
{
    // A pending wait cancelled and left to the driver until it gives the
    // record back; then the handle may go.
    if (uart.watch == Uart::Watch::Watching)
        api_.EndWait(uart.handle, uart.wait);
    uart.watch = Uart::Watch::Off;
    uart.edgesShown += uart.tracker.EdgesShown();
    uart.foundBeforeTold += uart.tracker.FoundBeforeTold();
    uart.tracker.Start(uart.keySource.Mask());
    api_.Close(uart.handle);
    uart.handle = nullptr;
    uart.link = Link::Closed;
    --open_;
    allOpen_ = false;
}

void CommIo::Lose(Uart &uart, const char *call, std::uint32_t error)
{
    CloseDevice(uart);
    uart.lastAttempt = api_.Ticks();
    uart.Note(call, error);
}

void CommIo::Release()
{
    for (std::uint8_t i = 0; i < count_; ++i)
        if (uarts_[i].link == Link::Open)
            CloseDevice(uarts_[i]);
    allOpen_ = false;
    configured_ = false;
    why_ = "released: io.dll is being unloaded";
}

// ---- Carrying the register file to the device ---------------------------

void CommIo::SendLineFormat(Uart &uart)
{
    const char *call = nullptr;
    const std::uint32_t error = ApplyKeyLineState(api_, uart.handle, &uart.wanted, uart.dtr, uart.rts, call);
    if (error == 0) {
        uart.accepted = true;
        uart.line = uart.wanted;
        uart.Note(nullptr, 0);
        return;
    }
    // A refused format (a rate the adapter can't make) leaves the device as
    // it was and usable; the status text says so. A device whose settings
    // can't even be read, or whose refusal says it is gone, is lost.
    if (call == kGetCommState || MeansDeviceRemoved(error))
        return Lose(uart, call, error);
    uart.Note(call, error);
}

void CommIo::SyncLines(Uart &uart)
{
    if (uart.regs.mcr & Regs::MCR_LOOP)
        return; // the outputs loop back inside the UART; the device's lines stay
    const bool rts = (uart.regs.mcr & Regs::MCR_RTS) != 0;
    if (rts != uart.rts) {
        if (const std::uint32_t error = api_.EscapeFunction(uart.handle, rts ? Escape::SetRts : Escape::ClrRts))
            return Lose(uart, "EscapeCommFunction", error);
        uart.rts = rts;
    }
    const bool dtr = (uart.regs.mcr & Regs::MCR_DTR) != 0;
    if (dtr != uart.dtr) {
        if (const std::uint32_t error = api_.EscapeFunction(uart.handle, dtr ? Escape::SetDtr : Escape::ClrDtr))
            return Lose(uart, "EscapeCommFunction", error);
        uart.dtr = dtr;
    }
}

// ---- Registers ------------------------------------------------------------

CommIo::Uart *CommIo::Find(std::uint16_t port, std::uint8_t &reg)
{
    for (std::uint8_t i = 0; i < explicit_; ++i) {
        const auto offset = static_cast<std::uint16_t>(port - uarts_[i].regs.base);
        if (offset < Regs::RegisterCount) {
            reg = static_cast<std::uint8_t>(offset);
            return &uarts_[i];
        }
    }
    if (explicit_ == count_)
        return nullptr;
    // `any`: every UART the host programs, at a base that is a multiple of 8.
    reg = static_cast<std::uint8_t>(port & 7);
    return &uarts_[explicit_];
}

const uart::Uart16550 *CommIo::RegistersAt(std::uint16_t port)
{
    std::uint8_t reg = 0;
    const Uart *uart = Find(port, reg);
    return uart ? &uart->regs : nullptr;
}

std::uint8_t CommIo::ReadRegister(Uart &uart, std::uint8_t reg, Need need)
{
    Regs &regs = uart.regs;
    if (reg != Regs::MSR || (regs.mcr & Regs::MCR_LOOP))
        return regs.Read(reg);
    if (const std::uint32_t error = Sample(uart, need))
        return ModemStatusFailed(uart, error);
    std::uint8_t lines = uart.tracker.Show(need != Need::OtherBits);
    if (uart.wired)
        lines = uart.wiring.Apply(lines, api_);
    // Lines as they were at the last read, and no delta latched since (a
    // quiet poll): the register reads as the lines.
    if (__builtin_expect(lines == regs.inputs && regs.msrDelta == 0, 1))
        return lines;
    return regs.ReadMsrWith(lines); // the deltas against the previous read, cleared by this one
}

std::uint8_t CommIo::ModemStatusFailed(Uart &uart, std::uint32_t error)
{
    Lose(uart, lostCall_, error);
    return 0; // bits read 0 while the device is gone
}


void CommIo::WriteRegister(Uart &uart, std::uint8_t reg, std::uint8_t value)
{
    Regs &regs = uart.regs;
    regs.Write(reg, value);
    if (reg == Regs::MCR) {
        if (uart.link == Link::Open)
            SyncLines(uart);
        return;
    }
    if (reg != Regs::LCR || (regs.lcr & Regs::LCR_DLAB) || regs.Divisor() == 0)
        return;
    const LineSettings line = LineFromRegisters(regs.lcr, regs.Divisor());
    if (uart.requested && line == uart.wanted)
        return;
    uart.requested = true;
    uart.wanted = line;
    if (uart.link == Link::Open)
        SendLineFormat(uart);
}

void CommIo::PortOut(std::uint16_t port, std::uint8_t value)
{
    std::uint8_t reg = 0;
    if (Uart *uart = Find(port, reg))
        WriteRegister(*uart, reg, value);
}

std::uint8_t CommIo::PortIn(std::uint16_t port)
{
    std::uint8_t reg = 0;
    Uart *uart = Find(port, reg);
    if (!uart)
        return 0xFF;
    if (uart->link != Link::Open)
        return 0;
    return ReadRegister(*uart, reg);
}

std::uint16_t CommIo::GetPortBit(std::uint16_t port, std::uint8_t bit)
{
    // The poll, one way for every bit: a read of the register it lies in.
    // Of the modem status register, while the lines are quiet, that read
    // answers from the lines last read and makes no call (Sample).
    std::uint8_t reg = 0;
    Uart *uart = Find(port, reg);
    if (!uart)
        return bit <= 7; // a bit of FFh
    if (uart->link != Link::Open || bit > 7)
        return 0;
    const Need need = reg != Regs::MSR ? Need::AllLines : bit == uart::ModemLine::Cts.Bit() ? Need::KeyBit : Need::OtherBits;
    return static_cast<std::uint16_t>((ReadRegister(*uart, reg, need) >> bit) & 1);
}

void CommIo::ChangeBit(std::uint16_t port, std::uint8_t bit, bool set)
{
    std::uint8_t reg = 0;
    Uart *uart = Find(port, reg);
    if (!uart || bit > 7)
        return;
    // Read-modify-write on the register file's view, so that changing one
    // bit costs no device call; MSR and LSR are read-only anyway.
    // At IIR/FCR, the FCR value written: the bit changed is one of its own.
    const std::uint8_t before = reg == Regs::IIR_FCR ? uart->regs.fcr : uart->regs.Peek(reg);
    const auto mask = static_cast<std::uint8_t>(1u << bit);
    WriteRegister(*uart, reg, static_cast<std::uint8_t>(set ? before | mask : before & ~mask));
}

void CommIo::SetPortBit(std::uint16_t port, std::uint8_t bit) { ChangeBit(port, bit, true); }
void CommIo::ClrPortBit(std::uint16_t port, std::uint8_t bit) { ChangeBit(port, bit, false); }

} // namespace commio
