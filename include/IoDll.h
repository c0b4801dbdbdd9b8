/*
 * io.dll's interface: the one declaration of the port-I/O library's exports.
 * Zelbin_Serial.dll imports them through it; the stand-in and the comm-port
 * io.dll define them against it, so the compiler holds all three
 * to the same widths and convention. All functions are stdcall and are
 * exported under their undecorated names.
 *
 * Widths: ports are 16-bit, values and bit numbers one byte, the driver
 * check a one-byte boolean and a bit read a 16-bit boolean (non-zero: set).
 *
 * A file that defines these functions defines IODLL_API (empty) before
 * including this header.
 */
#ifndef ZELBIN_IO_DLL_H
#define ZELBIN_IO_DLL_H

#include <windows.h>

#ifndef IODLL_API
#define IODLL_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The operations the key library imports. */
IODLL_API BYTE WINAPI IsDriverInstalled(void);
IODLL_API void WINAPI PortOut(WORD port, BYTE value);
IODLL_API WORD WINAPI GetPortBit(WORD port, BYTE bit);
IODLL_API void WINAPI SetPortBit(WORD port, BYTE bit);
IODLL_API void WINAPI ClrPortBit(WORD port, BYTE bit);

/* One byte read; tools use it for diagnostics. Not every io.dll has it:
 * resolve it with GetProcAddress. */
IODLL_API BYTE WINAPI PortIn(WORD port);

/* The same, as pointer types for GetProcAddress. */
typedef BYTE(WINAPI *IsDriverInstalledFn)(void);
typedef void(WINAPI *PortOutFn)(WORD port, BYTE value);
typedef WORD(WINAPI *GetPortBitFn)(WORD port, BYTE bit);
typedef void(WINAPI *SetPortBitFn)(WORD port, BYTE bit);
typedef void(WINAPI *ClrPortBitFn)(WORD port, BYTE bit);
typedef BYTE(WINAPI *PortInFn)(WORD port);

#ifdef __cplusplus
}
#endif

#endif
