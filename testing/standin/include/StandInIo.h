/*
 * The stand-in io.dll: the simulator compiled as a port-I/O library, so that
 * Zelbin_Serial.dll and any host can run without the real driver package or
 * serial hardware. It exports the five port-I/O operations under the real
 * library's names and conventions, plus the control interface below for
 * tests and tools (this header; the operations themselves are in IoDll.h).
 * All functions are stdcall.
 */
#ifndef ZELBIN_STAND_IN_IO_H
#define ZELBIN_STAND_IN_IO_H

#include <windows.h>

#ifndef SIM_API
#define SIM_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The simulated PC is shared by every process in the Windows session that
 * loads the stand-in (named shared memory "Local\ZelbinVirtualKey"): its
 * driver switch and UARTs. Devices and the call record belong to each
 * process.
 *
 * The key is on CTS. In the functions below, port 0 means the UART a host
 * drives: the one last written to, else COM1's (3F8h).
 *
 * The environment variable ZELBIN_KEY_SCRIPT scripts the key, no second
 * program needed: "tap@300 tap@700", "press@200,release@450" or
 * "bounce@300/40" (a press whose contacts bounce), times in milliseconds
 * from the process's first call into the stand-in, a tap lasting 100 ms.
 * The script works the key of the UART this process writes to; events due
 * before its first write wait for it.
 *
 * Control: back to a new PC (driver present, UARTs and devices COM1 to COM4
 * at their standard bases, nothing held, nothing recorded). */
SIM_API void WINAPI SimReset(void);
SIM_API void WINAPI SimSetDriverInstalled(BYTE present);
/* What GetPortBit answers for a set bit (default 1). */
SIM_API void WINAPI SimSetBitSetValue(WORD value);
/* What IsDriverInstalled answers while the driver is installed (default 1). */
SIM_API void WINAPI SimSetDriverValue(BYTE value);
/* Presses (down != 0) or releases the key on the CTS line of the UART whose
 * registers include `port`. Returns 0 when no UART decodes that port. */
SIM_API BYTE WINAPI SimSetKey(WORD port, BYTE down);
/* The base address of the UART a host drives (see above). */
SIM_API WORD WINAPI SimGetActivePort(void);
/* The modem control (DTR bit 0, RTS bit 1, OUT2 bit 3) and modem status
 * (CTS bit 4) registers of the UART at `port`, read without side effects;
 * 0xFFFF when no UART decodes that port. */
SIM_API WORD WINAPI SimGetModemControl(WORD port);
SIM_API WORD WINAPI SimGetModemStatus(WORD port);

/* Everything about one UART, read without side effects. Returns 0 (and
 * leaves `state` alone) when no UART decodes `port`. */
typedef struct SimUartState {
    WORD base;
    BYTE divisorLow, divisorHigh, interruptEnable, fifoControl, lineControl, modemControl, modemStatus, scratch;
} SimUartState;
SIM_API BYTE WINAPI SimGetUart(WORD port, SimUartState *state);
SIM_API BYTE WINAPI SimGetDriverInstalled(void);
/* 1 when the simulated PC was already running when this process first used
 * the stand-in: another program in the session uses it (a host, or a
 * watching control program). 0 when this process started it: the PC, and
 * any key pressed on it, ends when the last process using it exits. */
SIM_API BYTE WINAPI SimFoundRunning(void);

/* The simulated serial devices, for hosts whose device calls are routed
 * here instead of to the operating system. */
SIM_API void WINAPI SimSetDeviceExists(const char *name, BYTE exists);
SIM_API DWORD WINAPI SimHandlesHeld(void);
SIM_API HANDLE WINAPI SimCreateFileA(const char *name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                     DWORD disposition, DWORD flags, HANDLE templateFile);
SIM_API BOOL WINAPI SimCloseHandle(HANDLE handle);

/* The record of every call, one line each ("PortOut(0x03FB, 0x80)"),
 * separated by '\n'. Copies at most size - 1 characters and a NUL into
 * buffer; returns the size the whole record needs, NUL included. */
SIM_API DWORD WINAPI SimGetCallRecord(char *buffer, DWORD size);
SIM_API void WINAPI SimClearCallRecord(void);

#ifdef __cplusplus
}
#endif

#endif /* ZELBIN_STAND_IN_IO_H */
