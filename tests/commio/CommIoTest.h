// A comm-port io.dll core over simulated COM devices, for the host tests.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commio/CommIo.h"
#include "commio/PortMap.h"
#include "comdevices/ComDevices.h"
#include "CountingApi.h"
#include "testsupport/LibraryUartSetUp.h"

using Calls = std::vector<std::string>;

// The modem status register of the UART at 3F8h, and the modem lines.
constexpr std::uint16_t kMsr = 0x3FE;
using uart::ModemLine;

// One register access from the host, at an offset from 3F8h.
struct IoAccess {
    char op;            // 'o' PortOut, 's' SetPortBit, 'c' ClrPortBit
    std::uint8_t reg;   // offset from 3F8h
    std::uint8_t value; // byte, or bit number
};

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
    void Apply(const std::vector<IoAccess> &accesses)
    {
        for (const IoAccess &a : accesses) {
            const auto port = static_cast<std::uint16_t>(0x3F8 + a.reg);
            if (a.op == 'o') io.PortOut(port, a.value);
            else if (a.op == 's') io.SetPortBit(port, a.value);
            else io.ClrPortBit(port, a.value);
        }
    }
    Calls Taken() { return devices.TakeCalls(); }

    sim::ComDevices devices;
    // The core's calls pass through the counting API: its clock reads, and
    // what the Windows binding relies on, are there to check.
    CountingApi api{devices};
    commio::CommIo io{api};
};

