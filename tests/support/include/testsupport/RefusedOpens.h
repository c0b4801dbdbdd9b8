// A comm-port API that passes every call to another one, except the opens
// of the devices named here: those fail with the code given, as Windows
// fails them for reasons the simulated devices don't have of their own (a
// sharing violation, a path not found, a driver's own error).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "commio/CommApi.h"

namespace testsupport {

class RefusedOpens final : public commio::CommApi {
public:
    explicit RefusedOpens(commio::CommApi &inner) : inner_(inner) {}

    // "COM3" -> 32: every open of \\.\COM3 fails with error 32.
    std::map<std::string, std::uint32_t> refused;

    std::uint32_t Open(const char *path, commio::DeviceHandle &handle) override
    {
        std::string name = path;
        if (name.rfind("\\\\.\\", 0) == 0)
            name.erase(0, 4);
        if (const auto it = refused.find(name); it != refused.end()) {
            handle = nullptr;
            return it->second;
        }
        return inner_.Open(path, handle);
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
    std::uint32_t Ticks() override { return inner_.Ticks(); }

private:
    commio::CommApi &inner_;
};

} // namespace testsupport
