#include "KeyScript.h"

#include <algorithm>
#include <cctype>

namespace sim {

bool ParseKeyScript(const std::string &text, std::vector<KeyEvent> &events, std::string &error, std::uint32_t tapMs)
{
    events.clear();
    std::size_t at = 0;
    while (true) {
        while (at < text.size() && (text[at] == ' ' || text[at] == ',' || text[at] == '\t'))
            ++at;
        if (at == text.size())
            break;
        const std::size_t end = text.find_first_of(" ,\t", at);
        const std::string item = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end;

        const std::size_t sign = item.find('@');
        const std::string action = item.substr(0, sign);
        const std::string time = sign == std::string::npos ? std::string() : item.substr(sign + 1);
        if (time.empty() || time.size() > 9 ||
            !std::all_of(time.begin(), time.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
            error = "'" + item + "': expected ACTION@MILLISECONDS";
            return false;
        }
        const auto ms = static_cast<std::uint32_t>(std::stoul(time));
        if (action == "press") {
            events.push_back({ms, true});
        } else if (action == "release") {
            events.push_back({ms, false});
        } else if (action == "tap") {
            events.push_back({ms, true});
            events.push_back({ms + tapMs, false});
        } else {
            error = "'" + item + "': the action is press, release or tap";
            return false;
        }
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const KeyEvent &a, const KeyEvent &b) { return a.atMs < b.atMs; });
    return true;
}

std::size_t KeyScriptPlayer::Advance(std::uint64_t elapsedMs, Uart16550 &uart)
{
    std::size_t played = 0;
    for (; next_ < events_.size() && events_[next_].atMs <= elapsedMs; ++next_, ++played)
        uart.SetCts(events_[next_].down);
    return played;
}

} // namespace sim
