#include "ConsoleFind.h"

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "ConsoleStop.h"
#include "WinLibraries.h"
#include "keytest/FindEnding.h"
#include "keytest/PortPlan.h"
#include "commio/Win32Comm.h"
#include "portsetup/KeySearch.h"
#include "portsetup/MapWriter.h"
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
    portsetup::KeySearch search(serial, {options.presses, options.seconds}, "Ctrl+C stops it.", PrintLine,
                                portsetup::SystemMessageText);
    // The host's parameters for the key, where given: the UART its line is for.
    const std::optional<std::uint16_t> base = MapBaseFor(options.hasParameters ? options.parameters : "");
    // The line the key found is carried with is the one the map there takes.
    search.MapLineFrom([&](const portsetup::Finding &finding) {
        const portsetup::MapPlan plan = portsetup::PlanMapFile(PortMapPathFor(options), finding, base);
        return plan.ok ? plan.line : std::string();
    });
    FindConsole console;
    console.ticks = [] { return static_cast<std::uint32_t>(GetTickCount()); };
    console.interrupted = [&stop](std::uint32_t ms) { return WaitForSingleObject(stop.Event(), ms) == WAIT_OBJECT_0; };
    console.writeMap = [&](const portsetup::Finding &finding) {
        stop.Done();
        return portsetup::WriteFoundMap(PortMapPathFor(options), finding, base, PrintLine);
    };
    console.print = PrintLine;
    const int status = RunFind(search, portsetup::ListPortsToSearch(serial), options.writeMap, console);
    stop.Done();
    return status;
}

} // namespace keytest
