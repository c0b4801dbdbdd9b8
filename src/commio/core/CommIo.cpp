#include "commio/CommIo.h"

#include <cstdio>

#include "commio/DeviceClaim.h"
#include "commio/LineFormat.h"
#include "commio/WindowsErrors.h"

namespace commio {

using Regs = uart::Uart16550;

void CommIo::Configure(const std::vector<PortMapping> &uarts)
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
    std::snprintf(why_, sizeof why_, "%s", why);
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
            if (uart.link != Link::Open && now - uart.lastAttempt >= RetryIntervalMs)
                OpenDevice(uart);
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
    uart.stale = true;
    uart.edge = false;
    uart.untold = 0;
    uart.quietReads = 0;
    uart.watchCall = nullptr;
    uart.watchError = 0;
    const char *call = "SetCommMask";
    std::uint32_t error = api_.WatchLines(uart.handle, uart.wait);
    uart.watch = Uart::Watch::Watching; // EndWait from here on, whatever follows
    if (error == 0) {
        call = "WaitCommEvent";
        error = api_.StartWait(uart.handle, *uart.wait);
        uart.wait->armed = error == 0;
    }
    // A refusal here keeps the device, whatever the code: it was just set up,
    // and a device that is really gone fails its next line read.
    if (error != 0)
        WatchRefused(uart, call, error);
}

void CommIo::WatchRefused(Uart &uart, const char *call, std::uint32_t error)
{
    // Not every driver has comm events: read the lines at every poll, as
    // before there were any.
    api_.EndWait(uart.handle, uart.wait, true);
    uart.watch = Uart::Watch::Refused;
    uart.watchCall = call;
    uart.watchError = error;
}

std::uint32_t CommIo::Refresh(Uart &uart)
{
    std::uint32_t events = 0;
    const bool completed = !api_.WaitPending(*uart.wait);
    if (completed) {
        uart.wait->armed = false;
        const std::uint32_t error = api_.WaitResult(uart.handle, *uart.wait);
        if (error == ErrorOperationAborted) {
            // Windows cancels a wait when the thread that started it exits
            // (a host thread that polled and ended): that says nothing of
            // the device. The read below tells, and the wait is armed again
            // from this thread; what the wait would have said is unknown.
        } else if (error != 0) {
            return WaitFailed(uart, error) ? error : ReadLines(uart);
        } else {
            events = uart.wait->events;
        }
    }
    std::uint8_t lines = 0;
    if (const std::uint32_t error = api_.ModemStatus(uart.handle, lines)) {
        lostCall_ = "GetCommModemStatus";
        return error;
    }
    if (!completed && !uart.stale) {
        // What this refresh found is what the driver may still tell; what
        // an earlier one found and the driver hasn't told in a whole
        // refresh period since, it won't (a driver that drops events), and
        // it no longer holds back the event of a later change.
        uart.untold = static_cast<std::uint8_t>((lines ^ uart.lines) & 0xF0);
        if (uart.untold)
            ++missedByEvents_;
    }
    const std::uint8_t first = lines;
    uart.quietReads = 0;
    if (completed) {
        const std::uint32_t error = api_.StartWait(uart.handle, *uart.wait);
        uart.wait->armed = error == 0;
        if (error != 0 && WaitFailed(uart, error))
            return error;
        if (error == 0) {
            // The wait compares with the lines as they are when it begins,
            // not as read above: a change in between would be told by no
            // event, and the lines above would stand until the next
            // refresh. So they are read again, now that the wait watches
            // them. A change after the wait began shows in this read and
            // is told by the wait as well; the host is shown it once
            // either way, as both are judged against what it last saw.
            if (const std::uint32_t readError = api_.ModemStatus(uart.handle, lines)) {
                lostCall_ = "GetCommModemStatus";
                return readError;
            }
        }
    }
    // The key line changed since the host last saw it (the driver told of
    // a change, or the first read saw one), yet it reads as the host saw
    // it: it changed and changed back between two reads. An event for a
    // change a read had found already (a driver late to tell) is that
    // change, and tells of no other.
    const std::uint8_t key = uart.keySource.Mask();
    const bool told = (events & uart.keySource.Event()) != 0 && !(uart.untold & key);
    if (completed)
        uart.untold = 0;
    if (!uart.stale && (told || ((first ^ uart.shownKey) & key)) && !((lines ^ uart.shownKey) & key))
        uart.edge = true;
    uart.lines = lines;
    uart.stale = false;
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

void CommIo::CloseDevice(Uart &uart, bool mayBlock)
{
    // A pending wait cancelled, and (where it may wait) collected: then the
    // handle may go.
    if (uart.watch == Uart::Watch::Watching)
        api_.EndWait(uart.handle, uart.wait, mayBlock);
    uart.watch = Uart::Watch::Off;
    api_.Close(uart.handle);
    uart.handle = nullptr;
    uart.link = Link::Closed;
    --open_;
    allOpen_ = false;
}

void CommIo::Lose(Uart &uart, const char *call, std::uint32_t error)
{
    CloseDevice(uart, true);
    uart.lastAttempt = api_.Ticks();
    uart.Note(call, error);
}

void CommIo::Release(bool unloading)
{
    for (std::uint8_t i = 0; i < count_; ++i)
        if (uarts_[i].link == Link::Open)
            CloseDevice(uarts_[i], !unloading);
    allOpen_ = false;
    configured_ = false;
    std::snprintf(why_, sizeof why_, "released: io.dll is being unloaded");
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

std::uint8_t CommIo::ReadRegister(Uart &uart, std::uint8_t reg, bool keyRead)
{
    Regs &regs = uart.regs;
    if (reg != Regs::MSR || (regs.mcr & Regs::MCR_LOOP))
        return regs.Read(reg);
    if (const std::uint32_t error = Sample(uart))
        return ModemStatusFailed(uart, error);
    std::uint8_t lines = LinesToShow(uart, keyRead);
    if (uart.wired)
        lines = uart.wiring.Apply(lines, api_);
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
    const bool keyRead = bit == uart::ModemLine::Cts.Bit();
    return static_cast<std::uint16_t>((ReadRegister(*uart, reg, keyRead) >> bit) & 1);
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
