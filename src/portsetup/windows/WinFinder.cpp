#include "portsetup/WinFinder.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "portsetup/MapWriter.h"
#include "portsetup/WinErrors.h"
#include "portsetup/WinPaths.h"

namespace portsetup {

namespace {

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

bool WriteFoundMap(const std::string &mapPath, const Finding &finding, std::optional<std::uint16_t> base,
                   const std::function<void(const std::string &)> &print)
{
    const std::string io = IoBesideMap(mapPath);
    if (!io.empty())
        print("Warning: " + io + ". Put the comm-port io.dll there: " + CommIoInRelease() + ".");
    const MapWriteResult written = WritePortMapFile(mapPath, finding, base);
    print(written.message);
    return written.done;
}

} // namespace portsetup
