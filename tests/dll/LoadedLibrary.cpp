#include "LoadedLibrary.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

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
std::vector<HANDLE> spiedHandles; // kernel32's, in the order the spy first saw them

// The handles a device call of the key library can get: the simulator's,
// the failure value and null. Any other belongs to the compiler's runtime
// inside the DLL.
bool OwnedBySim(HANDLE handle)
{
    return handle == nullptr || handle == INVALID_HANDLE_VALUE || sim::IsSimHandle(handle);
}

bool SeenBySpy(HANDLE handle)
{
    return std::find(spiedHandles.begin(), spiedHandles.end(), handle) != spiedHandles.end();
}

// A kernel32 handle as the record shows it: numbered in the order the spy
// first saw it (h1, h2, ...), as the simulator numbers its own.
sim::Handle Numbered(HANDLE handle)
{
    if (OwnedBySim(handle))
        return handle;
    if (!SeenBySpy(handle))
        spiedHandles.push_back(handle);
    const auto number = static_cast<std::uintptr_t>(std::find(spiedHandles.begin(), spiedHandles.end(), handle) -
                                                    spiedHandles.begin()) + 1;
    return reinterpret_cast<sim::Handle>(sim::kHandleBase + sim::kHandleStep * number);
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
    sim::Call call = sim::CreateFileCall(name, access, share, security, disposition, flags, templateFile);
    const HANDLE handle = CreateFileA(name, access, share, security, disposition, flags, templateFile);
    call.handle = Numbered(handle);
    spied.push_back({sim::Describe(call), handle});
    return handle;
}

BOOL WINAPI SpyCloseHandle(HANDLE handle)
{
    if (!OwnedBySim(handle) && !SeenBySpy(handle))
        return CloseHandle(handle); // the runtime's own
    sim::Call call{sim::Call::Op::CloseHandle};
    call.handle = Numbered(handle);
    const BOOL result = CloseHandle(handle);
    call.result = result ? 1 : 0;
    spied.push_back({sim::Describe(call), handle});
    return result;
}

// The import address slot through which `module` calls `function` of
// `dll`, imported by name; null when there is none.
DWORD *ImportSlot(HMODULE module, const char *dll, const char *function)
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
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), function) == 0)
                return &slots->u1.Function;
        }
    }
    return nullptr;
}

// The export address slot (an address relative to `module`) of `function`,
// exported by name; null when there is none.
DWORD *ExportSlot(HMODULE module, const char *function)
{
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(module);
    auto *nt = At<IMAGE_NT_HEADERS32>(module, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto *exports = At<IMAGE_EXPORT_DIRECTORY>(module, dir.VirtualAddress);
    auto *names = At<DWORD>(module, exports->AddressOfNames);
    auto *ordinals = At<WORD>(module, exports->AddressOfNameOrdinals);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        if (std::strcmp(At<char>(module, names[i]), function) == 0)
            return At<DWORD>(module, exports->AddressOfFunctions) + ordinals[i];
    return nullptr;
}

void WriteSlot(DWORD *slot, DWORD value)
{
    DWORD old = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

DWORD AddressOf(FARPROC proc) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(proc)); }

// While it lives, kernel32 exports `function` as `replacement`: a module
// the loader binds meanwhile imports the replacement from the start, so
// calls its loader callback makes are routed too.
class ExportRedirect {
public:
    ExportRedirect(const char *function, FARPROC replacement)
        : kernel32_(GetModuleHandleA("KERNEL32.dll")), slot_(ExportSlot(kernel32_, function))
    {
        if (!slot_)
            return;
        old_ = *slot_;
        WriteSlot(slot_, AddressOf(replacement) - AddressOf(reinterpret_cast<FARPROC>(kernel32_)));
    }
    ~ExportRedirect()
    {
        if (slot_)
            WriteSlot(slot_, old_);
    }
    ExportRedirect(const ExportRedirect &) = delete;
    ExportRedirect &operator=(const ExportRedirect &) = delete;

private:
    HMODULE kernel32_;
    DWORD *slot_;
    DWORD old_ = 0;
};

template <typename Fn> FARPROC Proc(Fn fn) { return ZELBIN_PROC_CAST(FARPROC, fn); }

} // namespace

// Points one import of `module` at `replacement`; false when `module` does
// not import `function` from `dll` by name.
bool RedirectImport(HMODULE module, const char *dll, const char *function, FARPROC replacement)
{
    DWORD *slot = ImportSlot(module, dll, function);
    if (slot)
        WriteSlot(slot, AddressOf(replacement));
    return slot != nullptr;
}

const std::vector<SpiedCall> &SpiedDeviceCalls() { return spied; }

HMODULE StandInIo()
{
    static HMODULE io = LoadLibraryA("io.dll");
    return io;
}

FARPROC StandInIoExport(const char *name) { return GetProcAddress(StandInIo(), name); }

HMODULE LoadRouted(const char *dll, Devices devices)
{
    StandInIo(); // the key library must bind to the copy the tests control, loaded before the redirects
    const bool simulated = devices == Devices::Simulated;
    const FARPROC create = simulated ? Proc(SimulatedCreateFileA) : Proc(SpyCreateFileA);
    const FARPROC close = simulated ? Proc(SimulatedCloseHandle) : Proc(SpyCloseHandle);
    spied.clear();
    spiedHandles.clear();
    HMODULE module = nullptr;
    {
        const ExportRedirect createFile("CreateFileA", create);
        const ExportRedirect closeHandle("CloseHandle", close);
        module = LoadLibraryA(dll);
    }
    if (!module)
        return nullptr;
    // Bound before the redirects ended, the imports point at them already;
    // set again for a loader that bound them another way.
    for (const auto &[function, replacement] : {std::pair{"CreateFileA", create}, std::pair{"CloseHandle", close}})
        EXPECT_TRUE(RedirectImport(module, "KERNEL32.dll", function, replacement)) << dll << ": " << function;
    return module;
}

HMODULE LoadKeyLibrary(Devices devices, Exports &exports)
{
    HMODULE module = LoadRouted("Zelbin_Serial.dll", devices);
    if (!module) {
        ADD_FAILURE() << "LoadLibrary(Zelbin_Serial.dll) failed: " << GetLastError();
        return nullptr;
    }
    if (const char *missing = ZelbinLoadFunctions(module, &exports))
        ADD_FAILURE() << "Zelbin_Serial.dll has no export " << missing;
    return module;
}
