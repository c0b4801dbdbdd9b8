// Polls the comm-port io.dll's core as the key library does (the driver
// check, then the CTS bit), over a simulated COM device that records
// nothing, for counting the instructions of one poll under callgrind.
// Usage: commio_poll_count [POLLS [PORT_MAP_TEXT [no-events]]]; the map is
// "any = COM5" unless given ("any = COM5 line=DSR invert debounce=20" counts
// a wired poll). The device signals its line changes as comm events, so a
// quiet poll makes no device call; "no-events" counts a driver without them,
// read at every poll.
#include <cstdlib>
#include <cstring>

#include "commio/CommIo.h"
#include "commio/PortMap.h"
#include "comdevices/ComDevices.h"
#include "testsupport/LibraryUartSetUp.h"

int main(int argc, char **argv)
{
    const long polls = argc > 1 ? std::atol(argv[1]) : 100000;
    sim::ComDevices devices;
    devices.SetRecording(false);
    const bool events = !(argc > 3 && std::strcmp(argv[3], "no-events") == 0);
    devices.Plug("COM5").refuseEvents = events ? 0 : 50;
    commio::CommIo io(devices);
    const commio::PortMapResult map = commio::ParsePortMap(argc > 2 ? argv[2] : "any = COM5");
    if (!map.error.empty())
        return 2;
    io.Configure(map.uarts);
    if (!io.IsDriverInstalled())
        return 2;
    // The key library's set-up of COM1's UART.
    for (const testsupport::RegisterWrite &write : testsupport::LibraryUartSetUp)
        io.PortOut(static_cast<std::uint16_t>(0x3F8 + write.offset), write.value);
    unsigned set = 0;
    const std::uint64_t clockBefore = devices.ClockReads();
    const std::uint64_t readsBefore = devices.ModemStatusCalls();
    for (long i = 0; i < polls; ++i)
        if (io.IsDriverInstalled())
            set += io.GetPortBit(0x3FE, 4);
    const std::uint64_t clockReads = devices.ClockReads() - clockBefore;
    const std::uint64_t deviceReads = devices.ModemStatusCalls() - readsBefore;
    io.Release();
    // With events: the first poll's read, then the refresh at every
    // RefreshReads-th read and no call in between; without: one read per
    // poll. No poll reads the clock.
    const unsigned long reads = events ? 1 + static_cast<unsigned long>(polls - 1) / commio::CommIo::RefreshReads
                                       : static_cast<unsigned long>(polls);
    return set == 0 && deviceReads == reads && clockReads == 0 ? 0 : 1;
}
