// A host that loads the key library, starts listening, polls, stops and
// frees it, again and again, and says what the process holds as it goes:
// for the checks that such a host keeps its handles, memory, thread-local
// slots and threads flat, and that the comm-port io.dll brings no module
// into it that its port map doesn't need.
//
// A cycle: LoadLibraryEx of LIBRARY with its own folder searched first (so
// that the io.dll beside it is the one it imports), its five functions,
// StartListen(PARAMETER), three polls with DTR set and cleared between
// them, StopListen and FreeLibrary; after it, neither the library nor an
// io.dll may still be loaded, or what stays would hide what leaks.
//
// Output, a line each:
//   listening                  (after the first start)
//   modules NAME...            (the process's modules, lower-cased, after the first start)
//   status TEXT                (the comm-port io.dll's CommIoStatus then, where it has one)
//   cycle N handles H private_kb P heap_bytes B tls T threads R modules M
// the last after cycles 1, CYCLES/2 and CYCLES: the process's open handles;
// its committed memory outside images (VirtualQuery), in KiB, and the bytes
// its heaps hold in use (HeapWalk); the index a new thread-local slot gets
// (the lowest free one: a slot kept by a freed DLL raises it); its threads
// and its modules (Toolhelp).
//
// Usage: load_cycles_host LIBRARY PARAMETER CYCLES
// Exit status: 0 done, 2 bad command line, 3 a load or an unload failed.
#include <windows.h>

#include <tlhelp32.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "CommPortIo.h"
#include "Zelbin_SerialLoader.h"

namespace {

struct Holdings {
    DWORD handles = 0;
    SIZE_T privateKb = 0, heapBytes = 0;
    DWORD tls = 0;
    unsigned threads = 0, modules = 0;
};

// GetProcessHandleCount, where it answers; Wine's answers 0, and there each
// handle value is asked about instead (GetHandleInformation succeeds for an
// open handle alone). Wine gives out the lowest free value, so the open
// handles lie below the first long run of values that aren't.
DWORD OpenHandles()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return count;
    DWORD flags = 0;
    for (std::uintptr_t value = 4, unused = 0; unused < 4096; value += 4) {
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            unused = 0;
        } else {
            ++unused;
        }
    }
    return count;
}

// Committed memory that isn't an image's, in KiB.
SIZE_T CommittedKb()
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    SIZE_T committed = 0;
    MEMORY_BASIC_INFORMATION region;
    auto *at = static_cast<char *>(system.lpMinimumApplicationAddress);
    while (at < static_cast<char *>(system.lpMaximumApplicationAddress) &&
           VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type != MEM_IMAGE)
            committed += region.RegionSize;
        at = static_cast<char *>(region.BaseAddress) + region.RegionSize;
    }
    return committed / 1024;
}

// The bytes every heap of the process holds in use.
SIZE_T HeapBytes()
{
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    SIZE_T busy = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return busy;
}

// The process's modules, lower-cased, space-separated; and their count.
std::string Modules(unsigned &count)
{
    std::string names;
    count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE)
        return names;
    MODULEENTRY32 module{};
    module.dwSize = sizeof module;
    for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module)) {
        ++count;
        std::string name = module.szModule;
        for (char &c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        names += (names.empty() ? "" : " ") + name;
    }
    CloseHandle(snapshot);
    return names;
}

unsigned Threads()
{
    unsigned count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    THREADENTRY32 thread{};
    thread.dwSize = sizeof thread;
    for (BOOL more = Thread32First(snapshot, &thread); more; more = Thread32Next(snapshot, &thread))
        count += thread.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

Holdings Take()
{
    Holdings now;
    now.threads = Threads();
    Modules(now.modules);
    now.handles = OpenHandles();
    now.privateKb = CommittedKb();
    now.heapBytes = HeapBytes();
    now.tls = TlsAlloc();
    TlsFree(now.tls);
    return now;
}

// The heap bytes the serial driver itself keeps for `waits` waits, each
// cancelled as its handle closes (Wine's does; Windows' keeps none), made
// on the port before the library is first loaded, so that the cycles are
// judged on what the DLLs hold. False where no wait could be made (a
// driver without comm events: it keeps nothing, and the io.dll makes none).
bool DriverBytesForWaits(const std::string &port, unsigned waits, SIZE_T &bytes)
{
    const SIZE_T before = HeapBytes();
    for (unsigned i = 0; i < waits; ++i) {
        const HANDLE device = CreateFileA(("\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (device == INVALID_HANDLE_VALUE)
            return false;
        OVERLAPPED overlapped{};
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DWORD mask = 0;
        const bool pending = overlapped.hEvent && SetCommMask(device, EV_CTS) &&
                             !WaitCommEvent(device, &mask, &overlapped) && GetLastError() == ERROR_IO_PENDING;
        if (pending)
            CancelIoEx(device, &overlapped);
        CloseHandle(device);
        const bool ended = pending && WaitForSingleObject(overlapped.hEvent, 1000) == WAIT_OBJECT_0;
        if (overlapped.hEvent)
            CloseHandle(overlapped.hEvent);
        if (!ended)
            return false;
    }
    const SIZE_T after = HeapBytes();
    bytes = after > before ? after - before : 0;
    return true;
}

int Fail(const char *what, const char *detail, unsigned long cycle)
{
    std::fprintf(stderr, "load_cycles_host: cycle %lu: %s %s (error %lu)\n", cycle, what, detail, GetLastError());
    return 3;
}

} // namespace

int main(int argc, char **argv)
{
    char *end = nullptr;
    const unsigned long cycles = argc == 4 ? std::strtoul(argv[3], &end, 10) : 0;
    if (argc != 4 || *end != '\0' || cycles < 1 || cycles > 1000000) {
        std::fprintf(stderr, "Usage: load_cycles_host LIBRARY PARAMETER CYCLES(1-1000000)\n");
        return 2;
    }
    // A path with the altered search order takes backslashes alone.
    std::string path = argv[1];
    for (char &c : path)
        c = c == '/' ? '\\' : c;
    const char *library = path.c_str();
    const std::string folder = path.substr(0, path.find_last_of('\\') + 1);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // The driver's first waits set up what it keeps for good; then twice
    // as many waits, which must agree, for the script to scale exactly.
    const std::string port = std::string(argv[2]).substr(0, std::string(argv[2]).find(';'));
    constexpr unsigned Waits = 200;
    SIZE_T first = 0, once = 0, twice = 0;
    if (!DriverBytesForWaits(port, 20, first))
        std::printf("driver waits 0 heap 0 heap_again 0\n"); // none made, none kept
    else if (!DriverBytesForWaits(port, Waits, once) || !DriverBytesForWaits(port, Waits, twice))
        return Fail("a cancelled wait failed on", port.c_str(), 0);
    else
        std::printf("driver waits %u heap %lu heap_again %lu\n", Waits, static_cast<unsigned long>(once),
                    static_cast<unsigned long>(twice));
    for (unsigned long cycle = 1; cycle <= cycles; ++cycle) {
        HMODULE module = LoadLibraryExA(library, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        ZelbinFunctions zelbin{};
        if (!module || ZelbinLoadFunctions(module, &zelbin) != nullptr)
            return Fail("can't load", library, cycle);
        if (cycle == 1) {
            // The io.dll must be the one beside the library, not another
            // the search found first.
            char io[MAX_PATH] = "";
            const HMODULE ioModule = GetModuleHandleA("io.dll");
            if (!ioModule || !GetModuleFileNameA(ioModule, io, MAX_PATH) ||
                lstrcmpiA((folder + "io.dll").c_str(), io) != 0)
                return Fail("the io.dll loaded is not the one beside it:", io, cycle);
        }
        zelbin.StartListen(argv[2]);
        if (cycle == 1) {
            unsigned count = 0;
            const std::string names = Modules(count);
            std::printf("listening\nmodules %s\n", names.c_str());
            const HMODULE io = GetModuleHandleA("io.dll");
            if (const auto status = io ? ZELBIN_PROC_CAST(CommIoStatusFn, GetProcAddress(io, "CommIoStatus")) : nullptr)
                std::printf("status %s\n", status());
        }
        // Every cycle must hold the device, or the cycles test an io.dll
        // that opens nothing after the first.
        const HMODULE io = GetModuleHandleA("io.dll");
        const auto uarts = io ? ZELBIN_PROC_CAST(CommIoUartStatusFn, GetProcAddress(io, "CommIoUartStatus")) : nullptr;
        CommIoUart uart{};
        uart.size = sizeof uart;
        if (!uarts || uarts(0, &uart) == 0 || uart.link != COMMIO_LINK_HELD) {
            const auto status = io ? ZELBIN_PROC_CAST(CommIoStatusFn, GetProcAddress(io, "CommIoStatus")) : nullptr;
            return Fail("the io.dll holds no device:", status ? status() : "(no status)", cycle);
        }
        // Polls a few milliseconds apart, as a host's are: the driver's
        // wait is under way before the unload cancels it.
        for (int poll = 0; poll < 3; ++poll) {
            zelbin.IsZBToggle();
            zelbin.SetToggled(poll == 0 ? 1 : 0);
            Sleep(5);
        }
        zelbin.StopListen();
        if (!FreeLibrary(module))
            return Fail("can't free", library, cycle);
        for (const char *name : {"Zelbin_Serial.dll", "io.dll"})
            if (GetModuleHandleA(name))
                return Fail("still loaded after FreeLibrary:", name, cycle);
        if (cycle == 1 || cycle == cycles / 2 || cycle == cycles) {
            const Holdings now = Take();
            std::printf("cycle %lu handles %lu private_kb %lu heap_bytes %lu tls %lu threads %u modules %u\n", cycle,
                        static_cast<unsigned long>(now.handles), static_cast<unsigned long>(now.privateKb),
                        static_cast<unsigned long>(now.heapBytes), static_cast<unsigned long>(now.tls), now.threads,
                        now.modules);
        }
    }
    return 0;
}
