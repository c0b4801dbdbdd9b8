/*
 * The comm-port io.dll: the port-I/O library that carries the key's lines
 * to a COM port Windows serves (a USB serial adapter, a PCIe card), through
 * the serial driver. Besides io.dll's operations (IoDll.h, PortIn included)
 * it exports what it holds, twice: as a text for people (CommIoStatus) and
 * as data for programs, one record for each UART its port map maps
 * (CommIoUartStatus). Resolve both with GetProcAddress: only this io.dll has
 * them, so their presence also tells which io.dll is loaded (an older
 * comm-port io.dll has the text alone).
 *
 *     CommIoStatusFn status = ZELBIN_PROC_CAST(CommIoStatusFn,
 *         GetProcAddress(GetModuleHandleA("io.dll"), "CommIoStatus"));
 *     CommIoUartStatusFn uarts = ZELBIN_PROC_CAST(CommIoUartStatusFn,
 *         GetProcAddress(GetModuleHandleA("io.dll"), "CommIoUartStatus"));
 *     CommIoUart uart;
 *     uint32_t i, count;
 *     memset(&uart, 0, sizeof uart);
 *     uart.size = sizeof uart;
 *     count = uarts ? uarts(0, &uart) : 0;
 *     for (i = 0; i < count; ++i) { uart.size = sizeof uart; uarts(i, &uart); ... }
 *
 * (ZELBIN_PROC_CAST is in Zelbin_SerialLoader.h.) The record's types need
 * only <stdint.h>; the exports, on Windows, io.dll's own header.
 */
#ifndef ZELBIN_COMM_PORT_IO_H
#define ZELBIN_COMM_PORT_IO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* CommIoUart.link: whether the UART's device is held. */
#define COMMIO_LINK_NOT_YET_OPENED 0 /* the map is read; the device opens at the first IsDriverInstalled */
#define COMMIO_LINK_HELD 1           /* open: the key's lines reach the library */
#define COMMIO_LINK_NOT_HELD 2       /* closed: failedCall and error say why; tried again about twice a second */

/* The serial driver's calls, as failedCall and eventsCall name them. */
#define COMMIO_CALL_NONE 0
#define COMMIO_CALL_CREATE_FILE 1
#define COMMIO_CALL_GET_COMM_STATE 2
#define COMMIO_CALL_SET_COMM_STATE 3
#define COMMIO_CALL_GET_COMM_MODEM_STATUS 4
#define COMMIO_CALL_ESCAPE_COMM_FUNCTION 5
#define COMMIO_CALL_SET_COMM_MASK 6
#define COMMIO_CALL_WAIT_COMM_EVENT 7

/* CommIoUart.events: how the driver tells the io.dll of a change of the
 * key's line, while the device is held. */
#define COMMIO_EVENTS_OFF 0         /* the device is not held */
#define COMMIO_EVENTS_WATCHED 1     /* the driver signals each change: a quiet poll makes no call */
#define COMMIO_EVENTS_REFUSED 2     /* it refused (eventsCall, eventsError): the lines are read at every poll */
#define COMMIO_EVENTS_UNSUPPORTED 3 /* it has no such signals (ERROR_NOT_SUPPORTED): read at every poll */

/* CommIoUart.adapter: where a UART named by a USB adapter's identity found
 * that adapter at the last open. */
#define COMMIO_ADAPTER_NOT_NAMED 0  /* the map names a COM device, no adapter */
#define COMMIO_ADAPTER_FOUND 1      /* on the COM port in `port` */
#define COMMIO_ADAPTER_NOT_LISTED 2 /* ports are listed, none carries it */
#define COMMIO_ADAPTER_SEVERAL 3    /* adapterMatches ports carry it: the map must give its serial number */
#define COMMIO_ADAPTER_NO_PORTS 4   /* Windows lists no ports at all */
#define COMMIO_ADAPTER_NO_LIST 5    /* Windows can't list its ports (adapterError) */
#define COMMIO_ADAPTER_NOT_YET 6    /* named, not looked for yet: before the first open */

/* One mapped UART, as the io.dll holds it now. Every field has a fixed
 * width, the same in both editions. The caller sets `size` to the size of
 * the record it knows (sizeof(CommIoUart)); the io.dll fills that many
 * bytes at most (fields it doesn't know are left as they were) and sets
 * `size` to the bytes it filled, so the record can grow at its end. */
typedef struct CommIoUart {
    uint32_t size;
    uint16_t base;           /* the UART's base address; 0 for the map's `any` line */
    uint8_t any;             /* 1: carries every UART no explicit line claims */
    uint8_t link;            /* COMMIO_LINK_* */
    uint32_t failedCall;     /* COMMIO_CALL_*: why the device is not held; with it held, the call that
                                refused the library's line format */
    uint32_t error;          /* that call's Windows error code; 0 for none */
    uint32_t events;         /* COMMIO_EVENTS_* */
    uint32_t eventsCall;     /* COMMIO_CALL_* that refused the events */
    uint32_t eventsError;    /* its Windows error code */
    uint32_t edgesRecovered; /* presses and releases shown that fell between two polls, since the first open */
    uint32_t refreshFinds;   /* key changes a periodic read found before the driver told */
    uint32_t baud;           /* the rate the host asked for; refused where failedCall says so */
    uint8_t keyLine;         /* the device's line read as the UART's CTS, by its modem status bit:
                                0x10 CTS, 0x20 DSR, 0x40 RI, 0x80 DCD */
    uint8_t invert;          /* 1: the key line reads inverted */
    uint8_t debounceMs;      /* 0 to 250 */
    uint8_t adapter;         /* COMMIO_ADAPTER_* */
    uint16_t usbVendor;      /* the adapter's identity, with adapter other than NOT_NAMED */
    uint16_t usbProduct;
    uint32_t adapterError;   /* with COMMIO_ADAPTER_NO_LIST */
    uint8_t adapterMatches;  /* with COMMIO_ADAPTER_SEVERAL */
    uint8_t usedBeside;      /* 1: the COM name beside the identity is what was opened */
    uint8_t besideOther;     /* 1: that COM name is listed as another device */
    uint8_t reserved;
    char usbSerial[36];      /* its serial number, NUL ended; empty: any adapter with these IDs */
    char port[16];           /* the COM port the adapter was found on ("COM7"), NUL ended */
    char device[200];        /* the device as the map names it ("COM5", "\\.\COM12"), NUL ended;
                                empty for an adapter named alone */
} CommIoUart;

#ifdef __cplusplus
}
#endif

#ifdef _WIN32
#include "IoDll.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A short NUL-terminated text, owned by the DLL and valid until the next
 * call into it, saying which COM device it holds for which UART, or why it
 * holds none: "COM5 for any UART: held". For people: its words may change
 * from one version to the next; CommIoUartStatus gives the same as data. */
IODLL_API const char *WINAPI CommIoStatus(void);
typedef const char *(WINAPI *CommIoStatusFn)(void);

/* The number of UARTs the port map maps (0 without a map: then
 * CommIoStatus says why), and record `index` of them, in the order the
 * status text names them, into `*uart` where `index` is below that number
 * and `uart` is not NULL (see CommIoUart for `size`; a size of 0 fills
 * nothing). */
IODLL_API uint32_t WINAPI CommIoUartStatus(uint32_t index, CommIoUart *uart);
typedef uint32_t(WINAPI *CommIoUartStatusFn)(uint32_t index, CommIoUart *uart);

#ifdef __cplusplus
}
#endif
#endif /* _WIN32 */

#endif /* ZELBIN_COMM_PORT_IO_H */
