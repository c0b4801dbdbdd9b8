// Counts how often the comm-port io.dll's core lists the system's ports
// while the USB adapter its map names is unplugged: polled as the key
// library polls it (the driver check, then the CTS bit) every POLL_MS of
// simulated time for MINUTES minutes after the adapter is pulled out.
// Prints the port lists of the first minute and of each minute after it,
// and the time from the adapter's return to the poll that holds it again.
// Usage: adapter_lookup_count [MINUTES [POLL_MS]]   (10 and 10 unless given)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commio/CommIo.h"
#include "commio/PortMap.h"
#include "comdevices/ComDevices.h"
#include "testsupport/LibraryUartSetUp.h"

int main(int argc, char **argv)
{
    const long minutes = argc > 1 ? std::atol(argv[1]) : 10;
    const long pollMs = argc > 2 ? std::atol(argv[2]) : 10;
    if (minutes < 2 || pollMs < 1)
        return 2;
    const char *adapter = "USB\\VID_0403&PID_6001\\A1B2C3";
    sim::ComDevices devices;
    devices.PlugAdapter("COM5", adapter).refuseEvents = 0;
    commio::CommIo io(devices);
    const commio::PortMapResult map = commio::ParsePortMap("any = usb=0403:6001:A1B2C3");
    if (!map.error.empty())
        return 2;
    io.Configure(map.uarts);
    if (!io.IsDriverInstalled())
        return 2;
    for (const testsupport::RegisterWrite &write : testsupport::LibraryUartSetUp)
        io.PortOut(static_cast<std::uint16_t>(0x3F8 + write.offset), write.value);
    const auto poll = [&] {
        if (io.IsDriverInstalled())
            io.GetPortBit(0x3FE, 4);
        devices.Advance(static_cast<std::uint32_t>(pollMs));
    };
    const auto lists = [&] {
        long count = 0;
        for (const std::string &call : devices.TakeCalls())
            count += call.rfind("ListPorts", 0) == 0;
        return count;
    };

    devices.Unplug("COM5");
    devices.TakeCalls();
    std::vector<long> perMinute;
    for (long minute = 0; minute < minutes; ++minute) {
        for (long ms = 0; ms < 60000; ms += pollMs)
            poll();
        perMinute.push_back(lists());
    }
    long later = 0;
    for (std::size_t i = 1; i < perMinute.size(); ++i)
        later += perMinute[i];
    devices.PlugAdapter("COM7", adapter).refuseEvents = 0;
    long foundMs = 0;
    while (!devices.Find("COM7")->held && foundMs < 60000) {
        poll();
        foundMs += pollMs;
    }
    const bool found = devices.Find("COM7")->held;
    std::printf("Comm-port io.dll, a usb= adapter unplugged, polls every %ld ms: %ld port lists in the first "
                "minute, %.1f a minute over the next %ld; plugged in again, held after %ld ms\n",
                pollMs, perMinute[0], static_cast<double>(later) / static_cast<double>(minutes - 1), minutes - 1,
                foundMs);
    io.Release();
    return found ? 0 : 1;
}
