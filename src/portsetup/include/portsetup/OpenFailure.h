#pragma once

#include <cstdint>

#include "commio/WindowsErrors.h"

namespace portsetup {

// What a failed open of a COM device says, for every reader of it in the
// key tester (the port list, the search, the advice on the io.dll's
// status): no such device, or another program holds it (serial devices are
// exclusive), or else.
enum class OpenFailure { NoSuchDevice, HeldElsewhere, Other };

constexpr OpenFailure ClassifyOpenFailure(std::uint32_t error)
{
    switch (error) {
    case commio::ErrorFileNotFound:
    case commio::ErrorPathNotFound:
    case commio::ErrorInvalidName:
        return OpenFailure::NoSuchDevice;
    case commio::ErrorAccessDenied:
    case commio::ErrorSharingViolation:
        return OpenFailure::HeldElsewhere;
    default:
        return OpenFailure::Other;
    }
}

} // namespace portsetup
