#include "WinFinder.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "commio/Win32Comm.h"
#include "keytest/KeySearch.h"
#include "keytest/MapWriter.h"
#include "WinPorts.h"
#include "WinErrors.h"
#include "WinPaths.h"

namespace keytest {

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

// What the io.dll in the map's folder is: only the comm-port one reads
// io-ports.txt. Loaded as a host loads it, so a file that can't be loaded
// is named as such.
std::string IoBesideMap(const std::string &mapPath)
{
    const std::string io = FolderOf(mapPath) + "io.dll";
    if (!FileExists(io))
        return "there is no io.dll beside " + mapPath + ": only the comm-port io.dll reads io-ports.txt";
    HMODULE module = LoadLibraryExA(io.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        return io + " can't be loaded (" + ErrorText(GetLastError(), io) + ")";
    const bool commio = GetProcAddress(module, "CommIoStatus") != nullptr;
    FreeLibrary(module);
    return commio ? "" : io + " is not the comm-port io.dll: only that one reads io-ports.txt";
}

} // namespace

int FindKey(const KeyTestOptions &options)
{
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
    keytest::KeySearch search(serial, options, "Ctrl+C stops it.",
                              [](const std::string &line) { std::printf("%s\n", line.c_str()); });
    search.Begin(ListPortsToSearch(serial), GetTickCount());
    bool interrupted = false;
    while (!search.Poll(GetTickCount()))
        if (WaitForSingleObject(stopSearch, 10) == WAIT_OBJECT_0) {
            interrupted = true;
            break;
        }
    const keytest::Finding finding = search.End(interrupted ? "Stopped (Ctrl+C). " : "");
    SetEvent(portsClosed);
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
    return WriteFoundMap(options, finding, [](const std::string &line) { std::printf("%s\n", line.c_str()); })
               ? KeyTestOk
               : KeyTestCannotRun;
}

bool WriteFoundMap(const KeyTestOptions &options, const keytest::Finding &finding,
                   const std::function<void(const std::string &)> &print)
{
    const std::string mapPath = PortMapPathFor(options);
    const std::string io = IoBesideMap(mapPath);
    if (!io.empty())
        print("Warning: " + io + ". Put the comm-port io.dll there: " + CommIoInRelease() + ".");
    const keytest::MapWriteResult written = keytest::WritePortMapFile(mapPath, finding);
    print(written.message);
    return written.done;
}

} // namespace keytest
