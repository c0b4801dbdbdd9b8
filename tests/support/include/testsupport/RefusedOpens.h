// A comm-port API that passes every call to another one, except the opens
// of the devices named here: those fail with the code given, as Windows
// fails them for reasons the simulated devices don't have of their own (a
// sharing violation, a path not found, a driver's own error).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "testsupport/ForwardingApi.h"

namespace testsupport {

class RefusedOpens final : public ForwardingApi {
public:
    using ForwardingApi::ForwardingApi;

    // "COM3" -> 32: every open of \\.\COM3 fails with error 32.
    std::map<std::string, std::uint32_t> refused;

    std::uint32_t Open(const char *path, commio::DeviceHandle &handle) override
    {
        return Refused(path, handle) ? refused[Name(path)] : inner_.Open(path, handle);
    }
    std::uint32_t OpenForEvents(const char *path, commio::DeviceHandle &handle) override
    {
        return Refused(path, handle) ? refused[Name(path)] : inner_.OpenForEvents(path, handle);
    }

private:
    static std::string Name(std::string path) { return path.rfind("\\\\.\\", 0) == 0 ? path.erase(0, 4) : path; }
    bool Refused(const char *path, commio::DeviceHandle &handle)
    {
        if (refused.count(Name(path)) == 0)
            return false;
        handle = nullptr;
        return true;
    }
};

} // namespace testsupport
