#pragma once

#include <cstdint>

#include "commio/WindowsErrors.h"

namespace portsetup {

// What a failed open of a COM device says, for every reader of it in the
// key tester (the port list, the search, the advice on the io.dll's
// status): no such device, or another program holds it (serial devices are
// exclusive), or else.
enum class OpenFailure { NoSuchDevice, HeldElsewhere, Other };

// What a port that isn't there now means, in the same words wherever it is
// met: the port list, the search, and the advice on the io.dll's status. A
// USB adapter's COM port exists only while the adapter is plugged in.
constexpr const char NotThereNow[] = "not there now: plug the adapter in";

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
