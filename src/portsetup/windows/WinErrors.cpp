#include "portsetup/WinErrors.h"

#include "portsetup/SystemMessage.h"

namespace portsetup {

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

} // namespace portsetup
