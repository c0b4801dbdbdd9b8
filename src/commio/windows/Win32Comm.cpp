#include "Win32Comm.h"

#include <windows.h>

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

std::uint32_t Win32Comm::SetState(DeviceHandle handle, const StateRequest &request)
{
    // Start from the device's own state so that what this io.dll doesn't
    // carry (buffers, characters, timeouts) stays as the driver has it.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb))
        return LastError();
    if (request.line) {
        dcb.BaudRate = request.line->baud;
        dcb.ByteSize = request.line->dataBits;
        dcb.Parity = request.line->parity;
        dcb.StopBits = request.line->stopBits;
    }
    dcb.fParity = dcb.Parity != NOPARITY;
    dcb.fBinary = TRUE;
    // No flow control: the lines are the key's and the host's, not a
    // handshake.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fDtrControl = request.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = request.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
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

} // namespace commio
