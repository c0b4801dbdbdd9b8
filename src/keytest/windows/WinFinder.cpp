#include "WinFinder.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "commio/Win32Comm.h"
#include "keytest/KeyFinder.h"
#include "keytest/MapWriter.h"
#include "WinPorts.h"
#include "WinSupport.h"

namespace {

HANDLE stopSearch = nullptr;  // Ctrl+C, Ctrl+Break, the console closing
HANDLE portsClosed = nullptr; // set once every port is given back

BOOL WINAPI OnConsoleControl(DWORD event)
{
    SetEvent(stopSearch);
    // When the console closes, Windows ends the process as soon as this
    // returns: let the search give its ports back first.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        WaitForSingleObject(portsClosed, 4000);
    return TRUE;
}

// Whether the io.dll in the map's folder is the comm-port one, which alone
// reads io-ports.txt. Its exports are looked at without running it.
bool CommioBeside(const std::string &mapPath)
{
    const std::string io = mapPath.substr(0, mapPath.find_last_of("\\/") + 1) + "io.dll";
    HMODULE module = LoadLibraryExA(io.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module)
        return false;
    const bool commio = GetProcAddress(module, "CommIoStatus") != nullptr;
    FreeLibrary(module);
    return commio;
}

void PrintChanges(const keytest::KeyFinder &finder, std::vector<unsigned> &seen)
{
    const auto &ports = finder.Ports();
    seen.resize(ports.size() * keytest::KeyLineCount);
    for (std::size_t p = 0; p < ports.size(); ++p)
        for (int line = 0; line < keytest::KeyLineCount; ++line) {
            unsigned &shown = seen[p * keytest::KeyLineCount + static_cast<std::size_t>(line)];
            if (ports[p].Swings(line) != shown) {
                shown = ports[p].Swings(line);
                std::printf("  %s %s changed (%u)\n", ports[p].name.c_str(), keytest::KeyLineName(line), shown);
            }
        }
}

} // namespace

int FindKey(const KeyTestOptions &options)
{
    const unsigned presses = options.presses ? options.presses : FindDefaultPresses;
    const double seconds = options.seconds > 0 ? options.seconds : FindDefaultSeconds;
    stopSearch = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    portsClosed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!stopSearch || !portsClosed) {
        std::fprintf(stderr, "zelbin-keytest: cannot create an event: %s\n",
                     ErrorText(GetLastError(), "event").c_str());
        return KeyTestCannotRun;
    }
    // Until FindKey returns, Ctrl+C only ends the search: the map is then
    // written whole, never cut off between its old and its new file. After
    // that Ctrl+C ends the program again as usual. The two events stay
    // until the process ends: a handler that began before may still be
    // using them on its own thread.
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    struct HandlerRemoval {
        ~HandlerRemoval() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }
    } removal;

    commio::Win32Comm serial;
    const std::vector<keytest::PortInfo> ports = ListPortsToSearch(serial);
    std::printf("Finding the key on %u serial port%s.\n", static_cast<unsigned>(ports.size()),
                ports.size() == 1 ? "" : "s");
    keytest::KeyFinder finder(serial);
    finder.Open(ports);
    for (const keytest::WatchedPort &port : finder.Ports()) {
        const std::string device = port.friendlyName.empty() ? "" : " (" + port.friendlyName + ")";
        if (port.state == keytest::WatchedPort::State::Watching)
            std::printf("  watching %s%s\n", port.name.c_str(), device.c_str());
        else
            std::printf("  skipped  %s%s: %s\n", port.name.c_str(), device.c_str(), port.why.c_str());
    }
    bool interrupted = false;
    if (finder.Watching() > 0) {
        std::printf("Press the key %u times now, briefly, with a pause between. The search ends a second after "
                    "press %u, or after %.0f s; Ctrl+C stops it.\n",
                    presses, presses, seconds);
        std::vector<unsigned> seen;
        const DWORD start = GetTickCount();
        while (!finder.Poll(presses) && finder.Watching() > 0) {
            PrintChanges(finder, seen);
            if (GetTickCount() - start >= static_cast<DWORD>(seconds * 1000))
                break;
            if (WaitForSingleObject(stopSearch, 10) == WAIT_OBJECT_0) {
                interrupted = true;
                break;
            }
        }
        PrintChanges(finder, seen);
    }
    finder.CloseAll();
    SetEvent(portsClosed);
    std::printf("%sEvery port searched is closed, its lines off.\n\n", interrupted ? "Stopped (Ctrl+C). " : "");

    const keytest::Finding finding = finder.Result();
    for (const std::string &line : keytest::DescribeFinding(finding))
        std::printf("%s\n", line.c_str());
    if (finding.kind != keytest::Finding::Kind::Found)
        return KeyTestNoKeyFound;
    if (!options.writeMap) {
        std::printf("zelbin-keytest --find --write-map writes that line to io-ports.txt for you.\n");
        return KeyTestOk;
    }
    // A search cut short is no finding to act on: the map stays as it was.
    if (interrupted) {
        std::printf("The search was stopped before its end, so io-ports.txt is left as it was; search again to "
                    "write it.\n");
        return KeyTestNoKeyFound;
    }
    const std::string mapPath = PortMapPathFor(options);
    if (!CommioBeside(mapPath))
        std::printf("Warning: the io.dll beside %s is not the comm-port io.dll (or there is none): only that one "
                    "reads io-ports.txt. Put dist\\commio\\io.dll there.\n",
                    mapPath.c_str());
    const keytest::MapWriteResult written = keytest::WritePortMapFile(mapPath, finding);
    std::printf("%s\n", written.message.c_str());
    return written.done ? KeyTestOk : KeyTestCannotRun;
}
