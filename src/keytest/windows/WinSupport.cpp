#include "WinSupport.h"

#include "keytest/SystemMessage.h"

namespace keytest {

namespace {

std::string RawSystemMessage(DWORD error)
{
    char *text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    const std::string raw = length ? std::string(text, length) : std::string();
    LocalFree(text);
    return raw;
}

} // namespace

std::string SystemMessageText(unsigned long error) { return TidySystemMessageText(RawSystemMessage(error), ""); }

std::string ErrorText(DWORD error, const std::string &subject)
{
    return TidySystemMessage(RawSystemMessage(error), subject, error);
}

std::string FullPath(const std::string &path)
{
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    return length && length < MAX_PATH ? std::string(full, length) : path;
}

std::string FileName(const std::string &path) { return path.substr(path.find_last_of("\\/") + 1); }

std::string BesideThisProgram(const char *name)
{
    char self[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder(self, length);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + name;
}

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

} // namespace keytest
