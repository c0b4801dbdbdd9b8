// Small Windows helpers of the key tester: error texts, paths, exports.
#pragma once

#include <windows.h>

#include <string>

namespace keytest {

// Windows' message for `error`, with `subject` (the file or device the call
// was about) in place of its %1: "... is not a valid Win32 application
// (error 193)".
std::string ErrorText(DWORD error, const std::string &subject);
// Windows' message for `error` alone, "Access is denied"; empty when it has none.
std::string SystemMessageText(unsigned long error);

std::string FullPath(const std::string &path);
std::string FileName(const std::string &path);
std::string BesideThisProgram(const char *name);
bool FileExists(const std::string &path);
bool FolderExists(const std::string &path);

} // namespace keytest
