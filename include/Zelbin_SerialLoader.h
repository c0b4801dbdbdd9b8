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
 * Where LoadLibrary fails, ZelbinDescribeLoadFailure says why, naming the
 * file at fault: Zelbin_Serial.dll not there, the io.dll it imports not
 * there, or either of them of the other architecture. A process loads DLLs
 * of its own architecture only: a 64-bit host needs the x64 edition of
 * Zelbin_Serial.dll and of its io.dll, a 32-bit host the x86 one; Windows
 * says only error 193 (ERROR_BAD_EXE_FORMAT) or 126 (ERROR_MOD_NOT_FOUND)
 * for any of these. A DLL loaded from another folder than the host's is
 * loaded with LOAD_WITH_ALTERED_SEARCH_PATH, so that Windows looks for its
 * io.dll beside it:
 *
 *     HMODULE module = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
 *     char why[1200];
 *     if (!module)
 *         MessageBoxA(NULL, ZelbinDescribeLoadFailure(path, GetLastError(), why, sizeof why),
 *                     "Zelbin_Serial.dll", MB_ICONERROR);
 *
 * ZelbinDescribeWrongEdition answers the architecture half alone.
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

/* Writes into `out` (MAX_PATH + 8 bytes) the folder of `path`, with its
 * separator, or of this process's program where `path` is NULL, followed by
 * `name`. */
static __inline void ZelbinInFolderOf(const char *path, const char *name, char *out)
{
    char program[MAX_PATH];
    const char *back, *slash;
    DWORD length;
    if (!path) {
        length = GetModuleFileNameA(0, program, MAX_PATH);
        program[length < MAX_PATH ? length : 0] = '\0';
        path = program;
    }
    back = strrchr(path, '\\');
    slash = strrchr(path, '/');
    if (back && (!slash || back > slash))
        slash = back;
    _snprintf(out, MAX_PATH + 8, "%.*s%s", slash ? ZELBIN_CAST(int, slash - path + 1) : 0, path, name);
    out[MAX_PATH + 7] = '\0';
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
    const char *arch = ZelbinImageArchitecture(path);
    int i;
    if (size == 0)
        return 0;
    if (arch && strcmp(arch, mine) != 0) {
        _snprintf(why, size, "%s is an %s DLL, and this %s process loads %s DLLs only: take the %s edition's file.",
                  path, arch, bits, mine, mine);
        why[size - 1] = '\0';
        return 1;
    }
    /* io.dll beside the DLL, then beside this process's program. */
    ZelbinInFolderOf(path, "io.dll", io[0]);
    ZelbinInFolderOf(0, "io.dll", io[1]);
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

/* Why LoadLibrary failed for the DLL at `path`, with Windows' `error`
 * (GetLastError right after it): writes into `why` (`size` bytes at most,
 * NUL ended) the file at fault and what is wrong with it, and returns `why`.
 * In this order: the DLL not there (a name without a folder is looked for
 * beside the host's program, where LoadLibrary looks first); the DLL, or the
 * io.dll Windows binds it to, of the other architecture (as
 * ZelbinDescribeWrongEdition says); for error 126, no io.dll beside the DLL
 * or the program; else Windows' own text for the error. */
static __inline const char *ZelbinDescribeLoadFailure(const char *path, DWORD error, char *why, size_t size)
{
    const char *mine = sizeof(void *) == 8 ? "x64" : "x86";
    char full[MAX_PATH + 8], io[MAX_PATH + 8], beside_program[MAX_PATH + 8], text[512];
    DWORD attributes, length;
    if (size == 0)
        return why;
    if (strchr(path, '\\') || strchr(path, '/') || strchr(path, ':')) {
        _snprintf(full, sizeof full, "%s", path);
        full[sizeof full - 1] = '\0';
    } else {
        ZelbinInFolderOf(0, path, full);
    }
    attributes = GetFileAttributesA(full);
    ZelbinInFolderOf(full, "io.dll", io);
    ZelbinInFolderOf(0, "io.dll", beside_program);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        _snprintf(why, size,
                  "%s is not there: this %s process needs the %s edition's Zelbin_Serial.dll there, with its io.dll "
                  "beside it.",
                  full, mine, mine);
    } else if (ZelbinDescribeWrongEdition(full, why, size)) {
        /* said */
    } else if (error == ERROR_MOD_NOT_FOUND && GetFileAttributesA(io) == INVALID_FILE_ATTRIBUTES &&
               GetFileAttributesA(beside_program) == INVALID_FILE_ATTRIBUTES) {
        _snprintf(why, size,
                  "%s can't load: it needs io.dll beside it, %s, with that io.dll's io-ports.txt, and Windows found "
                  "none.",
                  full, io);
    } else {
        length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, 0, error, 0, text,
                                sizeof text, 0);
        while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
            --length;
        text[length < sizeof text ? length : 0] = '\0';
        _snprintf(why, size, "%s can't load: %s (error %lu)", full, length ? text : "Windows' error",
                  ZELBIN_CAST(unsigned long, error));
    }
    why[size - 1] = '\0';
    return why;
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
