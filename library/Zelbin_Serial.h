/*
 * Zelbin_Serial.dll: a hardware key on a PC serial port.
 *
 * The key closes the port's CTS line; the library holds RTS on while it
 * listens and drives DTR as the host's output line. All five functions use
 * the stdcall convention; booleans are one byte (0 false, 1 true; on input
 * any non-zero byte is true). No function reports an error: each one that
 * needs the port quietly does nothing while the library is not listening or
 * the port-I/O driver is missing.
 *
 * The library keeps one process-wide port state and takes no lock: call it
 * from one thread at a time (normally the host's main or polling thread).
 */
#ifndef ZELBIN_SERIAL_H
#define ZELBIN_SERIAL_H

#if defined(_WIN64)
#error "Zelbin_Serial.dll is a 32-bit x86 DLL: build the host for 32-bit Windows (Win32, x86); a 64-bit process can't load it."
#elif defined(_WIN32)
#define ZELBIN_CALL __stdcall
#else
#define ZELBIN_CALL
#endif

#ifndef ZELBIN_API
#if defined(_WIN32)
#define ZELBIN_API __declspec(dllimport)
#else
#define ZELBIN_API
#endif
#endif

typedef unsigned char ZelbinBool;

#ifdef __cplusplus
extern "C" {
#endif

/* Starts listening on the port named by `params` (NULL reads as "").
 * "COM1".."COM4" alone pick the standard base address of that port; any other
 * single name, or none, picks COM1 at 3F8h. "NAME;ADDRh" opens device NAME
 * and drives the UART at hexadecimal base ADDR (one suffix character, which
 * is ignored). A base whose registers don't all lie in 0100h..FFFFh (below
 * 0100h are the motherboard's own ports) is refused: the library then stays
 * idle, as without the driver. A port that is already held is released
 * first, so calling it again moves to another port. Safe to call at any
 * time. Ordinal 5. */
ZELBIN_API void ZELBIN_CALL ZelbinStartListen(const char *params);

/* Releases the device. The UART keeps its last settings: RTS stays on and
 * DTR stays as last set, so call ZelbinSetToggled(0) before stopping where
 * the output device must end off. Safe to call at any time, also when not
 * listening. Ordinal 4. */
ZELBIN_API void ZELBIN_CALL ZelbinStopListen(void);

/* The polling call: 1 when it reads the key line closed (CTS set) and the
 * last poll that read the line saw it open, else 0. A press that starts and
 * ends between two polls is missed, so poll faster than the shortest press.
 * The last level read is kept across stop, start and a change of port: a
 * key still held at a new start, or pressed again while stopped after a
 * poll saw it held, is not reported. Returns 0 without touching the port
 * when not listening or without the driver. Cheap enough to call every few
 * milliseconds. Ordinal 3. */
ZELBIN_API ZelbinBool ZELBIN_CALL ZelbinIsZBToggle(void);

/* Sets DTR when `toggled` is non-zero, clears it when zero; the other modem
 * control lines are untouched. Does nothing when not listening or without
 * the driver. Every start clears DTR again. Ordinal 2. */
ZELBIN_API void ZELBIN_CALL ZelbinSetToggled(ZelbinBool toggled);

/* Always 1: this key library is a custom one. Safe at any time. Ordinal 1. */
ZELBIN_API ZelbinBool ZELBIN_CALL ZelbinIsCustom(void);

/* Pointer types for hosts that load the library with LoadLibrary. */
typedef void(ZELBIN_CALL *ZelbinStartListenFn)(const char *params);
typedef void(ZELBIN_CALL *ZelbinStopListenFn)(void);
typedef ZelbinBool(ZELBIN_CALL *ZelbinIsZBToggleFn)(void);
typedef void(ZELBIN_CALL *ZelbinSetToggledFn)(ZelbinBool toggled);
typedef ZelbinBool(ZELBIN_CALL *ZelbinIsCustomFn)(void);

/* The five functions of a loaded library. */
typedef struct ZelbinFunctions {
    ZelbinIsCustomFn IsCustom;
    ZelbinSetToggledFn SetToggled;
    ZelbinIsZBToggleFn IsZBToggle;
    ZelbinStopListenFn StopListen;
    ZelbinStartListenFn StartListen;
} ZelbinFunctions;

#if defined(_WIN32) && defined(_WINDOWS_)
/* With <windows.h> included first: fills `functions` from a module loaded
 * with LoadLibrary, by name. Returns NULL when all five were found, else the
 * name of the first missing one (and leaves `functions` zeroed). The
 * addresses pass through void (*)(void), the one function pointer type that
 * converts to any other without -Wcast-function-type warnings. */
#ifdef __cplusplus
#define ZELBIN_PROC_CAST(type, proc) reinterpret_cast<type>(reinterpret_cast<void (*)(void)>(proc))
#else
#define ZELBIN_PROC_CAST(type, proc) ((type)(void (*)(void))(proc))
#endif
static __inline const char *ZelbinLoadFunctions(HMODULE module, ZelbinFunctions *functions)
{
    static const char *const names[5] = {"ZelbinIsCustom", "ZelbinSetToggled", "ZelbinIsZBToggle",
                                         "ZelbinStopListen", "ZelbinStartListen"};
    FARPROC procs[5];
    int i;
    ZelbinFunctions none = {0, 0, 0, 0, 0};
    *functions = none;
    for (i = 0; i < 5; ++i) {
        procs[i] = module ? GetProcAddress(module, names[i]) : 0;
        if (!procs[i])
            return names[i];
    }
    functions->IsCustom = ZELBIN_PROC_CAST(ZelbinIsCustomFn, procs[0]);
    functions->SetToggled = ZELBIN_PROC_CAST(ZelbinSetToggledFn, procs[1]);
    functions->IsZBToggle = ZELBIN_PROC_CAST(ZelbinIsZBToggleFn, procs[2]);
    functions->StopListen = ZELBIN_PROC_CAST(ZelbinStopListenFn, procs[3]);
    functions->StartListen = ZELBIN_PROC_CAST(ZelbinStartListenFn, procs[4]);
    return 0;
}
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZELBIN_SERIAL_H */
