/*
 * The comm-port io.dll: the port-I/O library that carries the key's lines
 * to a COM port Windows serves (a USB serial adapter, a PCIe card), through
 * the serial driver. Besides io.dll's operations (IoDll.h, PortIn included)
 * it exports its status text. Resolve it with GetProcAddress: only this
 * io.dll has it, so its presence also tells which io.dll is loaded.
 *
 *     CommIoStatusFn status = ZELBIN_PROC_CAST(CommIoStatusFn,
 *         GetProcAddress(GetModuleHandleA("io.dll"), "CommIoStatus"));
 *
 * (ZELBIN_PROC_CAST is in Zelbin_SerialLoader.h.)
 */
#ifndef ZELBIN_COMM_PORT_IO_H
#define ZELBIN_COMM_PORT_IO_H

#include "IoDll.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A short NUL-terminated text, owned by the DLL and valid until the next
 * call into it, saying which COM device it holds for which UART, or why it
 * holds none: "COM5 for any UART: held". */
IODLL_API const char *WINAPI CommIoStatus(void);
typedef const char *(WINAPI *CommIoStatusFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* ZELBIN_COMM_PORT_IO_H */
