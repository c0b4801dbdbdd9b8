// The serial ports Windows has, read from its three lists, and the serial
// driver's calls behind commio::CommApi for probing and searching them.
#pragma once

#include <string>
#include <vector>

#include "commio/CommApi.h"
#include "portsetup/PortList.h"

namespace portsetup {

// The Ports device class, the registry's serial devices and the DOS device
// names, merged. Under Wine the first of them is empty.
std::vector<PortInfo> ListWindowsPorts();

// What --ports lists and a search watches: the ports Windows lists, and the
// standard names COM1 to COM4 where they open though no list holds them
// (those are probed already; the listed ones are not).
std::vector<PortInfo> ListPortsToSearch(commio::CommApi &serial);

// The port list as --ports and the window's port picker show it: the same
// ports, each probed (free, held by another program, not a serial port...),
// with the line of io-ports.txt that maps it.
std::vector<PortInfo> ListAndProbePorts(commio::CommApi &serial, const std::string &mapPath,
                                                 std::string &mapProblem);

// For the preflight: the name Windows gives the device a test uses, such as
// "COM5 is \"USB Serial Port (COM5)\"", or empty when it gives none; with the
// comm-port io.dll that is the device its io-ports.txt names for `base`, and
// `warning` says when that mapping reads the key on a line the adapter
// doesn't report.
std::string DeviceNameLine(const std::string &device, bool commio, const std::string &ioPath, std::uint16_t base,
                           std::string &warning);

// --ports: the list, each port probed, and its line of the io-ports.txt at
// `mapPath`, printed.
void PrintPortList(const std::string &mapPath);

} // namespace portsetup
