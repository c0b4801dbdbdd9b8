#include "commio/Win32Comm.h"

#include "commio/Dcb.h"

#include <windows.h>

#include <new>

namespace commio {
namespace {

// A failed call's code; never 0, which would read as success.
std::uint32_t LastError()
{
    const DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
}

// An exclusive claim of the device; with FILE_FLAG_OVERLAPPED for comm
// events.
std::uint32_t OpenWith(DWORD flags, const char *path, DeviceHandle &handle)
{
    handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    return handle == INVALID_HANDLE_VALUE ? LastError() : 0;
}

} // namespace

std::uint32_t Win32Comm::Open(const char *path, DeviceHandle &handle) { return OpenWith(0, path, handle); }

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

namespace {

// The wait record: a real OVERLAPPED, with an event of its own so that
// collecting it never depends on the handle's state (the synchronous comm
// calls use the handle too), and the mask WaitCommEvent fills in. On the
// heap, so that one the driver still holds at unload can outlive the DLL.
struct Win32Wait : CommWait {
    OVERLAPPED overlapped{};
    DWORD mask = 0;
};

Win32Wait &Of(CommWait &wait) { return static_cast<Win32Wait &>(wait); }

} // namespace

std::uint32_t Win32Comm::OpenForEvents(const char *path, DeviceHandle &handle)
{
    return OpenWith(FILE_FLAG_OVERLAPPED, path, handle);
}

std::uint32_t Win32Comm::WatchLines(DeviceHandle handle, CommWait *&wait)
{
    if (!wait) {
        auto *made = new (std::nothrow) Win32Wait;
        if (!made)
            return ERROR_NOT_ENOUGH_MEMORY;
        made->overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!made->overlapped.hEvent) {
            const std::uint32_t error = LastError();
            delete made;
            return error;
        }
        wait = made;
    }
    return SetCommMask(handle, EV_CTS | EV_DSR | EV_RLSD | EV_RING) ? 0 : LastError();
}

std::uint32_t Win32Comm::StartWait(DeviceHandle handle, CommWait &wait)
{
    Win32Wait &record = Of(wait);
    if (WaitCommEvent(handle, &record.mask, &record.overlapped))
        return 0; // completed at once: the record says so
    const std::uint32_t error = LastError();
    return error == ERROR_IO_PENDING ? 0 : error;
}

bool Win32Comm::WaitPending(const CommWait &wait)
{
    return !HasOverlappedIoCompleted(&static_cast<const Win32Wait &>(wait).overlapped);
}

std::uint32_t Win32Comm::WaitResult(DeviceHandle handle, CommWait &wait)
{
    Win32Wait &record = Of(wait);
    DWORD bytes = 0;
    if (!GetOverlappedResult(handle, &record.overlapped, &bytes, FALSE))
        return LastError();
    wait.events = record.mask;
    return 0;
}

void Win32Comm::EndWait(DeviceHandle handle, CommWait *&wait, bool mayBlock)
{
    if (!wait)
        return;
    Win32Wait *record = &Of(*wait);
    wait = nullptr;
    if (record->armed && !HasOverlappedIoCompleted(&record->overlapped)) {
        // Whichever thread started it; then its completion is collected,
        // so that the driver no longer writes into the record.
        CancelIoEx(handle, &record->overlapped);
        if (!mayBlock && !HasOverlappedIoCompleted(&record->overlapped))
            return; // the driver still holds it: the record (and its event) stay, never freed
        DWORD bytes = 0;
        GetOverlappedResult(handle, &record->overlapped, &bytes, TRUE);
    }
    CloseHandle(record->overlapped.hEvent);
    delete record;
}

} // namespace commio
