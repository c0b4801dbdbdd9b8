#include "WinPreflight.h"

#include <cstdio>
#include <string>
#include <vector>

#include "keytest/Preflight.h"
#include "portsetup/WinPorts.h"
#include "portsetup/WinErrors.h"
#include "portsetup/WinPaths.h"

namespace keytest {

using namespace portsetup; // the ports Windows has, its error texts, paths

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

std::vector<std::string> PreflightLines(const Libraries &libraries, const PortPlan &plan)
{
    PreflightFacts facts;
    facts.dllPath = libraries.dllPath;
    facts.dllVersion = FileVersion(libraries.dllPath);
    facts.ioPath = libraries.ioPath;
    facts.ioKind = libraries.ioKind;
    facts.dllFolder = FolderOf(libraries.dllPath);
    facts.ioFolder = FolderOf(libraries.ioPath);
    facts.ioGiven = libraries.givenIo != nullptr;
    facts.ioBesideDll = FileExists(facts.dllFolder + "io.dll");
    facts.standIn = libraries.standIn;
    facts.commioInRelease = CommIoInRelease();
    facts.driver = libraries.isDriverInstalled() != 0;
    facts.commio = libraries.commio;
    facts.commioStatus = ReadIoDllStatus(libraries);
    facts.deviceTried = PreflightTriesDevice(plan, facts.driver, facts.commio);
    if (facts.deviceTried)
        facts.deviceProblem = DeviceProblem(plan.portName);
    facts.deviceName = DeviceNameLine(plan.portName, libraries.commio, libraries.ioPath, plan.base,
                                      facts.wiringWarning);
    facts.isCustom = libraries.zelbin.IsCustom();
    return FormatPreflight(facts, plan, SystemMessageText);
}

void PrintPreflight(const Libraries &libraries, const PortPlan &plan)
{
    for (const std::string &line : PreflightLines(libraries, plan))
        std::printf("%s\n", line.c_str());
}

} // namespace keytest
