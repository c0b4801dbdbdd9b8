#include "LoadedLibrary.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include <gtest/gtest.h>

#include "ImportSlots.h"
#include "sim/World.h"

namespace {

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

template <typename Fn> FARPROC Proc(Fn fn) { return ZELBIN_PROC_CAST(FARPROC, fn); }

} // namespace

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
        const HMODULE kernel32 = GetModuleHandleA("KERNEL32.dll");
        const ExportRedirect createFile(kernel32, "CreateFileA", create);
        const ExportRedirect closeHandle(kernel32, "CloseHandle", close);
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
