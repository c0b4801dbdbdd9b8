// Windows' own texts for its error codes, as the key tester shows them.
#pragma once

#include <windows.h>

#include <string>

namespace portsetup {

// Windows' message for `error`, with `subject` (the file or device the call
// was about) in place of its %1: "... is not a valid Win32 application
// (error 193)".
std::string ErrorText(DWORD error, const std::string &subject);
// Windows' message for `error` alone, "Access is denied"; empty when it has none.
std::string SystemMessageText(unsigned long error);

} // namespace portsetup
