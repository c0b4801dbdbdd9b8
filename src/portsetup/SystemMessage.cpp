#include "portsetup/SystemMessage.h"

#include <cctype>

namespace portsetup {

std::string TidySystemMessageText(const std::string &raw, const std::string &subject)
{
    std::string message;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 1 < raw.size() && std::isdigit(static_cast<unsigned char>(raw[i + 1]))) {
            std::size_t end = i + 1;
            while (end < raw.size() && std::isdigit(static_cast<unsigned char>(raw[end])))
                ++end;
            // A placeholder may carry a format, "%1!s!".
            if (end < raw.size() && raw[end] == '!') {
                const std::size_t close = raw.find('!', end + 1);
                if (close != std::string::npos)
                    end = close + 1;
            }
            if (raw.compare(i, 2, "%1") == 0 && (i + 2 >= raw.size() || !std::isdigit(static_cast<unsigned char>(raw[i + 2]))))
                message += subject;
            i = end - 1;
        } else if (raw[i] == '\r' || raw[i] == '\n') {
            if (!message.empty() && message.back() != ' ')
                message += ' ';
        } else if (raw[i] != ' ' || (!message.empty() && message.back() != ' ')) {
            // A dropped placeholder leaves its spaces on both sides: one is
            // kept, as between any two words.
            message += raw[i];
        }
    }
    while (!message.empty() && (message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message;
}

std::string CodeText(unsigned long code, const SystemText &systemText)
{
    const std::string message = systemText ? systemText(code) : std::string();
    return "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
}

std::string TidySystemMessage(const std::string &raw, const std::string &subject, unsigned long code)
{
    std::string message = TidySystemMessageText(raw, subject);
    if (message.empty())
        message = "system error";
    return message + " (error " + std::to_string(code) + ")";
}

} // namespace portsetup
