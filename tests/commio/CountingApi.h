// The simulated COM devices as the io.dll core sees them, with what the
// devices themselves don't offer: a count of the core's clock reads (the
// millisecond clock is a call on Windows, and the poll's short ways promise
// to make none), comm event waits that fail as the test chooses, and checks
// of what the Windows binding alone relies on: the wait's `armed` flag,
// which says whether a wait must be cancelled and collected before its
// handle closes, and an end of the watch (which frees its event) before the
// close of every handle whose lines were watched.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <utility>

#include "commio/CommApi.h"
#include "comdevices/ComDevices.h"
#include "testsupport/ForwardingApi.h"

class CountingApi final : public testsupport::ForwardingApi {
public:
    explicit CountingApi(sim::ComDevices &devices) : ForwardingApi(devices), devices_(devices) {}

    std::uint64_t clockReads = 0; // Ticks() calls
    // The next wait the core collects ends in this error instead of the
    // driver's answer (0: as the driver says). The driver still hands it
    // back, so its own count of waits stays right.
    std::uint32_t nextWaitFails = 0;
    // The next wait the core starts fails at once with this error.
    std::uint32_t nextStartFails = 0;
    // The next completed wait the core collects is not yet given back
    // (Wine sets its event last): ErrorIoIncomplete, once.
    bool nextResultIncomplete = false;
    // Waits ended while `armed` said otherwise than whether one was started
    // and not yet collected.
    std::uint64_t armedWrong = 0;
    // Handles closed with their watch not ended.
    std::uint64_t closedWatched = 0;
    // Run once, as the core's next status read returns or as its next wait
    // starts: a line that changes just then.
    std::function<void()> afterNextRead, afterNextWaitStart;

    std::uint32_t ModemStatus(commio::DeviceHandle handle, std::uint8_t &lines) override
    {
        const std::uint32_t error = devices_.ModemStatus(handle, lines);
        RunOnce(afterNextRead);
        return error;
    }

    void Close(commio::DeviceHandle handle) override
    {
        closedWatched += watched_.erase(handle);
        devices_.Close(handle);
    }
    std::uint32_t WatchLines(commio::DeviceHandle handle, commio::CommWait *&wait, std::uint32_t events) override
    {
        watched_.insert(handle); // to be ended even where it fails
        return devices_.WatchLines(handle, wait, events);
    }
    std::uint32_t StartWait(commio::DeviceHandle handle, commio::CommWait &wait) override
    {
        if (const std::uint32_t injected = nextStartFails) {
            nextStartFails = 0;
            return injected;
        }
        const std::uint32_t error = devices_.StartWait(handle, wait);
        if (error == 0)
            started_.insert(&wait);
        RunOnce(afterNextWaitStart);
        return error;
    }
    std::uint32_t WaitResult(commio::DeviceHandle handle, commio::CommWait &wait) override
    {
        if (std::exchange(nextResultIncomplete, false))
            return commio::ErrorIoIncomplete;
        const std::uint32_t error = devices_.WaitResult(handle, wait);
        if (!devices_.WaitPending(wait))
            started_.erase(&wait); // collected
        const std::uint32_t injected = nextWaitFails;
        nextWaitFails = 0;
        return injected ? injected : error;
    }
    void EndWait(commio::DeviceHandle handle, commio::CommWait *&wait) override
    {
        if (wait) {
            const bool pending = started_.erase(wait) != 0;
            if (wait->armed != pending)
                ++armedWrong;
        }
        watched_.erase(handle);
        devices_.EndWait(handle, wait);
    }
    std::uint32_t Ticks() override
    {
        ++clockReads;
        return devices_.Ticks();
    }

private:
    static void RunOnce(std::function<void()> &hook)
    {
        if (hook)
            std::exchange(hook, nullptr)();
    }

    sim::ComDevices &devices_;
    std::set<const commio::CommWait *> started_;
    std::set<commio::DeviceHandle> watched_;
};
