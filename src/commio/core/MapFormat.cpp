// A mapping, and a USB identity, back as the map's text, for the host
// tools that write a map and show one. The io.dll reads maps and never
// writes one: it links nothing of this file, and so no std::string.
#include <cstdio>

#include "commio/PortMap.h"

namespace commio {

std::string FormatUsbIdentity(const UsbIdentity &usb) { return std::string(UsbText(usb).view()); }

std::string FormatMapping(const PortMapping &mapping)
{
    char key[8] = "any";
    if (!mapping.any)
        std::snprintf(key, sizeof key, "%X", mapping.base);
    std::string line = std::string(key) + " =";
    if (!mapping.device.empty())
        line.append(" ").append(mapping.device.view());
    if (mapping.hasUsb) // beside the device it finds again
        line += " usb=" + FormatUsbIdentity(mapping.usb);
    if (mapping.input != uart::ModemLine::Cts)
        line += std::string(" line=") + mapping.input.Name();
    if (mapping.invert)
        line += " invert";
    if (mapping.debounceMs)
        line += " debounce=" + std::to_string(mapping.debounceMs);
    return line;
}

} // namespace commio
