#include "commio/Win32Comm.h"

#include "commio/Dcb.h"

#include <windows.h>

#include <cstdlib>
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

std::uint32_t Win32Comm::Ticks() { return GetTickCount(); }

// ---- The time -----------------------------------------------------------------

namespace {

// Windows keeps the tick count in a page it maps read-only into every
// process at a fixed address (KUSER_SHARED_DATA, MM_SHARED_USER_DATA_VA):
// TickCountMultiplier at +004h and the tick count's low part at +320h.
// GetTickCount is that, scaled; read here, a quiet poll knows the time
// without a call. The low part wraps after about two years of 15.6 ms
// ticks, long after the millisecond count has wrapped anyway.
constexpr std::uintptr_t SharedUserData = 0x7FFE0000;
constexpr std::uintptr_t TickCountMultiplierAt = SharedUserData + 0x004;
constexpr std::uintptr_t TickCountLowAt = SharedUserData + 0x320;

} // namespace

std::uint32_t Win32Comm::QuietTicks()
{
    const auto multiplier = *reinterpret_cast<const volatile std::uint32_t *>(TickCountMultiplierAt);
    const auto ticks = *reinterpret_cast<const volatile std::uint32_t *>(TickCountLowAt);
    return static_cast<std::uint32_t>((std::uint64_t{ticks} * multiplier) >> 24);
}

// ---- Comm events ------------------------------------------------------------

namespace {

// The wait record: a real OVERLAPPED, with an event of its own so that
// collecting it never depends on the handle's state (the synchronous comm
// calls use the handle too), and the mask WaitCommEvent fills in. On the
// C runtime's heap, so that one the driver still holds when it is given
// back (and at unload) can outlive its handle, and the DLL.
struct Win32Wait : CommWait {
    // Plain memory: nothing to do when it is freed.
    OVERLAPPED overlapped{};
    DWORD mask = 0;
};

Win32Wait &Of(CommWait &wait) { return static_cast<Win32Wait &>(wait); }

// The event, not the record, says whether the driver is done with a wait:
// Wine writes the mask, then the record, and sets the event last, and may
// mark the record pending again in between. Asked with no timeout, which
// waits for nothing.
bool GivenBack(Win32Wait &record) { return WaitForSingleObject(record.overlapped.hEvent, 0) == WAIT_OBJECT_0; }

void Free(Win32Wait *record)
{
    CloseHandle(record->overlapped.hEvent);
    std::free(record);
}

// Records given back while the driver still held them: freed once it is
// done with them, at a later EndWait or WatchLines. One per device closed
// with its wait not yet ended; beyond that many (a driver that never gives
// them back), the rest are left to it for good.
constexpr std::size_t MaxLeftToDriver = 16;
Win32Wait *leftToDriver[MaxLeftToDriver];

// Frees the records the driver has given back, each awaited until `ms`
// after `since`. At an unload nothing is left to free a record later, and
// Wine's serial driver ends a cancelled wait only once the handle has
// closed, from a thread of its own that then sets the event (without the
// loader lock, so this can't wait on the unload itself): there the records
// are given one budget for the whole unload. A driver slower than that
// keeps its record for good. Elsewhere nothing waits (`ms` 0).
void ReapUntil(DWORD since, DWORD ms)
{
    for (Win32Wait *&record : leftToDriver) {
        if (!record)
            continue;
        const DWORD spent = ms ? GetTickCount() - since : 0;
        if (WaitForSingleObject(record->overlapped.hEvent, spent < ms ? ms - spent : 0) == WAIT_OBJECT_0) {
            Free(record);
            record = nullptr;
        }
    }
}

void Reap() { ReapUntil(0, 0); }

void LeaveToDriver(Win32Wait *record)
{
    for (Win32Wait *&slot : leftToDriver)
        if (!slot) {
            slot = record;
            return;
        }
}

} // namespace

std::uint32_t Win32Comm::OpenForEvents(const char *path, DeviceHandle &handle)
{
    return OpenWith(FILE_FLAG_OVERLAPPED, path, handle);
}

std::uint32_t Win32Comm::WatchLines(DeviceHandle handle, CommWait *&wait, std::uint32_t events)
{
    Reap();
    if (!wait) {
        void *memory = std::malloc(sizeof(Win32Wait));
        if (!memory)
            return ERROR_NOT_ENOUGH_MEMORY;
        auto *made = new (memory) Win32Wait;
        // Set while no wait holds the record: each wait resets it as it
        // starts, and the driver sets it last, once done with the record.
        made->overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        if (!made->overlapped.hEvent) {
            const std::uint32_t error = LastError();
            std::free(made);
            return error;
        }
        wait = made;
    }
    return SetCommMask(handle, events) ? 0 : LastError();
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
    // event fails as though a wait were still pending. So the wait is
    // collected once its event is set, at this read or a later one; on
    // Windows the event is set with the record.
    if (!GivenBack(record))
        return ERROR_IO_INCOMPLETE;
    DWORD bytes = 0;
    // Waiting (TRUE) takes a record Wine marked pending again: with the
    // event set it returns at once.
    if (!GetOverlappedResult(handle, &record.overlapped, &bytes, TRUE))
        return LastError();
    wait.events = record.mask;
    return 0;
}

void Win32Comm::EndWait(DeviceHandle handle, CommWait *&wait)
{
    Reap();
    if (!wait)
        return;
    Win32Wait *record = &Of(*wait);
    wait = nullptr;
    if (!GivenBack(*record)) {
        // Whichever thread started it. A driver may take its time over the
        // cancel (Wine's ends a serial wait only as its handle closes), and
        // nothing here waits for it: the record is left to the driver until
        // it gives it back.
        CancelIoEx(handle, &record->overlapped);
        if (!GivenBack(*record))
            return LeaveToDriver(record);
    }
    Free(record);
}

void Win32Comm::Unloading()
{
    unloading_ = true;
    unloadingSince_ = GetTickCount();
}

void Win32Comm::Close(DeviceHandle handle)
{
    CloseHandle(handle);
    if (unloading_)
        ReapUntil(unloadingSince_, UnloadGraceMs);
}

} // namespace commio
