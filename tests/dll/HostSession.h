/* A host's whole session with the key library, checked through the
 * stand-in io.dll that the library imports: it passes only if the start,
 * the press, the output line and the stop each do their work. For the C
 * hosts linked with an import library; needs neither a C runtime nor
 * <windows.h>. */
#ifndef ZELBIN_HOST_SESSION_H
#define ZELBIN_HOST_SESSION_H

#include "Zelbin_Serial.h"

typedef void (*HostAnyProc)(void);
__declspec(dllimport) void *__stdcall GetModuleHandleA(const char *name);
__declspec(dllimport) HostAnyProc __stdcall GetProcAddress(void *module, const char *name);

typedef void(__stdcall *HostSimResetFn)(void);
typedef unsigned char(__stdcall *HostSimSetKeyFn)(unsigned short port, unsigned char down);
typedef unsigned short(__stdcall *HostSimGetModemControlFn)(unsigned short port);

/* Listens with `params` on the UART at `base`. Returns 0 when every step
 * did its work, else the number of the first step that did not. */
static int RunHostSession(const char *params, unsigned short base)
{
    void *io = GetModuleHandleA("io.dll");
    HostSimResetFn reset = (HostSimResetFn)GetProcAddress(io, "SimReset");
    HostSimSetKeyFn setKey = (HostSimSetKeyFn)GetProcAddress(io, "SimSetKey");
    HostSimGetModemControlFn modemControl = (HostSimGetModemControlFn)GetProcAddress(io, "SimGetModemControl");
    if (!reset || !setKey || !modemControl)
        return 1;
    reset();
    if (ZelbinIsCustom() != 1)
        return 2;
    ZelbinStartListen(params);
    if (modemControl(base) != 0x0A) /* RTS and OUT2 on, DTR off */
        return 3;
    if (ZelbinIsZBToggle() != 0)
        return 4;
    setKey(base, 1);
    if (ZelbinIsZBToggle() != 1 || ZelbinIsZBToggle() != 0) /* the press, reported once */
        return 5;
    ZelbinSetToggled(1);
    if (modemControl(base) != 0x0B)
        return 6;
    ZelbinSetToggled(0);
    if (modemControl(base) != 0x0A)
        return 7;
    ZelbinStopListen();
    ZelbinSetToggled(1);
    if (modemControl(base) != 0x0A) /* idle again: DTR stays off */
        return 8;
    return 0;
}

#endif /* ZELBIN_HOST_SESSION_H */
