// A comm-port io.dll core over simulated COM devices, for the host tests.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commio/CommIo.h"
#include "commio/PortMap.h"
#include "comdevices/ComDevices.h"
#include "testsupport/LibraryUartSetUp.h"

using Calls = std::vector<std::string>;

class CommIoTest : public ::testing::Test {
protected:
    // Maps the ports as `portMap` says; the map must be good.
    void Map(const char *portMap)
    {
        const commio::PortMapResult map = commio::ParsePortMap(portMap);
        ASSERT_EQ(map.error, "");
        io.Configure(map.uarts);
    }
    // Mapped to COM5 for any UART, claimed, the record cleared.
    void Claimed(const char *portMap = "any = COM5")
    {
        devices.Plug("COM5");
        Map(portMap);
        ASSERT_EQ(io.IsDriverInstalled(), 1);
        devices.TakeCalls();
    }
    // The key library's set-up of a UART at `base`: 2400 8O1, RTS and OUT2.
    void LibrarySetUp(std::uint16_t base)
    {
        for (const testsupport::RegisterWrite &write : testsupport::LibraryUartSetUp)
            io.PortOut(static_cast<std::uint16_t>(base + write.offset), write.value);
    }
    Calls Taken() { return devices.TakeCalls(); }

    sim::ComDevices devices;
    commio::CommIo io{devices};
};

