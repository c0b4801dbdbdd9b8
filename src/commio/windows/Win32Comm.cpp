#include "commio/Win32Comm.h"

#include "commio/Dcb.h"

#include <windows.h>

#include <cstddef>

namespace commio {
namespace {

// A failed call's code; never 0, which would read as success.
std::uint32_t LastError()
{
    const DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

} // namespace

std::uint32_t Win32Comm::Open(const char *path, DeviceHandle &handle)
{
    handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? LastError() : 0;
}

std::uint32_t Win32Comm::GetState(DeviceHandle handle, DeviceSettings &settings)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return LastError();
    settings = FromDcb(dcb);
    return 0;
}

std::uint32_t Win32Comm::SetState(DeviceHandle handle, const DeviceSettings &settings)
{
    DCB dcb = ToDcb(settings);
    return SetCommState(handle, &dcb) ? 0 : LastError();
}

std::uint32_t Win32Comm::EscapeFunction(DeviceHandle handle, Escape code)
{
    return EscapeCommFunction(handle, static_cast<DWORD>(code)) ? 0 : LastError();
}

std::uint32_t Win32Comm::ModemStatus(DeviceHandle handle, std::uint8_t &lines)
{
    DWORD status = 0;
    if (!GetCommModemStatus(handle, &status))
        return LastError();
    lines = static_cast<std::uint8_t>(status);
    return 0;
}

void Win32Comm::Close(DeviceHandle handle) { CloseHandle(handle); }

std::uint32_t Win32Comm::Ticks() { return GetTickCount(); }

// ---- Comm events ------------------------------------------------------------

// The wait record is the OVERLAPPED itself, so that the core reads its
// status word as HasOverlappedIoCompleted does.
static_assert(offsetof(CommWait, status) == offsetof(OVERLAPPED, Internal), "status word");
static_assert(offsetof(CommWait, information) == offsetof(OVERLAPPED, InternalHigh), "byte count");
static_assert(offsetof(CommWait, event) == offsetof(OVERLAPPED, hEvent), "event");
static_assert(sizeof(std::uintptr_t) == sizeof(ULONG_PTR) && CommWait::Pending == STATUS_PENDING, "pending");
static_assert(sizeof(std::uint32_t) == sizeof(DWORD), "event mask");

static OVERLAPPED *AsOverlapped(CommWait &wait) { return reinterpret_cast<OVERLAPPED *>(&wait); }

std::uint32_t Win32Comm::OpenForEvents(const char *path, DeviceHandle &handle)
{
    handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    return handle == INVALID_HANDLE_VALUE ? LastError() : 0;
}

std::uint32_t Win32Comm::WatchLines(DeviceHandle handle, CommWait &wait)
{
    // An event of the wait's own, so that collecting it never depends on
    // the handle's state, which the synchronous comm calls also use.
    if (!wait.event) {
        wait.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!wait.event)
            return LastError();
    }
    return SetCommMask(handle, EV_CTS | EV_DSR | EV_RLSD | EV_RING) ? 0 : LastError();
}

std::uint32_t Win32Comm::StartWait(DeviceHandle handle, CommWait &wait)
{
    if (WaitCommEvent(handle, reinterpret_cast<DWORD *>(&wait.events), AsOverlapped(wait)))
        return 0; // completed at once: the status word says so
    const DWORD error = GetLastError();
    return error == ERROR_IO_PENDING ? 0 : (error ? error : ERROR_GEN_FAILURE);
}

std::uint32_t Win32Comm::WaitResult(DeviceHandle handle, CommWait &wait)
{
    DWORD bytes = 0;
    return GetOverlappedResult(handle, AsOverlapped(wait), &bytes, FALSE) ? 0 : LastError();
}

void Win32Comm::EndWait(DeviceHandle handle, CommWait &wait)
{
    if (wait.armed) {
        // Whichever thread started it; then its completion is collected,
        // so that the driver no longer writes into the record.
        if (!wait.Completed())
            CancelIoEx(handle, AsOverlapped(wait));
        DWORD bytes = 0;
        GetOverlappedResult(handle, AsOverlapped(wait), &bytes, TRUE);
        wait.armed = false;
    }
    if (wait.event) {
        CloseHandle(wait.event);
        wait.event = nullptr;
    }
}

// GetTickCount's own source: the tick count the system keeps in the page
// it shares with every process (its low word), and the multiplier that
// makes its units milliseconds (2^24 per ms).
const volatile std::uint32_t *Win32Comm::TickWord(std::uint32_t &per100ms)
{
    const auto shared = reinterpret_cast<const volatile std::uint32_t *>(0x7FFE0000);
    const std::uint32_t multiplier = shared[0x004 / 4];
    const std::uint64_t units = multiplier ? (std::uint64_t{100} << 24) / multiplier : 0;
    per100ms = units == 0 ? 1 : (units > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(units));
    return multiplier ? &shared[0x320 / 4] : nullptr;
}

} // namespace commio
