// The comm-port io.dll's status text: which device carries each UART and
// how, whether it is held, and why not. Written into a fixed buffer, cut
// short at its end.
#include "commio/CommIo.h"

namespace commio {
namespace {

using Text = FixedText<CommIo::MaxStatus>;

// The device a mapping names, and where its adapter was found ("COM5",
// "usb=0403:6001:A1B2C3 on COM7").
void AppendDevice(Text &text, const PortMapping &map, const AdapterLookup &adapter)
{
    if (!map.hasUsb) {
        text.Append(map.device);
    } else {
        text.Append("usb=").Append(UsbText(map.usb));
        // ", so COM5": the COM name beside the identity, where it was used.
        const auto beside = [&]() -> Text & {
            return adapter.usedBeside ? text.Append(", so ").Append(map.device) : text;
        };
        switch (adapter.outcome) {
        case AdapterLookup::Found: text.Append(" on ").Append(adapter.port); break;
        case AdapterLookup::NotListed:
            if (adapter.besideOther) {
                text.Append(" (no port carries it; ").Append(map.device).Append(" is another device)");
            } else {
                text.Append(" (no port carries it");
                beside().Append(')');
            }
            break;
        case AdapterLookup::Several:
            text.Append(" (").AppendDecimal(adapter.matches).Append(" ports carry it: give its serial number");
            beside().Append(')');
            break;
        case AdapterLookup::NoPorts:
            text.Append(" (no ports listed");
            beside().Append(')');
            break;
        case AdapterLookup::Failed:
            text.Append(" (the ports can't be listed, error ").AppendDecimal(adapter.error);
            beside().Append(')');
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
    text.Append(" (key line ").Append(map.input.Name()).Append(map.invert ? " inverted" : "");
    if (map.debounceMs)
        text.Append(", debounce ").AppendDecimal(map.debounceMs).Append(" ms");
    text.Append(')');
}

} // namespace

const char *CommIo::Status()
{
    if (!configured_) {
        status_ = why_;
        return status_.c_str();
    }
    Text &text = status_;
    text.clear();
    for (std::uint8_t i = 0; i < count_; ++i) {
        const Uart &uart = uarts_[i];
        if (i > 0)
            text.Append("; ");
        AppendDevice(text, uart.map, uart.adapter);
        if (uart.map.any)
            text.Append(" for any UART");
        else
            text.Append(" for ").AppendHex(uart.map.base, 4).Append('h');
        AppendWiring(text, uart.map);
        text.Append(": ");
        if (uart.link == Link::Closed && uart.map.hasUsb && !uart.failedCall) {
            text.Append("not held; retrying");
            continue;
        }
        switch (uart.link) {
        case Link::NotYetOpened: text.Append("opens at the first IsDriverInstalled"); break;
        case Link::Open:
            text.Append("held");
            if (uart.watch == Uart::Watch::Watching)
                text.Append(", line events watched");
            else if (uart.watch == Uart::Watch::Refused && uart.watchError != ErrorNotSupported)
                text.Append(", line events refused by ").Append(uart.watchCall ? uart.watchCall : "the driver")
                    .Append(" (error ").AppendDecimal(uart.watchError).Append("), lines read at every poll");
            if (uart.failedCall)
                text.Append(", ").AppendDecimal(uart.wanted.baud).Append(" baud refused by ").Append(uart.failedCall)
                    .Append(" (error ").AppendDecimal(uart.error).Append(')');
            break;
        case Link::Closed:
            text.Append("not held, ").Append(uart.failedCall ? uart.failedCall : "open").Append(" failed (error ")
                .AppendDecimal(uart.error).Append("); retrying");
            break;
        }
    }
    std::uint32_t edges = edgesShown_, found = foundBeforeTold_;
    for (std::uint8_t i = 0; i < count_; ++i) {
        edges += uarts_[i].tracker.EdgesShown();
        found += uarts_[i].tracker.FoundBeforeTold();
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
