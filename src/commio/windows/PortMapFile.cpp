#include "PortMapFile.h"

#include "commio/PortMap.h"

namespace commio {

bool ReadPortMapFile(HMODULE module, std::string &text, std::string &why)
{
    char path[MAX_PATH + 32];
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        why = "can't find the folder io.dll was loaded from";
        return false;
    }
    std::string file(path, length);
    file.erase(file.find_last_of("\\/") + 1);
    const std::string folder = file;
    file += PortMapFileName;

    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            why = std::string("no ") + PortMapFileName + " beside io.dll in " + folder +
                  ": put one there naming the COM port, such as 'any = COM3'";
        else
            why = std::string(PortMapFileName) + " can't be opened (error " + std::to_string(error) + ")";
        return false;
    }
    // One byte past the limit tells a file that is too long.
    text.assign(MaxPortMapBytes + 1, '\0');
    DWORD got = 0;
    const BOOL read = ReadFile(handle, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (!read) {
        why = std::string(PortMapFileName) + " can't be read (error " + std::to_string(error) + ")";
        return false;
    }
    text.resize(got);
    return true;
}

} // namespace commio
