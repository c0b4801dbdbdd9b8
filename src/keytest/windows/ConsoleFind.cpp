#include "ConsoleFind.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "ConsoleStop.h"
#include "WinLibraries.h"
#include "keytest/FindEnding.h"
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
    const FindEnding ending = EndOfFind(finding, options.writeMap, interrupted);
    if (!ending.said.empty())
        PrintLine(ending.said);
    if (!ending.writeMap)
        return ending.status;
    return portsetup::WriteFoundMap(PortMapPathFor(options), finding, PrintLine) ? KeyTestOk : KeyTestCannotRun;
}

} // namespace keytest
