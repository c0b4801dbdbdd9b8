// The simulated COM devices as the io.dll core sees them, with two things
// the devices themselves don't offer: a count of the core's clock reads
// (the millisecond clock is a call on Windows, and the poll's short ways
// promise to make none), and a comm event wait that ends in an error of the
// test's choosing.
#pragma once

#include <cstdint>

#include "commio/CommApi.h"
#include "comdevices/ComDevices.h"

class CountingApi final : public commio::CommApi {
public:
    explicit CountingApi(sim::ComDevices &devices) : devices_(devices) {}

    std::uint64_t clockReads = 0; // Ticks() calls
    // The next wait the core collects ends in this error instead of the
    // driver's answer (0: as the driver says). The driver still hands it
    // back, so its own count of waits stays right.
    std::uint32_t nextWaitFails = 0;

    std::uint32_t Open(const char *path, commio::DeviceHandle &handle) override { return devices_.Open(path, handle); }
    std::uint32_t OpenForEvents(const char *path, commio::DeviceHandle &handle) override
    {
        return devices_.OpenForEvents(path, handle);
    }
    std::uint32_t GetState(commio::DeviceHandle handle, commio::DeviceSettings &settings) override
    {
        return devices_.GetState(handle, settings);
    }
    std::uint32_t SetState(commio::DeviceHandle handle, const commio::DeviceSettings &settings) override
    {
        return devices_.SetState(handle, settings);
    }
    std::uint32_t EscapeFunction(commio::DeviceHandle handle, commio::Escape code) override
    {
        return devices_.EscapeFunction(handle, code);
    }
    std::uint32_t ModemStatus(commio::DeviceHandle handle, std::uint8_t &lines) override
    {
        return devices_.ModemStatus(handle, lines);
    }
    void Close(commio::DeviceHandle handle) override { devices_.Close(handle); }
    std::uint32_t WatchLines(commio::DeviceHandle handle, commio::CommWait &wait) override
    {
        return devices_.WatchLines(handle, wait);
    }
    std::uint32_t StartWait(commio::DeviceHandle handle, commio::CommWait &wait) override
    {
        return devices_.StartWait(handle, wait);
    }
    std::uint32_t WaitResult(commio::DeviceHandle handle, commio::CommWait &wait) override
    {
        const std::uint32_t error = devices_.WaitResult(handle, wait);
        const std::uint32_t injected = nextWaitFails;
        nextWaitFails = 0;
        return injected ? injected : error;
    }
    void EndWait(commio::DeviceHandle handle, commio::CommWait &wait) override { devices_.EndWait(handle, wait); }
    std::uint32_t ListPorts(PortVisitor visit, void *context) override { return devices_.ListPorts(visit, context); }
    std::uint32_t Ticks() override
    {
        ++clockReads;
        return devices_.Ticks();
    }
    const volatile std::uint32_t *TickWord(std::uint32_t &per100ms) override { return devices_.TickWord(per100ms); }

private:
    sim::ComDevices &devices_;
};
