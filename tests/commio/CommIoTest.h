// A comm-port io.dll core over simulated COM devices, for the host tests.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commio/core/CommIo.h"
#include "commio/core/PortMap.h"
#include "sim/ComDevices.h"

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
        const std::uint8_t steps[][2] = {{3, 0x80}, {0, 0x30}, {1, 0x00}, {3, 0x0B}, {1, 0x00}, {2, 0xC1}, {4, 0x0A}};
        for (const auto &step : steps)
            io.PortOut(static_cast<std::uint16_t>(base + step[0]), step[1]);
    }
    Calls Taken() { return devices.TakeCalls(); }

    sim::ComDevices devices;
    commio::CommIo io{devices};
};

