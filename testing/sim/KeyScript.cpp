#include "sim/KeyScript.h"
#include "sim/SimUart.h"

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

bool ParseKeyScript(const std::string &text, std::vector<KeyEvent> &events, std::string &error, std::uint32_t tapMs,
                    const ExtraActions *extra)
{
    events.clear();
    std::size_t at = 0;
    while (true) {
        while (at < text.size() && (text[at] == ' ' || text[at] == ',' || text[at] == '\t'))
            ++at;
        if (at == text.size())
            break;
        const std::size_t end = text.find_first_of(" ,\t", at);
        ScriptItem item;
        item.text = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end;

        const std::size_t sign = item.text.find('@');
        item.action = item.text.substr(0, sign);
        std::string time = sign == std::string::npos ? std::string() : item.text.substr(sign + 1);
        if (const std::size_t slash = time.find('/'); slash != std::string::npos) {
            item.hasArgument = true;
            item.argument = time.substr(slash + 1);
            time.erase(slash);
        }
        const bool key = item.action == "press" || item.action == "release" || item.action == "tap";
        // Nine digits keep every time, plus a tap and its bounces, below 2^32.
        if (!AllDigits(time, 9) || (key && item.hasArgument)) {
            error = "'" + item.text + "': expected ACTION@MILLISECONDS";
            return false;
        }
        item.atMs = static_cast<std::uint32_t>(std::stoul(time));
        const std::uint32_t ms = item.atMs;
        if (item.action == "press") {
            events.push_back({ms, true});
        } else if (item.action == "release") {
            events.push_back({ms, false});
        } else if (item.action == "tap") {
            AppendTap(events, ms, tapMs);
        } else if (item.action == "bounce") {
            const std::string &step = item.argument;
            if (item.hasArgument && (!AllDigits(step, 5) || std::stoul(step) == 0 || std::stoul(step) > MaxStepMs)) {
                error = "'" + item.text + "': the bounce step is 1 to " + std::to_string(MaxStepMs) + " ms";
                return false;
            }
            AppendTap(events, ms, tapMs, DefaultBounces,
                      item.hasArgument ? static_cast<std::uint32_t>(std::stoul(step)) : DefaultBounceMs);
        } else if (extra && std::find(extra->names.begin(), extra->names.end(), item.action) != extra->names.end()) {
            error = extra->take(item);
            if (!error.empty())
                return false;
        } else {
            std::string actions = "press, release, tap";
            const std::size_t extras = extra ? extra->names.size() : 0;
            for (std::size_t i = 0; i <= extras; ++i)
                actions += (i == extras ? " or " : ", ") + (i == 0 ? std::string("bounce") : extra->names[i - 1]);
            error = "'" + item.text + "': the action is " + actions;
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
        SetCts(uart, events_[next_].down);
    return played;
}

} // namespace sim
