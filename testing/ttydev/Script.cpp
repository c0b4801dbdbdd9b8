#include "ttydev/Script.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <tuple>

#include "commio/PortMap.h"

namespace ttydev {

namespace {

constexpr std::uint32_t Lines[] = {LineCts, LineDsr, LineDcd, LineRi};
constexpr std::uint32_t LongestPulseUs = 60000000; // a minute, as the longest bounce step

std::string Lower(const char *text)
{
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// A pulse's length: milliseconds with up to three decimals, in microseconds.
bool ParsePulseUs(const std::string &text, std::uint64_t &us)
{
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point), part = point == std::string::npos ? "" : text.substr(point + 1);
    const auto digits = [](const std::string &t) {
        return std::all_of(t.begin(), t.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    };
    if ((whole.empty() && part.empty()) || whole.size() > 5 || part.size() > 3 || !digits(whole) || !digits(part) ||
        (point != std::string::npos && part.empty()))
        return false;
    const std::string thousandths = part + std::string(3 - part.size(), '0');
    us = (whole.empty() ? 0 : std::stoull(whole)) * 1000 + std::stoull(thousandths);
    return us > 0 && us <= LongestPulseUs;
}

} // namespace

const char *LineName(std::uint32_t line)
{
    return line == LineDsr ? "DSR" : line == LineDcd ? "DCD" : line == LineRi ? "RI" : "CTS";
}

unsigned ComNumber(const std::string &name)
{
    // The name is also its link in the prefix: no \\.\ path.
    return name.find('\\') == std::string::npos ? commio::ComNumber(name) : 0;
}

bool ParseDeviceScript(const std::string &text, DeviceScript &script, std::string &error)
{
    script.plugs.clear();
    script.lines.clear();
    sim::ExtraActions extra;
    extra.names = {"unplug", "replug"};
    for (const std::uint32_t line : Lines)
        for (const char *what : {"-on", "-off", "-pulse"})
            extra.names.push_back(Lower(LineName(line)) + what);
    extra.take = [&script](const sim::ScriptItem &item) -> std::string {
        const std::size_t dash = item.action.find('-');
        if (dash != std::string::npos) {
            const std::string name = item.action.substr(0, dash), what = item.action.substr(dash + 1);
            const std::uint32_t line = *std::find_if(std::begin(Lines), std::end(Lines), [&name](std::uint32_t l) {
                return Lower(LineName(l)) == name;
            });
            const std::uint64_t at = static_cast<std::uint64_t>(item.atMs) * 1000;
            std::uint64_t length = 1000;
            if (item.hasArgument && (what != "pulse" || !ParsePulseUs(item.argument, length)))
                return "'" + item.text + "': " +
                       (what == "pulse" ? "a pulse lasts 0.001 to 60000 ms, to the microsecond (" + name +
                                              "-pulse@MS/0.5)"
                                        : item.action + " takes no length");
            if (what == "pulse") {
                script.lines.push_back({at, line, true, item.text});
                script.lines.push_back({at + length, line, false, item.text});
            } else {
                script.lines.push_back({at, line, what == "on", item.text});
            }
            return "";
        }
        const bool replug = item.action == "replug";
        if (item.hasArgument && (!replug || !ComNumber(item.argument)))
            return "'" + item.text + "': " +
                   (replug ? "replug@MS/NAME takes a COM name, COM1 to COM256" : "unplug takes no name");
        script.plugs.push_back({item.atMs, replug, item.argument});
        return "";
    };
    if (!sim::ParseKeyScript(text, script.key, error, sim::DefaultTapMs, &extra))
        return false;
    std::stable_sort(script.lines.begin(), script.lines.end(),
                     [](const LineEvent &a, const LineEvent &b) { return a.atUs < b.atUs; });
    std::stable_sort(script.plugs.begin(), script.plugs.end(),
                     [](const PlugEvent &a, const PlugEvent &b) { return a.atMs < b.atMs; });
    for (std::size_t i = 0; i < script.plugs.size(); ++i) {
        const PlugEvent &event = script.plugs[i];
        if (event.plugged != (i % 2 == 1)) {
            error = std::string(event.plugged ? "replug" : "unplug") + "@" + std::to_string(event.atMs) +
                    (event.plugged ? ": the device is not unplugged then" : ": the device is unplugged already");
            return false;
        }
    }
    if (script.plugs.size() / 2 + 1 > MaxPlugs) {
        error = "at most " + std::to_string(MaxPlugs - 1) + " replugs";
        return false;
    }
    return true;
}

std::string CheckLines(const DeviceScript &script, std::uint32_t keyLine, bool dsrFollowsDtr)
{
    for (const LineEvent &event : script.lines) {
        if (event.line == keyLine)
            return "'" + event.word + "': " + LineName(keyLine) +
                   " is the key's line (--line); press, release, tap and bounce work it";
        if (event.line == LineDsr && dsrFollowsDtr)
            return "'" + event.word + "': DSR follows DTR (--dsr-follows-dtr); the program works it";
    }
    return "";
}

std::vector<Change> KeyChanges(const std::vector<sim::KeyEvent> &events, std::int64_t originNs)
{
    std::vector<Change> changes;
    bool down = false;
    for (const sim::KeyEvent &event : events) {
        if (event.down == down)
            continue;
        down = event.down;
        changes.push_back(Change{originNs + static_cast<std::int64_t>(event.atMs) * 1000000, down ? 1u : 0u, 0});
    }
    return changes;
}

std::vector<InputChange> InputChanges(const DeviceScript &script, std::uint32_t keyLine, std::int64_t originNs)
{
    // Every event as (time, the key's last at the same time, its order, line, on).
    std::vector<std::tuple<std::int64_t, int, std::size_t, std::uint32_t, bool>> events;
    for (const LineEvent &event : script.lines)
        events.emplace_back(originNs + static_cast<std::int64_t>(event.atUs) * 1000, 0, events.size(), event.line,
                            event.on);
    for (const sim::KeyEvent &event : script.key)
        events.emplace_back(originNs + static_cast<std::int64_t>(event.atMs) * 1000000, 1, events.size(), keyLine,
                            event.down);
    std::sort(events.begin(), events.end());
    std::vector<InputChange> changes;
    std::uint32_t inputs = 0;
    for (const auto &[atNs, order, index, line, on] : events) {
        const std::uint32_t after = on ? inputs | line : inputs & ~line;
        if (after == inputs)
            continue;
        inputs = after;
        changes.push_back(InputChange{atNs, line, inputs, {}});
    }
    return changes;
}

std::string RandomScript(const RandomPlan &plan)
{
    // mt19937's numbers are the same everywhere; the standard's
    // distributions are not, so the ranges are cut here.
    std::mt19937 random(plan.seed);
    const auto between = [&random](std::uint32_t low, std::uint32_t high) {
        return low + static_cast<std::uint32_t>(random() % (high - low + 1));
    };
    const std::uint32_t poll = plan.pollMs;
    const std::uint32_t every = plan.removals ? std::max(1u, plan.presses / (plan.removals + 1)) : 0;
    std::uint32_t removed = 0;
    std::uint32_t at = plan.startMs;
    std::string text;
    for (std::uint32_t i = 0; i < plan.presses; ++i) {
        if (every && i > 0 && i % every == 0 && removed < plan.removals) {
            const std::uint32_t unplug = at + 3 * poll, replug = unplug + UnpluggedMs;
            text += "unplug@" + std::to_string(unplug) + " replug@" + std::to_string(replug) + " ";
            at = replug + 600 + 3 * poll; // the io.dll retries every 500 ms
            ++removed;
        } else if (i > 0) {
            at += between(0, 6) == 0 ? between(1, 2 * poll) : between(5 * poll / 2, 4 * poll);
        }
        const std::uint32_t length = between(MinPressMs, MaxPressMs);
        text += "press@" + std::to_string(at) + " release@" + std::to_string(at + length) + " ";
        at += length;
    }
    if (!text.empty())
        text.pop_back();
    return text;
}

} // namespace ttydev
