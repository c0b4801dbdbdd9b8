// The comm-port io.dll's status: a record for each mapped UART (which
// device carries it and how, whether it is held and why not, how its
// driver signals the lines, what was recovered), and the text for people,
// made from those records alone, so that the two can't say different
// things. The text is written into fixed storage (FixedText), cut short at
// its end: the io.dll formats without the C runtime's printf.
#include "commio/CommIo.h"

#include <cstddef>
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

using Text = FixedText<CommIo::MaxStatus>;

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

// A record's text field: as much of `text` as fits before the NUL.
template <std::size_t N> void Copy(char (&to)[N], std::string_view text)
{
    const std::size_t size = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(to, text.data(), size);
    to[size] = '\0';
}

// The device a UART's mapping names, and where its adapter was found
// ("COM5", "usb=0403:6001:A1B2C3 on COM7").
void AppendDevice(Text &text, const CommIoUart &uart)
{
    if (uart.adapter == COMMIO_ADAPTER_NOT_NAMED) {
        text.Append(uart.device);
        return;
    }
    text.Append("usb=").AppendHex(uart.usbVendor, 4).Append(':').AppendHex(uart.usbProduct, 4);
    if (uart.usbSerial[0])
        text.Append(':').Append(uart.usbSerial);
    // ", so COM5": the COM name beside the identity, where it was used.
    const auto beside = [&]() -> Text & { return uart.usedBeside ? text.Append(", so ").Append(uart.device) : text; };
    switch (uart.adapter) {
    case COMMIO_ADAPTER_FOUND: text.Append(" on ").Append(uart.port); break;
    case COMMIO_ADAPTER_NOT_LISTED:
        if (uart.besideOther) {
            text.Append(" (no port carries it; ").Append(uart.device).Append(" is another device)");
        } else {
            text.Append(" (no port carries it");
            beside().Append(')');
        }
        break;
    case COMMIO_ADAPTER_SEVERAL:
        text.Append(" (").AppendDecimal(uart.adapterMatches).Append(" ports carry it: give its serial number");
        beside().Append(')');
        break;
    case COMMIO_ADAPTER_NO_PORTS:
        text.Append(" (no ports listed");
        beside().Append(')');
        break;
    case COMMIO_ADAPTER_NO_LIST:
        text.Append(" (the ports can't be listed, error ").AppendDecimal(uart.adapterError);
        beside().Append(')');
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
    text.Append(" (key line ").Append(line ? line->Name() : "?").Append(uart.invert ? " inverted" : "");
    if (uart.debounceMs)
        text.Append(", debounce ").AppendDecimal(uart.debounceMs).Append(" ms");
    text.Append(')');
}

void AppendState(Text &text, const CommIoUart &uart)
{
    const char *failed = CallName(uart.failedCall);
    switch (uart.link) {
    case COMMIO_LINK_NOT_YET_OPENED: text.Append("opens at the first IsDriverInstalled"); break;
    case COMMIO_LINK_HELD:
        text.Append("held");
        if (uart.events == COMMIO_EVENTS_WATCHED)
            text.Append(", line events watched");
        else if (uart.events == COMMIO_EVENTS_REFUSED)
            text.Append(", line events refused by ")
                .Append(CallName(uart.eventsCall) ? CallName(uart.eventsCall) : "the driver")
                .Append(" (error ")
                .AppendDecimal(uart.eventsError)
                .Append("), lines read at every poll");
        if (failed)
            text.Append(", ").AppendDecimal(uart.baud).Append(" baud refused by ").Append(failed).Append(" (error ")
                .AppendDecimal(uart.error).Append(')');
        break;
    default:
        if (!failed && uart.adapter != COMMIO_ADAPTER_NOT_NAMED)
            text.Append("not held; retrying"); // no port carries the adapter now
        else
            text.Append("not held, ").Append(failed ? failed : "open").Append(" failed (error ")
                .AppendDecimal(uart.error).Append("); retrying");
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
        Copy(record.usbSerial, uart.map.usb.serial);
    }
    record.adapterError = record.adapter == COMMIO_ADAPTER_NO_LIST ? uart.adapter.error : 0;
    record.adapterMatches = uart.adapter.matches;
    record.usedBeside = uart.adapter.usedBeside ? 1 : 0;
    record.besideOther = uart.adapter.besideOther ? 1 : 0;
    if (record.adapter == COMMIO_ADAPTER_FOUND)
        Copy(record.port, uart.adapter.port);
    Copy(record.device, uart.map.device);
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
        status_ = why_;
        return status_.c_str();
    }
    Text &text = status_;
    text.clear();
    std::uint32_t edges = 0, found = 0;
    for (std::uint32_t i = 0; i < count_; ++i) {
        CommIoUart uart;
        uart.size = sizeof uart;
        UartStatus(i, &uart);
        if (i > 0)
            text.Append("; ");
        AppendDevice(text, uart);
        if (uart.any)
            text.Append(" for any UART");
        else
            text.Append(" for ").AppendHex(uart.base, 4).Append('h');
        AppendWiring(text, uart);
        text.Append(": ");
        AppendState(text, uart);
        edges += uart.edgesRecovered;
        found += uart.refreshFinds;
    }
    if (edges || found)
        text.Append("; ").AppendDecimal(edges).Append(" edges recovered between polls, ").AppendDecimal(found)
            .Append(" changes found only by refresh");
    if (text.Cut()) { // the last three characters say so
        text.Shorten(MaxStatus - 3);
        text.Append("...");
    }
    return text.c_str();
}

} // namespace commio
