#include "WinLibraries.h"

#include "portsetup/WinErrors.h"
#include "portsetup/WinPaths.h"
#include "commio/PortMap.h"
#include "keytest/IoStatus.h"
#include "uart/ModemLines.h"

namespace keytest {

using namespace portsetup; // the Windows helpers: paths, error texts
using uart::ReadModemLines;
using uart::UartAnswersAt;

namespace {

const char *const IoOperations[] = {"IsDriverInstalled", "PortOut", "GetPortBit", "SetPortBit", "ClrPortBit"};

// Whether a DLL failed to load for being of the other architecture, its own
// file or its io.dll: then `why` names the file and both architectures,
// where the system says only "not a valid Win32 application" (error 193),
// or, passing an io.dll of the wrong kind over, that none was found (126).
bool WrongEdition(DWORD error, const std::string &path, std::string &why)
{
    char text[1024];
    if ((error != ERROR_BAD_EXE_FORMAT && error != ERROR_MOD_NOT_FOUND) ||
        !ZelbinDescribeWrongEdition(path.c_str(), text, sizeof text))
        return false;
    why = text;
    return true;
}

// A DLL of the other edition, where the tester is of the wrong kind for the
// host, not the DLL: the host's files are right, and this tester can't load
// them. Says which tester to run instead; empty for a DLL of this kind.
std::string OtherEditionThanTheTester(const std::string &path)
{
    const bool wide = sizeof(void *) == 8;
    const char *arch = ZelbinImageArchitecture(path.c_str());
    if (!arch || std::string(arch) == (wide ? "x64" : "x86"))
        return {};
    const std::string other = wide ? "x86" : "x64";
    return path + " is of the " + other + " edition (for " + (wide ? "32" : "64") + "-bit hosts); this is the " +
           (wide ? "64" : "32") + "-bit tester, which loads the " + (wide ? "x64" : "x86") +
           " edition only. For this host use the " + other + " edition's tester: " + other + "\\" +
           FileName(ThisProgram()) + " from the release zip, beside that file.";
}

// Why a file didn't load, naming it once: Windows' text often names it
// itself ("... is not a valid Win32 application"); `role` is the name the
// file is loaded as.
std::string CannotLoad(const std::string &path, DWORD error, const char *role)
{
    const std::string text = ErrorText(error, path);
    return "cannot load " + (text.find(path) != std::string::npos ? std::string(role) : path) + ": " + text;
}

// Loads the io.dll given with --io, before Zelbin_Serial.dll looks for one.
std::string LoadIo(const std::string &given, HMODULE &loaded)
{
    const std::string io = FullPath(given);
    // Its name and a folder in its place are command-line mistakes, told
    // before this as such.
    if (!FileExists(io))
        return "io.dll not found: " + io;
    const std::string tester = OtherEditionThanTheTester(io);
    if (!tester.empty())
        return tester;
    HMODULE module = LoadLibraryA(io.c_str());
    if (!module) {
        const DWORD error = GetLastError();
        std::string why;
        return WrongEdition(error, io, why) ? why : CannotLoad(io, error, "io.dll");
    }
    loaded = module;
    for (const char *name : IoOperations)
        if (!GetProcAddress(module, name))
            return io + " was loaded as io.dll but has no " + name + "; it is not a port-I/O library";
    return {};
}

void DescribeIo(HMODULE io, Libraries &libraries)
{
    if ((libraries.commioStatus = ZelbinProc<CommIoStatusFn>(io, "CommIoStatus"))) {
        libraries.commio = true;
        libraries.commioUarts = ZelbinProc<CommIoUartStatusFn>(io, "CommIoUartStatus");
        libraries.ioKind = "commio io.dll, over the Windows serial driver";
    } else if (GetProcAddress(io, "SimGetModemControl")) {
        libraries.standIn = true;
        libraries.ioKind = "stand-in io.dll: a simulated PC, no hardware";
    } else {
        libraries.ioKind = "another io.dll (a port-I/O library with its own driver)";
    }
}

} // namespace

std::string LoadLibraries(const KeyTestOptions &options, Libraries &libraries)
{
    if (!options.ioPath.empty()) {
        const std::string error = LoadIo(options.ioPath, libraries.givenIo);
        if (!error.empty())
            return error;
    }

    const std::string dll = FullPath(options.dllPath.empty() ? BesideThisProgram("Zelbin_Serial.dll") : options.dllPath);
    if (!FileExists(dll))
        return "Zelbin_Serial.dll not found: " + dll;
    const std::string tester = OtherEditionThanTheTester(dll);
    if (!tester.empty())
        return tester;
    HMODULE module = LoadLibraryExA(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        const DWORD error = GetLastError();
        std::string why;
        if (WrongEdition(error, dll, why))
            return why;
        std::string message = CannotLoad(dll, error, "Zelbin_Serial.dll");
        if (error == ERROR_MOD_NOT_FOUND)
            message += "\nIt needs io.dll beside it. For a key on a COM port (a USB adapter, a PCIe card, a built-in "
                       "port) that is the comm-port io.dll: " +
                       CommIoInRelease() +
                       ", copied beside Zelbin_Serial.dll. On a PC that uses a port-I/O driver, that driver's io.dll "
                       "goes there instead (or name an io.dll with --io).";
        else if (error == ERROR_PROC_NOT_FOUND)
            message += "\nThe io.dll that Windows found lacks an operation the library imports.";
        return message;
    }
    libraries.dll = module;
    libraries.dllPath = dll;
    if (const char *missing = ZelbinLoadFunctions(module, &libraries.zelbin))
        return dll + " has no export " + missing + "; is it Zelbin_Serial.dll?";

    HMODULE io = GetModuleHandleA("io.dll");
    if (io) {
        libraries.isDriverInstalled = ZelbinProc<IsDriverInstalledFn>(io, "IsDriverInstalled");
        libraries.getPortBit = ZelbinProc<GetPortBitFn>(io, "GetPortBit");
    }
    if (!libraries.isDriverInstalled || !libraries.getPortBit)
        return "the io.dll that Zelbin_Serial.dll uses has no IsDriverInstalled or GetPortBit";
    char path[MAX_PATH] = "";
    GetModuleFileNameA(io, path, MAX_PATH);
    libraries.ioPath = path;
    DescribeIo(io, libraries);
    return {};
}

void UnloadLibraries(Libraries &libraries)
{
    // The key library first: the io.dll it imports goes with the last of
    // the two references.
    if (libraries.dll)
        FreeLibrary(libraries.dll);
    if (libraries.givenIo)
        FreeLibrary(libraries.givenIo);
    libraries = Libraries{};
}

LineLevels LoadedTarget::ReadLines(std::uint16_t base) { return ReadModemLines(libraries_.getPortBit, base); }

bool LoadedTarget::UartAnswers(std::uint16_t base) { return UartAnswersAt(libraries_.getPortBit, base); }

IoDllStatus ReadIoDllStatus(const Libraries &libraries)
{
    IoDllStatus status;
    if (!libraries.commio)
        return status;
    const char *text = libraries.commioStatus();
    status.text = text ? text : "";
    if (libraries.commioUarts) // an older comm-port io.dll gives the text alone
        status.uarts = ReadUartRecords(libraries.commioUarts);
    return status;
}

IoDllStatus LoadedTarget::IoStatus()
{
    IoDllStatus status = ReadIoDllStatus(libraries_);
    status.text = ExplainIoStatus(status, SystemMessageText).text;
    return status;
}

std::string PortMapPathFor(const KeyTestOptions &options)
{
    const std::string beside = !options.ioPath.empty()    ? options.ioPath
                               : !options.dllPath.empty() ? options.dllPath
                                                          : BesideThisProgram("Zelbin_Serial.dll");
    return FolderOf(FullPath(beside)) + commio::PortMapFileName;
}

} // namespace keytest
