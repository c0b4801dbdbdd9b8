#include "WinPreflight.h"

#include <cstdio>
#include <string>
#include <vector>

#include "WinSupport.h"

namespace {

// The library opens the device for exclusive use and never looks at the
// answer. The same open, closed again at once, names a missing or busy port
// before the test instead.
std::string DeviceProblem(const std::string &device)
{
    HANDLE handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return ErrorText(GetLastError(), device);
    CloseHandle(handle);
    return {};
}

} // namespace

void PrintPreflight(const Libraries &libraries, const PortPlan &plan)
{
    const bool driver = libraries.isDriverInstalled() != 0;
    std::printf("Key tester for Zelbin_Serial.dll\n");
    std::printf("  library: %s\n", libraries.dllPath.c_str());
    // (The library's version line goes here.)
    std::printf("  io.dll : %s\n           %s\n", libraries.ioPath.c_str(), libraries.ioKind.c_str());
    std::printf("  driver : %s\n", driver ? "answers (IsDriverInstalled -> 1)"
                                          : "does not answer (IsDriverInstalled -> 0): the library will stay idle");
    std::printf("  port   : device \"%s\", UART at %s (address text \"%s\")\n", plan.portName.c_str(),
                HexBase(plan.base).c_str(), plan.addressText.c_str());

    std::vector<std::string> warnings = plan.warnings;
    if (libraries.commio) {
        std::printf("  device : not checked: the commio io.dll holds it\n");
    } else {
        const std::string problem = DeviceProblem(plan.portName);
        if (problem.empty()) {
            std::printf("  device : opens (tried exclusively and closed again)\n");
        } else {
            std::printf("  device : cannot be opened\n");
            warnings.push_back("Windows can't open the device \"" + plan.portName + "\": " + problem +
                               ". The library drives the UART all the same, but doesn't hold the port.");
        }
    }
    std::printf("ZelbinIsCustom -> %d\n", libraries.zelbin.IsCustom());
    for (const std::string &warning : warnings)
        std::printf("Warning: %s\n", warning.c_str());
}
