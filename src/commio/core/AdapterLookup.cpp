#include "commio/AdapterLookup.h"

namespace commio {

namespace {

// As much of `text` as `to` holds, NUL-terminated.
template <std::size_t Size>
void CopyCut(char (&to)[Size], std::string_view text)
{
    std::size_t i = 0;
    for (; i + 1 < Size && i < text.size(); ++i)
        to[i] = text[i];
    to[i] = '\0';
}

struct Search {
    const UsbIdentity *usb;
    const char *beside; // "COM5" from the mapping's path, or null
    AdapterLookup *lookup;
    unsigned listed;
};

void Visit(void *context, const PortsClassDevice &device)
{
    Search &search = *static_cast<Search *>(context);
    const char *instanceId = device.instanceId, *portName = device.portName;
    if (!*instanceId || !*portName) // which adapter, and which COM name: both are needed
        return;
    ++search.listed;
    AdapterLookup &lookup = *search.lookup;
    const bool beside = search.beside && EqualsNoCase(portName, search.beside);
    if (ComNumber(portName) == 0 || !InstanceIdMatches(instanceId, *search.usb)) {
        lookup.besideOther |= beside;
        return;
    }
    lookup.besideMatches |= beside;
    if (lookup.matches < 255)
        ++lookup.matches;
    if (lookup.matches == 1)
        CopyCut(lookup.port, portName);
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
    if (lookup.error == 0 && lookup.matches == 1) {
        lookup.outcome = AdapterLookup::Found;
        FixedText<sizeof lookup.path - 1> path{std::string_view("\\\\.\\")};
        CopyCut(lookup.path, path.Append(lookup.port));
        return lookup.path;
    }
    lookup.outcome = lookup.error != 0      ? AdapterLookup::Failed
                     : search.listed == 0   ? AdapterLookup::NoPorts
                     : lookup.matches == 0  ? AdapterLookup::NotListed
                                            : AdapterLookup::Several;
    // The COM name beside, unless the list says it is another device's, or
    // not one of the ports that carry the adapter.
    const bool useBeside = lookup.outcome == AdapterLookup::NotListed ? !lookup.besideOther
                           : lookup.outcome == AdapterLookup::Several ? lookup.besideMatches
                                                                      : true;
    lookup.usedBeside = useBeside && beside;
    return useBeside ? mapping.path.c_str() : "";
}

} // namespace commio
