#include "commio/Wiring.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace commio {

std::uint8_t KeyWiring::Apply(std::uint8_t lines, CommApi &clock)
{
    const bool key = ((lines & source_) != 0) != invert_;
    if (key != shown_) {
        if (debounce_ == 0) {
            shown_ = key;
        } else {
            const std::uint32_t now = clock.Ticks();
            if (!holding_ || now - since_ >= debounce_) {
                shown_ = key;
                holding_ = true;
                since_ = now;
            }
        }
    } else if (holding_ && clock.Ticks() - since_ >= debounce_) {
        holding_ = false; // quiet for long enough: the next change passes at once
    }
    return static_cast<std::uint8_t>((lines & ~ModemCts) | (shown_ ? ModemCts : 0));
}

namespace {

bool SameName(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        const char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
        const char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
        if (x != y)
            return false;
        if (x == '\0')
            return true;
    }
}

struct Search {
    const UsbIdentity *usb;
    const char *beside; // "COM5" from the mapping's path, or null
    AdapterLookup *lookup;
    unsigned listed;
};

void Visit(void *context, const char *instanceId, const char *portName)
{
    Search &search = *static_cast<Search *>(context);
    if (!portName)
        return;
    ++search.listed;
    AdapterLookup &lookup = *search.lookup;
    const bool beside = search.beside && SameName(portName, search.beside);
    if (!instanceId || ComNumber(portName) == 0 || !InstanceIdMatches(instanceId, *search.usb)) {
        lookup.besideOther |= beside;
        return;
    }
    lookup.besideMatches |= beside;
    if (lookup.matches < 255)
        ++lookup.matches;
    if (lookup.matches == 1)
        std::snprintf(lookup.port, sizeof lookup.port, "%s", portName);
}

} // namespace

const char *FindAdapter(CommApi &api, const PortMapping &mapping, AdapterLookup &lookup)
{
    lookup = AdapterLookup{};
    if (!mapping.hasUsb)
        return mapping.path.c_str();
    // The COM name beside the identity, as a PortName reads: "\\.\COM5" -> "COM5".
    const char *beside = mapping.path.size() > 4 ? mapping.path.c_str() + 4 : nullptr;
    Search search{&mapping.usb, beside, &lookup, 0};
    lookup.error = api.ListPorts(Visit, &search);
    bool useBeside = false;
    if (lookup.error != 0) {
        lookup.outcome = AdapterLookup::Failed;
        useBeside = true;
    } else if (search.listed == 0) {
        lookup.outcome = AdapterLookup::NoPorts;
        useBeside = true;
    } else if (lookup.matches == 0) {
        lookup.outcome = AdapterLookup::NotListed;
        useBeside = !lookup.besideOther;
    } else if (lookup.matches > 1) {
        lookup.outcome = AdapterLookup::Several;
        useBeside = lookup.besideMatches;
    } else {
        lookup.outcome = AdapterLookup::Found;
        std::snprintf(lookup.path, sizeof lookup.path, "\\\\.\\%s", lookup.port);
        return lookup.path;
    }
    lookup.usedBeside = useBeside && beside;
    return useBeside ? mapping.path.c_str() : "";
}

void DescribeDevice(char *out, std::size_t size, const PortMapping &map, const AdapterLookup &adapter)
{
    if (size == 0)
        return;
    out[0] = '\0';
    std::size_t used = 0;
    auto append = [&](const char *format, auto... args) {
        if (used + 1 >= size)
            return;
        const int n = std::snprintf(out + used, size - used, format, args...);
        used += n > 0 ? static_cast<std::size_t>(n) : 0;
        if (used >= size)
            used = size - 1;
    };
    if (!map.hasUsb) {
        append("%s", map.device.c_str());
    } else {
        append("usb=%04X:%04X%s%s", map.usb.vendor, map.usb.product, map.usb.serial.empty() ? "" : ":",
            map.usb.serial.c_str());
        const char *so = adapter.usedBeside ? ", so " : "";
        const char *beside = adapter.usedBeside ? map.device.c_str() : "";
        switch (adapter.outcome) {
        case AdapterLookup::Found: append(" on %s", adapter.port); break;
        case AdapterLookup::NotListed:
            if (adapter.besideOther)
                append(" (no port carries it; %s is another device)", map.device.c_str());
            else
                append(" (no port carries it%s%s)", so, beside);
            break;
        case AdapterLookup::Several:
            append(" (%u ports carry it: give its serial number%s%s)", static_cast<unsigned>(adapter.matches), so,
                beside);
            break;
        case AdapterLookup::NoPorts: append(" (no ports listed%s%s)", so, beside); break;
        case AdapterLookup::Failed:
            append(" (the ports can't be listed, error %u%s%s)", static_cast<unsigned>(adapter.error), so, beside);
            break;
        case AdapterLookup::NotAsked: break;
        }
    }
}

void DescribeWiring(char *out, std::size_t size, const PortMapping &map)
{
    if (size == 0)
        return;
    out[0] = '\0';
    if (PlainWiring(map))
        return;
    const char *line = map.input == KeyLine::Dsr   ? "DSR"
                       : map.input == KeyLine::Dcd ? "DCD"
                       : map.input == KeyLine::Ri  ? "RI"
                                                   : "CTS";
    char debounce[24] = "";
    if (map.debounceMs)
        std::snprintf(debounce, sizeof debounce, ", debounce %u ms", static_cast<unsigned>(map.debounceMs));
    std::snprintf(out, size, " (key line %s%s%s)", line, map.invert ? " inverted" : "", debounce);
}

} // namespace commio
