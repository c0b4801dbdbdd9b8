#include "LoadedLibrary.h"

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "sim/World.h"

namespace {

template <typename T> T *At(HMODULE module, DWORD rva)
{
    return reinterpret_cast<T *>(reinterpret_cast<BYTE *>(module) + rva);
}

using CreateFileAFn = HANDLE(WINAPI *)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using CloseHandleFn = BOOL(WINAPI *)(HANDLE);

std::vector<SpiedCall> spied;

bool OwnedBySim(HANDLE handle) { return handle == INVALID_HANDLE_VALUE || sim::IsSimHandle(handle); }

bool SeenBySpy(HANDLE handle)
{
    for (const SpiedCall &call : spied)
        if (call.handle == handle)
            return true;
    return false;
}

HANDLE WINAPI SimulatedCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD disposition, DWORD flags, HANDLE templateFile)
{
    return StandInIoFunction<CreateFileAFn>("SimCreateFileA")(name, access, share, security, disposition, flags,
                                                              templateFile);
}

BOOL WINAPI SimulatedCloseHandle(HANDLE handle)
{
    if (OwnedBySim(handle))
        return StandInIoFunction<CloseHandleFn>("SimCloseHandle")(handle);
    return CloseHandle(handle);
}

HANDLE WINAPI SpyCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                             DWORD flags, HANDLE templateFile)
{
    const HANDLE handle = CreateFileA(name, access, share, security, disposition, flags, templateFile);
    char args[96];
    std::snprintf(args, sizeof args, "0x%08lX, %lu, %s, %lu, %lu, %s", access, share, security ? "security" : "NULL",
                  disposition, flags, templateFile ? "template" : "NULL");
    spied.push_back({"CreateFileA(\"" + std::string(name ? name : "(null)") + "\", " + args + ") -> " +
                         (handle == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : "handle"),
                     handle});
    return handle;
}

BOOL WINAPI SpyCloseHandle(HANDLE handle)
{
    if (handle != INVALID_HANDLE_VALUE && !SeenBySpy(handle))
        return CloseHandle(handle); // the runtime's own
    const BOOL result = CloseHandle(handle);
    spied.push_back({"CloseHandle(" + std::string(handle == INVALID_HANDLE_VALUE ? "INVALID_HANDLE_VALUE" : "handle") +
                         ") -> " + std::to_string(result ? 1 : 0),
                     handle});
    return result;
}

} // namespace

const std::vector<SpiedCall> &SpiedDeviceCalls() { return spied; }

HMODULE StandInIo()
{
    static HMODULE io = LoadLibraryA("io.dll");
    return io;
}

FARPROC StandInIoExport(const char *name) { return GetProcAddress(StandInIo(), name); }

bool RedirectImport(HMODULE module, const char *dll, const char *function, FARPROC replacement)
{
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(module);
    auto *nt = At<IMAGE_NT_HEADERS32>(module, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *desc = At<IMAGE_IMPORT_DESCRIPTOR>(module, dir.VirtualAddress); desc->Name; ++desc) {
        if (_stricmp(At<char>(module, desc->Name), dll) != 0)
            continue;
        auto *names = At<IMAGE_THUNK_DATA32>(module, desc->OriginalFirstThunk);
        auto *slots = At<IMAGE_THUNK_DATA32>(module, desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal))
                continue;
            auto *byName = At<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), function) != 0)
                continue;
            DWORD old = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
            slots->u1.Function = reinterpret_cast<DWORD>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return true;
        }
    }
    return false;
}

HMODULE LoadKeyLibrary(Devices devices, Exports &exports)
{
    StandInIo(); // the key library must bind to the copy the tests control
    HMODULE module = LoadLibraryA("Zelbin_Serial.dll");
    if (!module) {
        ADD_FAILURE() << "LoadLibrary(Zelbin_Serial.dll) failed: " << GetLastError();
        return nullptr;
    }
    if (const char *missing = ZelbinLoadFunctions(module, &exports))
        ADD_FAILURE() << "Zelbin_Serial.dll has no export " << missing;
    const bool simulated = devices == Devices::Simulated;
    spied.clear();
    auto create = simulated ? SimulatedCreateFileA : SpyCreateFileA;
    auto close = simulated ? SimulatedCloseHandle : SpyCloseHandle;
    EXPECT_TRUE(RedirectImport(module, "KERNEL32.dll", "CreateFileA",
                               reinterpret_cast<FARPROC>(reinterpret_cast<void *>(create))));
    EXPECT_TRUE(RedirectImport(module, "KERNEL32.dll", "CloseHandle",
                               reinterpret_cast<FARPROC>(reinterpret_cast<void *>(close))));
    return module;
}
