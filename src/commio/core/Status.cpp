// The comm-port io.dll's status: a record for each mapped UART (which
// device carries it and how, whether it is held and why not, how its
// driver signals the lines, what was recovered), and the text for people,
// made from those records alone, so that the two can't say different
// things. The text is written into a fixed buffer, cut short at its end.
#include "commio/CommIo.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "commio/WindowsErrors.h"

namespace commio {
namespace {

// The record is a contract between programs built apart, and the same in
// both editions: fixed widths, no padding, the size its first version has.
static_assert(sizeof(CommIoUart) == 308 && alignof(CommIoUart) == 4, "CommIoUart's layout is fixed");
static_assert(offsetof(CommIoUart, failedCall) == 8 && offsetof(CommIoUart, keyLine) == 40 &&
                  offsetof(CommIoUart, usbSerial) == 56 && offsetof(CommIoUart, port) == 92 &&
                  offsetof(CommIoUart, device) == 108,
              "CommIoUart's fields stay where they are");

// The serial driver's calls by their codes in the record: one table, read
// both ways.
constexpr const char *kCalls[] = {nullptr, "CreateFile", "GetCommState", "SetCommState", "GetCommModemStatus",
                                  "EscapeCommFunction", "SetCommMask", "WaitCommEvent"};
static_assert(sizeof kCalls / sizeof kCalls[0] == COMMIO_CALL_WAIT_COMM_EVENT + 1, "a name for every call");

std::uint32_t CallCode(const char *call)
{
    for (std::uint32_t code = 1; call && code < sizeof kCalls / sizeof kCalls[0]; ++code)
        if (std::strcmp(call, kCalls[code]) == 0)
            return code;
    return COMMIO_CALL_NONE;
}

const char *CallName(std::uint32_t code)
{
    return code < sizeof kCalls / sizeof kCalls[0] ? kCalls[code] : nullptr;
}

std::uint8_t AdapterCode(const PortMapping &map, const AdapterLookup &adapter)
{
    if (!map.hasUsb)
        return COMMIO_ADAPTER_NOT_NAMED;
    switch (adapter.outcome) {
    case AdapterLookup::Found: return COMMIO_ADAPTER_FOUND;
    case AdapterLookup::NotListed: return COMMIO_ADAPTER_NOT_LISTED;
    case AdapterLookup::Several: return COMMIO_ADAPTER_SEVERAL;
    case AdapterLookup::NoPorts: return COMMIO_ADAPTER_NO_PORTS;
    case AdapterLookup::Failed: return COMMIO_ADAPTER_NO_LIST;
    case AdapterLookup::NotAsked: break;
    }
    return COMMIO_ADAPTER_NOT_YET;
}

template <std::size_t N> void Copy(char (&to)[N], const char *text) { std::snprintf(to, N, "%s", text); }

struct Text {
    char *buffer;
    std::size_t size;
    std::size_t used = 0; // past `size` once something was cut
};

__attribute__((format(printf, 2, 3))) void Append(Text &text, const char *format, ...)
{
    if (text.used >= text.size)
        return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text.buffer + text.used, text.size - text.used, format, args);
    va_end(args);
    text.used += n > 0 ? static_cast<std::size_t>(n) : 0;
}

// The device a UART's mapping names, and where its adapter was found
// ("COM5", "usb=0403:6001:A1B2C3 on COM7").
void AppendDevice(Text &text, const CommIoUart &uart)
{
    if (uart.adapter == COMMIO_ADAPTER_NOT_NAMED) {
        Append(text, "%s", uart.device);
        return;
    }
    Append(text, "usb=%04X:%04X%s%s", uart.usbVendor, uart.usbProduct, uart.usbSerial[0] ? ":" : "",
           uart.usbSerial);
    const char *so = uart.usedBeside ? ", so " : "";
    const char *beside = uart.usedBeside ? uart.device : "";
    switch (uart.adapter) {
    case COMMIO_ADAPTER_FOUND: Append(text, " on %s", uart.port); break;
    case COMMIO_ADAPTER_NOT_LISTED:
        if (uart.besideOther)
            Append(text, " (no port carries it; %s is another device)", uart.device);
        else
            Append(text, " (no port carries it%s%s)", so, beside);
        break;
    case COMMIO_ADAPTER_SEVERAL:
        Append(text, " (%u ports carry it: give its serial number%s%s)", static_cast<unsigned>(uart.adapterMatches),
               so, beside);
        break;
    case COMMIO_ADAPTER_NO_PORTS: Append(text, " (no ports listed%s%s)", so, beside); break;
    case COMMIO_ADAPTER_NO_LIST:
        Append(text, " (the ports can't be listed, error %u%s%s)", static_cast<unsigned>(uart.adapterError), so,
               beside);
        break;
    default: break;
    }
}

// The wiring of a UART's key line (" (key line DSR inverted, debounce 20
// ms)"); nothing for plain CTS.
void AppendWiring(Text &text, const CommIoUart &uart)
{
    const uart::ModemLine *line = nullptr;
    for (const uart::ModemLine &each : uart::InputLines)
        if (each.Mask() == uart.keyLine)
            line = &each;
    if (line && *line == uart::ModemLine::Cts && !uart.invert && uart.debounceMs == 0)
        return;
    Append(text, " (key line %s%s", line ? line->Name() : "?", uart.invert ? " inverted" : "");
    if (uart.debounceMs)
        Append(text, ", debounce %u ms", static_cast<unsigned>(uart.debounceMs));
    Append(text, ")");
}

void AppendState(Text &text, const CommIoUart &uart)
{
    const char *failed = CallName(uart.failedCall);
    switch (uart.link) {
    case COMMIO_LINK_NOT_YET_OPENED: Append(text, "opens at the first IsDriverInstalled"); break;
    case COMMIO_LINK_HELD:
        Append(text, "held");
        if (uart.events == COMMIO_EVENTS_WATCHED)
            Append(text, ", line events watched");
        else if (uart.events == COMMIO_EVENTS_REFUSED)
            Append(text, ", line events refused by %s (error %u), lines read at every poll",
                   CallName(uart.eventsCall) ? CallName(uart.eventsCall) : "the driver",
                   static_cast<unsigned>(uart.eventsError));
        if (failed)
            Append(text, ", %u baud refused by %s (error %u)", static_cast<unsigned>(uart.baud), failed,
                   static_cast<unsigned>(uart.error));
        break;
    default:
        if (!failed && uart.adapter != COMMIO_ADAPTER_NOT_NAMED)
            Append(text, "not held; retrying"); // no port carries the adapter now
        else
            Append(text, "not held, %s failed (error %u); retrying", failed ? failed : "open",
                   static_cast<unsigned>(uart.error));
        break;
    }
}

} // namespace

void CommIo::Describe(const Uart &uart, CommIoUart &record) const
{
    record = CommIoUart{};
    record.size = sizeof record;
    record.base = uart.map.any ? 0 : uart.map.base;
    record.any = uart.map.any ? 1 : 0;
    record.link = uart.link == Link::Open     ? COMMIO_LINK_HELD
                  : uart.link == Link::Closed ? COMMIO_LINK_NOT_HELD
                                              : COMMIO_LINK_NOT_YET_OPENED;
    record.failedCall = CallCode(uart.failedCall);
    record.error = uart.error;
    if (uart.link == Link::Open && uart.watch == Uart::Watch::Watching)
        record.events = COMMIO_EVENTS_WATCHED;
    else if (uart.link == Link::Open && uart.watch == Uart::Watch::Refused)
        record.events = uart.watchError == ErrorNotSupported ? COMMIO_EVENTS_UNSUPPORTED : COMMIO_EVENTS_REFUSED;
    record.eventsCall = record.events >= COMMIO_EVENTS_REFUSED ? CallCode(uart.watchCall) : COMMIO_CALL_NONE;
    record.eventsError = record.events >= COMMIO_EVENTS_REFUSED ? uart.watchError : 0;
    record.edgesRecovered = uart.edgesShown + uart.tracker.EdgesShown();
    record.refreshFinds = uart.foundBeforeTold + uart.tracker.FoundBeforeTold();
    record.baud = uart.requested ? uart.wanted.baud : 0;
    record.keyLine = uart.map.input.Mask();
    record.invert = uart.map.invert ? 1 : 0;
    record.debounceMs = uart.map.debounceMs;
    record.adapter = AdapterCode(uart.map, uart.adapter);
    if (uart.map.hasUsb) {
        record.usbVendor = uart.map.usb.vendor;
        record.usbProduct = uart.map.usb.product;
        Copy(record.usbSerial, uart.map.usb.serial.c_str());
    }
    record.adapterError = record.adapter == COMMIO_ADAPTER_NO_LIST ? uart.adapter.error : 0;
    record.adapterMatches = uart.adapter.matches;
    record.usedBeside = uart.adapter.usedBeside ? 1 : 0;
    record.besideOther = uart.adapter.besideOther ? 1 : 0;
    if (record.adapter == COMMIO_ADAPTER_FOUND)
        Copy(record.port, uart.adapter.port);
    Copy(record.device, uart.map.device.c_str());
}

std::uint32_t CommIo::UartStatus(std::uint32_t index, CommIoUart *out) const
{
    const std::uint32_t count = configured_ ? count_ : 0;
    if (out && index < count && out->size > 0) {
        CommIoUart record;
        Describe(uarts_[index], record);
        // A caller built with an older, shorter record gets the part it
        // knows; one built with a longer one, all of this one.
        const std::uint32_t size = out->size < sizeof record ? out->size : static_cast<std::uint32_t>(sizeof record);
        std::memcpy(out, &record, size);
        out->size = size;
    }
    return count;
}

const char *CommIo::Status()
{
    if (!configured_) {
        std::snprintf(status_, sizeof status_, "%s", why_);
        return status_;
    }
    Text text{status_, sizeof status_};
    std::uint32_t edges = 0, found = 0;
    for (std::uint32_t i = 0; i < count_; ++i) {
        CommIoUart uart;
        uart.size = sizeof uart;
        UartStatus(i, &uart);
        if (i > 0)
            Append(text, "; ");
        AppendDevice(text, uart);
        if (uart.any)
            Append(text, " for any UART");
        else
            Append(text, " for %04Xh", static_cast<unsigned>(uart.base));
        AppendWiring(text, uart);
        Append(text, ": ");
        AppendState(text, uart);
        edges += uart.edgesRecovered;
        found += uart.refreshFinds;
    }
    if (edges || found)
        Append(text, "; %u edges recovered between polls, %u changes found only by refresh",
               static_cast<unsigned>(edges), static_cast<unsigned>(found));
    if (text.used >= sizeof status_)
        std::snprintf(status_ + sizeof status_ - 4, 4, "...");
    return status_;
}

} // namespace commio
