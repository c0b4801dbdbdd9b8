#include "ConsoleFind.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "ConsoleStop.h"
#include "WinLibraries.h"
#include "commio/Win32Comm.h"
#include "portsetup/KeySearch.h"
#include "portsetup/WinErrors.h"
#include "portsetup/WinFinder.h"
#include "portsetup/WinPorts.h"

namespace keytest {

namespace {

void PrintLine(const std::string &line) { std::printf("%s\n", line.c_str()); }

} // namespace

int FindKeyOnConsole(const KeyTestOptions &options)
{
    // Until this returns, Ctrl+C only ends the search: the map is written
    // whole, never cut off between its old and its new file.
    ConsoleStop stop;
    if (!stop.Ready()) {
        std::fprintf(stderr, "zelbin-keytest: cannot create an event: %s\n",
                     portsetup::ErrorText(GetLastError(), "event").c_str());
        return KeyTestCannotRun;
    }
    commio::Win32Comm serial;
    portsetup::KeySearch search(serial, {options.presses, options.seconds}, "Ctrl+C stops it.", PrintLine);
    search.Begin(portsetup::ListPortsToSearch(serial), GetTickCount());
    bool interrupted = false;
    while (!search.Poll(GetTickCount()))
        if (WaitForSingleObject(stop.Event(), 10) == WAIT_OBJECT_0) {
            interrupted = true;
            break;
        }
    const portsetup::Finding finding = search.End(interrupted ? "Stopped (Ctrl+C). " : "");
    stop.Done();
    if (finding.kind != portsetup::Finding::Kind::Found)
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
    return portsetup::WriteFoundMap(PortMapPathFor(options), finding, PrintLine) ? KeyTestOk : KeyTestCannotRun;
}

} // namespace keytest
