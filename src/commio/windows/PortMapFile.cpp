#include "PortMapFile.h"

#include <new>
#include <string>
#include <string_view>

#include "commio/PortMap.h"

namespace commio {
namespace {

// The file's text, or why there is none (with the text empty).
std::string ReadBeside(HMODULE module, std::string &text)
{
    char path[MAX_PATH + 32];
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return "can't find the folder io.dll was loaded from";
    const std::string folder(path, std::string_view(path, length).find_last_of("\\/") + 1);
    const std::string name = PortMapFileName;
    HANDLE handle =
        CreateFileA((folder + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            const DWORD twice = GetFileAttributesA((folder + PortMapNamedTwice).c_str());
            if (twice != INVALID_FILE_ATTRIBUTES && !(twice & FILE_ATTRIBUTE_DIRECTORY))
                return "no " + name + " beside io.dll in " + folder + ", but " + PortMapNamedTwiceAdvice;
            return "no " + name + " beside io.dll in " + folder +
                   ": put one there naming the COM port, such as 'any = COM3'";
        }
        return name + " can't be opened (error " + std::to_string(error) + ")";
    }
    // One byte past the limit tells a file that is too long.
    text.assign(MaxPortMapBytes + 1, '\0');
    DWORD got = 0;
    const BOOL read = ReadFile(handle, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    text.resize(read ? got : 0);
    return read ? "" : name + " can't be read (error " + std::to_string(error) + ")";
}

} // namespace

void ConfigureFromPortMapFile(HMODULE module, CommIo &io)
{
    try {
        std::string text;
        const std::string why = ReadBeside(module, text);
        if (!why.empty())
            return io.ConfigureFailed(why.c_str());
        const PortMapResult map = ParsePortMap(text);
        if (map.error.empty())
            return io.Configure(map.uarts);
        std::string where = PortMapFileName;
        if (map.errorLine)
            where += " line " + std::to_string(map.errorLine);
        io.ConfigureFailed((where + ": " + map.error).c_str());
    } catch (const std::bad_alloc &) {
        io.ConfigureFailed("out of memory reading the port map");
    }
}

} // namespace commio
