// A comm-port API that passes every call to another one: the base of the
// tests' wrappers, each of which overrides only the calls it watches or
// changes.
#pragma once

#include <cstdint>

#include "commio/CommApi.h"

namespace testsupport {

class ForwardingApi : public commio::CommApi {
public:
    explicit ForwardingApi(commio::CommApi &inner) : inner_(inner) {}

    std::uint32_t Open(const char *path, commio::DeviceHandle &handle) override { return inner_.Open(path, handle); }
    std::uint32_t OpenForEvents(const char *path, commio::DeviceHandle &handle) override
    {
        return inner_.OpenForEvents(path, handle);
    }
    std::uint32_t GetState(commio::DeviceHandle handle, commio::DeviceSettings &settings) override
    {
        return inner_.GetState(handle, settings);
    }
    std::uint32_t SetState(commio::DeviceHandle handle, const commio::DeviceSettings &settings) override
    {
        return inner_.SetState(handle, settings);
    }
    std::uint32_t EscapeFunction(commio::DeviceHandle handle, commio::Escape code) override
    {
        return inner_.EscapeFunction(handle, code);
    }
    std::uint32_t ModemStatus(commio::DeviceHandle handle, std::uint8_t &lines) override
    {
        return inner_.ModemStatus(handle, lines);
    }
    void Close(commio::DeviceHandle handle) override { inner_.Close(handle); }
    std::uint32_t WatchLines(commio::DeviceHandle handle, commio::CommWait *&wait, std::uint32_t events) override
    {
        return inner_.WatchLines(handle, wait, events);
    }
    std::uint32_t StartWait(commio::DeviceHandle handle, commio::CommWait &wait) override
    {
        return inner_.StartWait(handle, wait);
    }
    bool WaitPending(const commio::CommWait &wait) override { return inner_.WaitPending(wait); }
    std::uint32_t WaitResult(commio::DeviceHandle handle, commio::CommWait &wait) override
    {
        return inner_.WaitResult(handle, wait);
    }
    void EndWait(commio::DeviceHandle handle, commio::CommWait *&wait) override { inner_.EndWait(handle, wait); }
    std::uint32_t ListPorts(PortVisitor visit, void *context) override { return inner_.ListPorts(visit, context); }
    std::uint32_t Ticks() override { return inner_.Ticks(); }
    std::uint32_t QuietTicks() override { return inner_.QuietTicks(); }

protected:
    commio::CommApi &inner_;
};

} // namespace testsupport
