#include "portsetup/WinPaths.h"

#include <windows.h>

namespace portsetup {

std::string FullPath(const std::string &path)
{
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::string(full, length) : path;
}

std::string FileName(const std::string &path) { return path.substr(path.find_last_of("\\/") + 1); }

std::string FolderOf(const std::string &path) { return path.substr(0, path.size() - FileName(path).size()); }

std::string ThisProgram()
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    return std::string(self, length);
}

std::string BesideThisProgram(const char *name) { return FolderOf(ThisProgram()) + name; }

bool FileExists(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string &path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string CommIoInRelease()
{
    // Each edition's folder holds the comm-port io.dll beside the key
    // library, with its io-ports.txt.
    return std::string("io.dll with io-ports.txt from the release zip's ") + (sizeof(void *) == 8 ? "x64" : "x86") +
           "\\ folder";
}

} // namespace portsetup
