#include "WinPreflight.h"

#include <cstdio>
#include <string>
#include <vector>

#include "WinPorts.h"
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

// "1.1.0", from the file's version resource; what a support call asks first.
std::string FileVersion(const std::string &path)
{
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (block.empty() || !GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length) || !fixed ||
        length < sizeof *fixed)
        return "unknown (the file has no version resource)";
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
           "." + std::to_string(HIWORD(fixed->dwFileVersionLS));
}

} // namespace

void PrintPreflight(const Libraries &libraries, const PortPlan &plan)
{
    const bool driver = libraries.isDriverInstalled() != 0;
    std::printf("Key tester for Zelbin_Serial.dll\n");
    std::printf("  library: %s\n", libraries.dllPath.c_str());
    std::printf("  version: %s\n", FileVersion(libraries.dllPath).c_str());
    std::printf("  io.dll : %s\n           %s\n", libraries.ioPath.c_str(), libraries.ioKind.c_str());
    std::printf("  driver : %s\n", driver ? "answers (IsDriverInstalled -> 1)"
                                          : "does not answer (IsDriverInstalled -> 0): the library will stay idle");
    std::printf("  port   : device \"%s\", UART at %s (address text \"%s\")\n", plan.portName.c_str(),
                HexBase(plan.base).c_str(), plan.addressText.c_str());

    std::vector<std::string> warnings = plan.warnings;
    if (libraries.commio) {
        // The driver check above is what makes the commio io.dll claim its
        // device, so its status is read after it: held, or why not.
        const char *status = libraries.commioStatus();
        std::printf("  device : %s\n", status ? status : "(the commio io.dll gives no status)");
        if (!driver)
            warnings.push_back("the commio io.dll holds no device: see its status above, and io-ports.txt beside it.");
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
    const std::string name = DeviceNameLine(plan.portName, libraries.commio, libraries.ioPath, plan.base);
    if (!name.empty())
        std::printf("  name   : %s\n", name.c_str());
    std::printf("ZelbinIsCustom -> %d\n", libraries.zelbin.IsCustom());
    for (const std::string &warning : warnings)
        std::printf("Warning: %s\n", warning.c_str());
}
