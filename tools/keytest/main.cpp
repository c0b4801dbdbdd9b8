// zelbin-keytest: tests a key on a serial port through Zelbin_Serial.dll,
// behaving like a careful host. With the real io.dll it is a hardware
// diagnostic; with the stand-in it is a demonstration.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "KeyTestOptions.h"
#include "Zelbin_Serial.h"

namespace {

volatile LONG stopRequested = 0;
HANDLE stoppedListening = nullptr; // set once the main loop has stopped listening

// Runs on a thread of its own. The library takes no lock, so the handler
// only asks the polling loop to stop listening. For Ctrl+C and Ctrl+Break
// that is all; when the console is closing, Windows ends the process as soon
// as the handler returns, so the handler waits for the loop first.
BOOL WINAPI OnConsoleControl(DWORD event)
{
    InterlockedExchange(&stopRequested, 1);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        WaitForSingleObject(stoppedListening, 4000);
    return TRUE;
}

std::string ErrorText(DWORD error)
{
    char *text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "error " + std::to_string(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message + " (error " + std::to_string(error) + ")";
}

std::string FullPath(const std::string &path)
{
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::string(full, length) : path;
}

std::string BesideThisProgram(const char *name)
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder(self, length);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + name;
}

bool FileExists(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int Fail(const std::string &message)
{
    std::fprintf(stderr, "zelbin-keytest: %s\n", message.c_str());
    return 1;
}

template <typename Fn> Fn Export(HMODULE module, const char *name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

struct Library {
    ZelbinStartListenFn StartListen;
    ZelbinStopListenFn StopListen;
    ZelbinIsZBToggleFn IsZBToggle;
    ZelbinSetToggledFn SetToggled;
    ZelbinIsCustomFn IsCustom;
};

// The stand-in io.dll lets the tester read DTR back; the real one does not.
using ModemControlFn = WORD(WINAPI *)(WORD);

double Seconds(const LARGE_INTEGER &from)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace

int main(int argc, char **argv)
{
    KeyTestOptions options;
    const std::string usageError = ParseKeyTestOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    if (!usageError.empty()) {
        std::fprintf(stderr, "zelbin-keytest: %s\n(--help explains the options)\n", usageError.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(KeyTestUsage, stdout);
        return 0;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);

    if (!options.ioPath.empty()) {
        const std::string io = FullPath(options.ioPath);
        if (!FileExists(io))
            return Fail("io.dll not found: " + io);
        if (!LoadLibraryA(io.c_str()))
            return Fail("cannot load " + io + ": " + ErrorText(GetLastError()));
    }

    const std::string dll = FullPath(options.dllPath.empty() ? BesideThisProgram("Zelbin_Serial.dll") : options.dllPath);
    if (!FileExists(dll))
        return Fail("Zelbin_Serial.dll not found: " + dll);
    HMODULE module = LoadLibraryExA(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        const DWORD error = GetLastError();
        std::string message = "cannot load " + dll + ": " + ErrorText(error);
        if (error == ERROR_MOD_NOT_FOUND)
            message += "\nIt needs io.dll beside it, beside this program or on PATH (or name one with --io).";
        return Fail(message);
    }

    Library lib{};
    const struct {
        const char *name;
        void **slot;
    } exports[] = {
        {"ZelbinIsCustom", reinterpret_cast<void **>(&lib.IsCustom)},
        {"ZelbinSetToggled", reinterpret_cast<void **>(&lib.SetToggled)},
        {"ZelbinIsZBToggle", reinterpret_cast<void **>(&lib.IsZBToggle)},
        {"ZelbinStopListen", reinterpret_cast<void **>(&lib.StopListen)},
        {"ZelbinStartListen", reinterpret_cast<void **>(&lib.StartListen)},
    };
    for (const auto &e : exports) {
        *e.slot = reinterpret_cast<void *>(GetProcAddress(module, e.name));
        if (!*e.slot)
            return Fail(dll + " has no export " + e.name + "; is it Zelbin_Serial.dll?");
    }

    char ioName[MAX_PATH] = "(not loaded)";
    HMODULE io = GetModuleHandleA("io.dll");
    if (io)
        GetModuleFileNameA(io, ioName, MAX_PATH);
    const auto readModemControl = io ? Export<ModemControlFn>(io, "SimGetModemControl") : nullptr;

    std::printf("Key tester for Zelbin_Serial.dll\n");
    std::printf("  library: %s\n", dll.c_str());
    std::printf("  io.dll : %s%s\n", ioName, readModemControl ? " (stand-in: DTR is read back from its UART)" : "");
    std::printf("ZelbinIsCustom -> %d\n", lib.IsCustom());

    stoppedListening = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    if (options.hasParameters) {
        std::printf("ZelbinStartListen(\"%s\")\n", options.parameters.c_str());
        lib.StartListen(options.parameters.c_str());
    } else {
        std::printf("ZelbinStartListen(NULL): the library's default, COM1 at 3F8h\n");
        lib.StartListen(nullptr);
    }
    std::printf("Polling every %u ms; press the key. Ctrl+C ends.\n", options.intervalMs);

    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    std::uint32_t presses = 0;
    bool toggled = false;
    while (!stopRequested) {
        if (lib.IsZBToggle()) {
            ++presses;
            toggled = !toggled;
            lib.SetToggled(toggled ? 1 : 0);
            std::printf("[%9.3f s] press %u: toggled %s", Seconds(start), presses, toggled ? "on, " : "off,");
            if (readModemControl)
                std::printf(" DTR %s", (readModemControl(0) & 1) ? "on" : "off");
            std::printf("\n");
            if (options.presses && presses >= options.presses)
                break;
        }
        if (options.seconds > 0 && Seconds(start) >= options.seconds)
            break;
        Sleep(options.intervalMs);
    }
    lib.StopListen();
    SetEvent(stoppedListening);
    std::printf("ZelbinStopListen after %.2f s: %u press%s, toggled %s%s\n", Seconds(start), presses,
                presses == 1 ? "" : "es", toggled ? "on" : "off", stopRequested ? " (Ctrl+C)" : "");
    FreeLibrary(module);
    return 0;
}
