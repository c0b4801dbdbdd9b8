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

// How long an ending wait may take to set its event: a moment in practice.
constexpr DWORD WaitEndingMs = 1000;

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
        // Set while no wait holds the record: each wait resets it as it
        // starts, and the driver sets it last, once done with the record.
        made->overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
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
    record.mask = 0; // the driver writes it only as the wait ends (WaitPending)
    if (WaitCommEvent(handle, &record.mask, &record.overlapped))
        return 0; // completed at once: the record says so
    const std::uint32_t error = LastError();
    if (error == ERROR_IO_PENDING)
        return 0;
    SetEvent(record.overlapped.hEvent); // refused: no wait holds the record
    return error;
}

// Wine's serial driver can end a wait while WaitCommEvent is still on its
// way back, and then write "pending" into the record over the result: the
// record says pending for ever, though the wait is over. The mask it
// writes first does say so; no wait that is still pending has events in
// it. A memory read, as the record's own, so a quiet poll still makes no
// call.
bool Win32Comm::WaitPending(const CommWait &wait)
{
    const Win32Wait &record = static_cast<const Win32Wait &>(wait);
    return !HasOverlappedIoCompleted(&record.overlapped) && *static_cast<const volatile DWORD *>(&record.mask) == 0;
}

std::uint32_t Win32Comm::WaitResult(DeviceHandle handle, CommWait &wait)
{
    Win32Wait &record = Of(wait);
    // Wine ends a wait in steps: the mask, the record, then, once the
    // device will take a new wait, the event; a WaitCommEvent before the
    // event fails as though a wait were still pending. The wait is ending
    // already (WaitPending), so that is a moment; on Windows the event is
    // set with the record.
    const bool ended = WaitForSingleObject(record.overlapped.hEvent, WaitEndingMs) == WAIT_OBJECT_0;
    DWORD bytes = 0;
    // Waiting (TRUE) takes a record Wine marked pending again: with the
    // event set it returns at once.
    if (!GetOverlappedResult(handle, &record.overlapped, &bytes, ended ? TRUE : FALSE))
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
    // The event, not the record, says whether the driver is done with it:
    // Wine writes the mask, then the record, and sets the event last, and
    // may mark the record pending again in between. Asked with no timeout,
    // which waits for nothing, so it may be asked under the loader lock.
    if (WaitForSingleObject(record->overlapped.hEvent, 0) != WAIT_OBJECT_0) {
        // Whichever thread started it; then, where it may wait, a moment
        // for the driver to give the record back.
        CancelIoEx(handle, &record->overlapped);
        if (WaitForSingleObject(record->overlapped.hEvent, mayBlock ? WaitEndingMs : 0) != WAIT_OBJECT_0)
            return; // the driver still holds it: the record (and its event) stay, never freed
    }
    CloseHandle(record->overlapped.hEvent);
    delete record;
}

} // namespace commio
