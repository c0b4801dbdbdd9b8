// The comm-port io.dll's status text: which device carries each UART and
// how, whether it is held, and why not. Written into a fixed buffer, cut
// short at its end.
#include "commio/CommIo.h"

#include <cstdarg>
#include <cstdio>

namespace commio {
namespace {

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

// The device a mapping names, and where its adapter was found ("COM5",
// "usb=0403:6001:A1B2C3 on COM7").
void AppendDevice(Text &text, const PortMapping &map, const AdapterLookup &adapter)
{
    if (!map.hasUsb) {
        Append(text, "%s", map.device.c_str());
    } else {
        Append(text, "usb=%04X:%04X%s%s", map.usb.vendor, map.usb.product, map.usb.serial.empty() ? "" : ":",
            map.usb.serial.c_str());
        const char *so = adapter.usedBeside ? ", so " : "";
        const char *beside = adapter.usedBeside ? map.device.c_str() : "";
        switch (adapter.outcome) {
        case AdapterLookup::Found: Append(text, " on %s", adapter.port); break;
        case AdapterLookup::NotListed:
            if (adapter.besideOther)
                Append(text, " (no port carries it; %s is another device)", map.device.c_str());
            else
                Append(text, " (no port carries it%s%s)", so, beside);
            break;
        case AdapterLookup::Several:
            Append(text, " (%u ports carry it: give its serial number%s%s)", static_cast<unsigned>(adapter.matches), so,
                beside);
            break;
        case AdapterLookup::NoPorts: Append(text, " (no ports listed%s%s)", so, beside); break;
        case AdapterLookup::Failed:
            Append(text, " (the ports can't be listed, error %u%s%s)", static_cast<unsigned>(adapter.error), so, beside);
            break;
        case AdapterLookup::NotAsked: break;
        }
    }
}

// The wiring of a mapping's key line (" (key line DSR inverted, debounce
// 20 ms)"); nothing for plain CTS.
void AppendWiring(Text &text, const PortMapping &map)
{
    if (PlainWiring(map))
        return;
    Append(text, " (key line %s%s", map.input.Name(), map.invert ? " inverted" : "");
    if (map.debounceMs)
        Append(text, ", debounce %u ms", static_cast<unsigned>(map.debounceMs));
    Append(text, ")");
}

} // namespace

const char *CommIo::Status()
{
    if (!configured_) {
        std::snprintf(status_, sizeof status_, "%s", why_);
        return status_;
    }
    Text text{status_, sizeof status_};
    for (std::uint8_t i = 0; i < count_; ++i) {
        const Uart &uart = uarts_[i];
        if (i > 0)
            Append(text, "; ");
        AppendDevice(text, uart.map, uart.adapter);
        if (uart.map.any)
            Append(text, " for any UART");
        else
            Append(text, " for %04Xh", uart.map.base);
        AppendWiring(text, uart.map);
        Append(text, ": ");
        if (uart.link == Link::Closed && uart.map.hasUsb && !uart.failedCall) {
            Append(text, "not held; retrying");
            continue;
        }
        switch (uart.link) {
        case Link::NotYetOpened: Append(text, "opens at the first IsDriverInstalled"); break;
        case Link::Open:
            Append(text, "held");
            if (uart.watch == Uart::Watch::Watching)
                Append(text, ", line events watched");
            else if (uart.watch == Uart::Watch::Refused && uart.watchError != ErrorNotSupported)
                Append(text, ", line events refused by %s (error %u), lines read at every poll",
                    uart.watchCall ? uart.watchCall : "the driver", static_cast<unsigned>(uart.watchError));
            if (uart.failedCall)
                Append(text, ", %u baud refused by %s (error %u)", static_cast<unsigned>(uart.wanted.baud), uart.failedCall,
                    static_cast<unsigned>(uart.error));
            break;
        case Link::Closed:
            Append(text, "not held, %s failed (error %u); retrying", uart.failedCall ? uart.failedCall : "open",
                static_cast<unsigned>(uart.error));
            break;
        }
    }
    std::uint32_t edges = edgesShown_, found = foundBeforeTold_;
    for (std::uint8_t i = 0; i < count_; ++i) {
        edges += uarts_[i].tracker.EdgesShown();
        found += uarts_[i].tracker.FoundBeforeTold();
    }
    if (edges || found)
        Append(text, "; %u edges recovered between polls, %u changes found only by refresh",
            static_cast<unsigned>(edges), static_cast<unsigned>(found));
    if (text.used >= sizeof status_)
        std::snprintf(status_ + sizeof status_ - 4, 4, "...");
    return status_;
}

} // namespace commio
