/*
 * Loading Zelbin_Serial.dll at run time: resolves its five functions from a
 * module loaded with LoadLibrary, by name, for hosts that must start even
 * where the DLL (or the io.dll it imports) is missing.
 *
 *     HMODULE module = LoadLibraryA("Zelbin_Serial.dll");
 *     ZelbinFunctions zelbin;
 *     const char *missing = ZelbinLoadFunctions(module, &zelbin);
 *     if (!missing) zelbin.StartListen("COM2");
 *
 * Call zelbin.StopListen() before FreeLibrary: unloading does not release a
 * port that is still held.
 */
#ifndef ZELBIN_SERIAL_LOADER_H
#define ZELBIN_SERIAL_LOADER_H

#include <windows.h>

#include "Zelbin_Serial.h"

/* GetProcAddress's answer as a pointer to a function of type `type`. The
 * address passes through void (*)(void), the one function pointer type that
 * converts to any other without -Wcast-function-type warnings; a cast
 * through void * is not portable C and warns in C++. */
#ifdef __cplusplus
#define ZELBIN_PROC_CAST(type, proc) reinterpret_cast<type>(reinterpret_cast<void (*)(void)>(proc))
#else
#define ZELBIN_PROC_CAST(type, proc) ((type)(void (*)(void))(proc))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Fills `functions` from `module`, by name. Returns NULL when all five were
 * found, else the name of the first missing one (and leaves `functions`
 * zeroed). A null module reads as one without the exports. */
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

#ifdef __cplusplus
}

/* C++: an export of `module` as a function pointer of type Fn, or null. */
template <typename Fn> inline Fn ZelbinProc(HMODULE module, const char *name)
{
    return ZELBIN_PROC_CAST(Fn, GetProcAddress(module, name));
}
#endif

#endif /* ZELBIN_SERIAL_LOADER_H */
