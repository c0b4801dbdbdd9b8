// The Windows error codes the comm-port io.dll reads, under one name each,
// and which of them mean that the device itself is gone.
//
// These are Windows's own numbers on every build (see CommApi.h), so the
// host-built core and the simulated devices use the same values as the
// io.dll that ships.
#pragma once

#include <cstdint>

namespace commio {

constexpr std::uint32_t ErrorInvalidFunction = 1;     // ERROR_INVALID_FUNCTION
constexpr std::uint32_t ErrorFileNotFound = 2;        // ERROR_FILE_NOT_FOUND
constexpr std::uint32_t ErrorPathNotFound = 3;        // ERROR_PATH_NOT_FOUND
constexpr std::uint32_t ErrorAccessDenied = 5;        // ERROR_ACCESS_DENIED
constexpr std::uint32_t ErrorInvalidHandle = 6;       // ERROR_INVALID_HANDLE
constexpr std::uint32_t ErrorBadCommand = 22;         // ERROR_BAD_COMMAND
constexpr std::uint32_t ErrorGenFailure = 31;         // ERROR_GEN_FAILURE
constexpr std::uint32_t ErrorSharingViolation = 32;   // ERROR_SHARING_VIOLATION
constexpr std::uint32_t ErrorNotSupported = 50;       // ERROR_NOT_SUPPORTED: a driver without comm events
constexpr std::uint32_t ErrorInvalidParameter = 87;   // ERROR_INVALID_PARAMETER
constexpr std::uint32_t ErrorInvalidName = 123;       // ERROR_INVALID_NAME
constexpr std::uint32_t ErrorOperationAborted = 995;  // ERROR_OPERATION_ABORTED
constexpr std::uint32_t ErrorIoIncomplete = 996;      // ERROR_IO_INCOMPLETE: an overlapped call not yet given back
constexpr std::uint32_t ErrorDeviceNotConnected = 1167; // ERROR_DEVICE_NOT_CONNECTED
constexpr std::uint32_t ErrorDeviceRemoved = 1617;    // ERROR_DEVICE_REMOVED

// Whether a failed SetCommState says the device went away (pulled out, its
// driver stopped, its handle dead) rather than that it refused the format.
// A driver that can't make a rate may answer almost any code, so only these
// are taken as a removed device; any other keeps the device, which stays
// usable with the format it had.
constexpr std::uint32_t DeviceRemovedErrors[] = {ErrorAccessDenied, ErrorInvalidHandle, ErrorBadCommand,
    ErrorGenFailure, ErrorOperationAborted, ErrorDeviceNotConnected, ErrorDeviceRemoved};
constexpr bool MeansDeviceRemoved(std::uint32_t error)
{
    for (const std::uint32_t removed : DeviceRemovedErrors)
        if (error == removed)
            return true;
    return false;
}

} // namespace commio
