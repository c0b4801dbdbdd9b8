#include "WinConsole.h"

#include <windows.h>

#include <cstdio>

namespace keytest {

Screen::Screen()
{
    DWORD mode;
    console_ = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void Screen::Line(const std::string &text)
{
    Clear();
    std::printf("%s\n", text.c_str());
    if (!status_.empty()) {
        const std::string status = status_;
        status_.clear();
        Status(status);
    }
}

void Screen::Status(const std::string &text)
{
    if (!console_)
        return;
    // Kept within 79 columns: a wrapped line can't be rewritten in place.
    const std::string shown = text.substr(0, 79);
    if (shownLength_ != 0 && shown == status_)
        return;
    std::printf("\r%s", shown.c_str());
    if (shown.size() < shownLength_)
        std::printf("%*s", static_cast<int>(shownLength_ - shown.size()), "");
    if (shown.size() > shownLength_)
        shownLength_ = shown.size();
    status_ = shown;
}

void Screen::Clear()
{
    if (console_ && shownLength_)
        std::printf("\r%*s\r", static_cast<int>(shownLength_), "");
    shownLength_ = 0;
}

void Screen::Finish()
{
    Clear();
    status_.clear();
}

} // namespace keytest
