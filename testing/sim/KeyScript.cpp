#include "sim/KeyScript.h"

#include <algorithm>
#include <cctype>

namespace sim {

namespace {

bool AllDigits(const std::string &text, std::size_t maxDigits)
{
    return !text.empty() && text.size() <= maxDigits &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

} // namespace

void AppendTap(std::vector<KeyEvent> &events, std::uint32_t atMs, std::uint32_t tapMs, std::uint32_t bounces,
               std::uint32_t bounceMs)
{
    std::uint32_t at = atMs;
    events.push_back({at, true});
    for (std::uint32_t i = 0; i < bounces; ++i) {
        events.push_back({at += bounceMs, false});
        events.push_back({at += bounceMs, true});
    }
    events.push_back({at + tapMs, false});
}

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
        std::string time = sign == std::string::npos ? std::string() : item.substr(sign + 1);
        std::string step;
        if (action == "bounce" && time.find('/') != std::string::npos) {
            step = time.substr(time.find('/') + 1);
            time.erase(time.find('/'));
            if (!AllDigits(step, 5) || std::stoul(step) == 0 || std::stoul(step) > MaxStepMs) {
                error = "'" + item + "': the bounce step is 1 to " + std::to_string(MaxStepMs) + " ms";
                return false;
            }
        }
        // Nine digits keep every time, plus a tap and its bounces, below 2^32.
        if (!AllDigits(time, 9)) {
            error = "'" + item + "': expected ACTION@MILLISECONDS";
            return false;
        }
        const auto ms = static_cast<std::uint32_t>(std::stoul(time));
        if (action == "press") {
            events.push_back({ms, true});
        } else if (action == "release") {
            events.push_back({ms, false});
        } else if (action == "tap") {
            AppendTap(events, ms, tapMs);
        } else if (action == "bounce") {
            AppendTap(events, ms, tapMs, DefaultBounces,
                      step.empty() ? DefaultBounceMs : static_cast<std::uint32_t>(std::stoul(step)));
        } else {
            error = "'" + item + "': the action is press, release, tap or bounce";
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
