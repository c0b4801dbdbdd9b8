// Windows' error texts made fit to print: the system's message tables hold
// placeholders ("%1 is not a valid Win32 application") and end in a period
// and a line break.
#pragma once

#include <functional>
#include <string>

namespace portsetup {

// The system's message for an error code, without the number (empty when the
// system has none); null where none can be asked for.
using SystemText = std::function<std::string(unsigned long code)>;

// A code as the tools print it: "error 50: The request is not supported",
// or "error 50" where the system has no text for it.
std::string CodeText(unsigned long code, const SystemText &systemText);

// `raw` as FormatMessage gives it with FORMAT_MESSAGE_IGNORE_INSERTS (empty
// when it has none for `code`); `subject` is what the call was about, such as
// the file being loaded, and takes the place of %1. Other placeholders are
// dropped. Ends with the code: "... (error 193)".
std::string TidySystemMessage(const std::string &raw, const std::string &subject, unsigned long code);

// The same text without the code: "Access is denied"; empty when `raw` is.
std::string TidySystemMessageText(const std::string &raw, const std::string &subject);

} // namespace portsetup
