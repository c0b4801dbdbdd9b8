// The Ports device class through SetupAPI, a device at a time: the one walk
// of that class, for the comm-port io.dll's adapter lookup and the key
// tester's port list. VisitPortsClass is in Windows builds only.
#pragma once

#include <cstdint>

namespace commio {

struct PortsClassDevice {
    const char *instanceId;   // "USB\VID_0403&PID_6001\A1B2C3"; empty where it can't be read
    const char *portName;     // its PortName value, "COM5"; empty where it has none
    const char *friendlyName; // "USB Serial Port (COM5)"; empty where it has none, or not asked for
    const char *service;      // its driver's service, "usbser"; empty where it has none, or not asked for
};

using PortsClassVisitor = void (*)(void *context, const PortsClassDevice &device);

// Visits every present device of the class (a printer port too: callers
// keep the COM names), with its friendly name and driver service where
// `withDetails` asks for them. 0, or the error of a class list that can't
// be had.
std::uint32_t VisitPortsClass(PortsClassVisitor visit, void *context, bool withDetails);

} // namespace commio
