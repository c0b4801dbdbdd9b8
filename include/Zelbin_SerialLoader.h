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
 * A process loads DLLs of its own architecture only: a 64-bit host needs the
 * x64 edition of Zelbin_Serial.dll and of its io.dll, a 32-bit host the x86
 * one. Where LoadLibrary fails with error 193 (ERROR_BAD_EXE_FORMAT), or
 * with 126 (ERROR_MOD_NOT_FOUND: a system may pass an io.dll of the wrong
 * kind over and find none), ZelbinDescribeWrongEdition says which file is
 * of the other architecture:
 *
 *     char why[600];
 *     if (!module && ZelbinDescribeWrongEdition("Zelbin_Serial.dll", why, sizeof why))
 *         MessageBoxA(NULL, why, "Zelbin_Serial.dll", MB_ICONERROR);
 *
 * Call zelbin.StopListen() before FreeLibrary: unloading does not release a
 * port that is still held.
 */
#ifndef ZELBIN_SERIAL_LOADER_H
#define ZELBIN_SERIAL_LOADER_H

#include <stdio.h>
#include <string.h>
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

/* A value converted to `type` without a warning in either language. */
#ifdef __cplusplus
#define ZELBIN_CAST(type, value) static_cast<type>(value)
#else
#define ZELBIN_CAST(type, value) ((type)(value))
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

/* "x86" or "x64": the architecture of the Windows image at `path`, from the
 * machine field of its PE header; NULL for a file that is none of these or
 * can't be read. */
static __inline const char *ZelbinImageArchitecture(const char *path)
{
    unsigned char header[64], pe[6];
    DWORD got = 0, offset;
    const char *found = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (ReadFile(file, header, sizeof header, &got, 0) && got == sizeof header && header[0] == 'M' &&
        header[1] == 'Z') {
        offset = ZELBIN_CAST(DWORD, header[60]) | ZELBIN_CAST(DWORD, header[61]) << 8 |
                 ZELBIN_CAST(DWORD, header[62]) << 16 | ZELBIN_CAST(DWORD, header[63]) << 24;
        if (offset < 0x10000000 && SetFilePointer(file, ZELBIN_CAST(LONG, offset), 0, FILE_BEGIN) == offset &&
            ReadFile(file, pe, sizeof pe, &got, 0) && got == sizeof pe && memcmp(pe, "PE\0\0", 4) == 0)
            found = pe[4] == 0x4C && pe[5] == 0x01 ? "x86" : pe[4] == 0x64 && pe[5] == 0x86 ? "x64" : 0;
    }
    CloseHandle(file);
    return found;
}

/* Whether the DLL at `path`, or the io.dll Windows would bind it to (beside
 * it, else beside the host's program), is of the other architecture than
 * this process: then writes into `why` (`size` bytes at most, NUL ended) the
 * file and both architectures, and returns 1; else returns 0. */
static __inline int ZelbinDescribeWrongEdition(const char *path, char *why, size_t size)
{
    const char *mine = sizeof(void *) == 8 ? "x64" : "x86";
    const char *bits = sizeof(void *) == 8 ? "64-bit" : "32-bit";
    char io[2][MAX_PATH + 8];
    const char *arch = ZelbinImageArchitecture(path), *back = strrchr(path, '\\'), *slash = strrchr(path, '/');
    char *name;
    DWORD length;
    int i;
    if (arch && strcmp(arch, mine) != 0) {
        _snprintf(why, size, "%s is an %s DLL, and this %s process loads %s DLLs only: take the %s edition's file.",
                  path, arch, bits, mine, mine);
        why[size - 1] = '\0';
        return 1;
    }
    /* io.dll beside the DLL, then beside this process's program. */
    if (back && (!slash || back > slash))
        slash = back;
    _snprintf(io[0], sizeof io[0], "%.*sio.dll", slash ? ZELBIN_CAST(int, slash - path + 1) : 0, path);
    io[0][sizeof io[0] - 1] = '\0';
    length = GetModuleFileNameA(0, io[1], MAX_PATH);
    io[1][length < MAX_PATH ? length : 0] = '\0';
    name = strrchr(io[1], '\\');
    strcpy(name ? name + 1 : io[1], "io.dll");
    for (i = 0; i < 2; ++i) {
        arch = ZelbinImageArchitecture(io[i]);
        if (arch && strcmp(arch, mine) != 0) {
            _snprintf(why, size,
                      "%s can't load: the io.dll it imports, %s, is an %s DLL, and this %s process loads %s DLLs "
                      "only: the key library and its io.dll must both be of the %s edition.",
                      path, io[i], arch, bits, mine, mine);
            why[size - 1] = '\0';
            return 1;
        }
        if (arch)
            break; /* the io.dll Windows binds is of this process's kind */
    }
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
