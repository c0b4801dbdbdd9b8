// What the port set-up's tests share: a port as Windows lists a USB adapter
// on it, and a key found on COM5 as the finder reports one.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "portsetup/KeyFinder.h"
#include "portsetup/PortList.h"

// `name` as Windows lists a USB adapter on it, named as such adapters are.
inline portsetup::PortInfo UsbPort(const std::string &name, const portsetup::UsbIdentity &usb = {})
{
    portsetup::PortInfo port;
    port.name = name;
    port.friendlyName = "USB Serial Port (" + name + ")";
    port.usb = usb;
    return port;
}

// `friendlyName`: what Windows calls the adapter ("" where it says nothing);
// `also`: other lines of the port that changed.
inline portsetup::Finding FoundOnCom5(uart::ModemLine line, bool opens, unsigned presses = 3,
                                      std::string friendlyName = "USB Serial Port (COM5)",
                                      std::vector<uart::ModemLine> also = {})
{
    portsetup::Finding f;
    f.kind = portsetup::Finding::Kind::Found;
    f.port = "COM5";
    f.friendlyName = std::move(friendlyName);
    f.line = line;
    f.opensWhenPressed = opens;
    f.presses = presses;
    f.alsoChanged = std::move(also);
    f.watched = {"COM5"};
    return f;
}
