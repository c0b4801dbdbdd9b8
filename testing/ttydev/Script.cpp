#include "ttydev/Script.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
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

// A pulse's length as its word writes it: "1.5", "0.025", "3".
std::string PulseText(std::uint32_t us)
{
    std::string text = std::to_string(us / 1000);
    if (const std::uint32_t part = us % 1000) {
        std::string digits = std::to_string(1000 + part).substr(1);
        digits.erase(digits.find_last_not_of('0') + 1);
        text += "." + digits;
    }
    return text;
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
        const std::int64_t atNs = originNs + static_cast<std::int64_t>(event.atMs) * 1000000;
        changes.push_back(Change{atNs, down ? 1u : 0u, 0, atNs});
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

std::string LinesOf(const RandomPlan &plan, ActivityLines &lines)
{
    lines = ActivityLines{};
    std::uint32_t taken = plan.keyLine;
    // The first of `choices` that neither the key nor another kind has.
    const auto take = [&taken](std::initializer_list<std::uint32_t> choices) {
        for (const std::uint32_t line : choices)
            if (!(taken & line)) {
                taken |= line;
                return line;
            }
        return 0u;
    };
    if (plan.activity & ActivityDsrFollowsDtr) {
        if (!take({LineDsr}))
            return "dsr-follows-dtr: the key is wired to DSR (--line), which can't follow DTR too";
    }
    if ((plan.activity & ActivityRing) && !(lines.ring = take({LineRi})))
        return "ring: the key is wired to RI (--line)";
    if ((plan.activity & ActivityFlap) && !(lines.flap = take({LineDcd, LineDsr})))
        return "flap: the key is wired to DCD (--line) and DSR follows DTR";
    if ((plan.activity & ActivityPulses) && !(lines.pulses = take({LineDsr, LineDcd, LineRi})))
        return "pulses: DSR, DCD and RI are all taken, by the key and the other kinds";
    return "";
}

bool ParseActivity(const std::string &text, std::uint32_t &activity)
{
    activity = 0;
    if (text == "none" || text.empty())
        return true;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find(',', at), text.size());
        const std::string name = text.substr(at, end - at);
        const std::uint32_t kind = name == "pulses"            ? ActivityPulses
                                   : name == "dsr-follows-dtr" ? ActivityDsrFollowsDtr
                                   : name == "ring"            ? ActivityRing
                                   : name == "flap"            ? ActivityFlap
                                                               : std::uint32_t{0};
        if (!kind)
            return false;
        activity |= kind;
        at = end + 1;
    }
    return true;
}

namespace {

// A word of a script at a time, for putting them in time order.
struct Word {
    std::uint64_t atUs;
    std::string text;
};

// mt19937's numbers are the same everywhere; the standard's distributions
// are not, so the ranges are cut here.
class Draw {
public:
    explicit Draw(std::uint32_t seed) : random_(seed) {}
    std::uint32_t Between(std::uint32_t low, std::uint32_t high)
    {
        return low + static_cast<std::uint32_t>(random_() % (high - low + 1));
    }

private:
    std::mt19937 random_;
};

// Each kind of activity's own stream: the same words whatever else the plan has.
Draw StreamOf(const RandomPlan &plan, Activity kind) { return Draw(plan.seed ^ (0x9E3779B9u * kind)); }

std::string Name(std::uint32_t line) { return Lower(LineName(line)); }

// A pulse falling 0 to MaxPulseLeadUs before each key edge, starting on a
// whole millisecond, none touching the one before.
void AddPulses(const RandomPlan &plan, std::uint32_t line, const std::vector<std::uint64_t> &edgesUs,
               std::vector<Word> &words)
{
    Draw draw = StreamOf(plan, ActivityPulses);
    std::uint64_t free = 0; // the first time the next pulse may start
    for (const std::uint64_t edge : edgesUs) {
        const std::uint32_t length = draw.Between(MinPulseUs, MaxPulseUs);
        // Starts S ms with edge - lead - length <= 1000 S <= edge - length.
        const std::uint64_t earliest = edge >= MaxPulseLeadUs + length ? edge - MaxPulseLeadUs - length : 0;
        const std::uint64_t low = std::max((earliest + 999) / 1000, (free + 999) / 1000);
        const std::uint64_t high = edge >= length ? (edge - length) / 1000 : 0;
        const std::uint32_t pick = draw.Between(0, 999999); // drawn either way: one draw per edge
        if (edge < length || low > high)
            continue;
        const std::uint64_t start = low + pick % (high - low + 1);
        words.push_back({start * 1000, Name(line) + "-pulse@" + std::to_string(start) + "/" + PulseText(length)});
        free = start * 1000 + length + 500;
    }
}

// Rings from about the start to `untilMs`: each a burst at 20 Hz.
void AddRings(const RandomPlan &plan, std::uint32_t line, std::uint32_t untilMs, std::vector<Word> &words)
{
    Draw draw = StreamOf(plan, ActivityRing);
    for (std::uint32_t at = draw.Between(0, 2000); at < untilMs;) {
        const std::uint32_t end = at + draw.Between(800, 2000);
        for (; at < end; at += 50)
            words.push_back({at * 1000ull, Name(line) + "-pulse@" + std::to_string(at) + "/25"});
        at = end + draw.Between(2000, 4000);
    }
}

// Bursts of changes from about the start to `untilMs`.
void AddFlaps(const RandomPlan &plan, std::uint32_t line, std::uint32_t untilMs, std::vector<Word> &words)
{
    Draw draw = StreamOf(plan, ActivityFlap);
    bool on = false;
    for (std::uint32_t at = draw.Between(0, 600); at < untilMs;) {
        for (std::uint32_t n = draw.Between(2, 12); n > 0; --n) {
            on = !on;
            words.push_back({at * 1000ull, Name(line) + (on ? "-on@" : "-off@") + std::to_string(at)});
            at += draw.Between(1, 20);
        }
        at += draw.Between(100, 600);
    }
}

} // namespace

std::string RandomScript(const RandomPlan &plan)
{
    Draw draw(plan.seed);
    const std::uint32_t poll = plan.pollMs;
    const std::uint32_t every = plan.removals ? std::max(1u, plan.presses / (plan.removals + 1)) : 0;
    std::uint32_t removed = 0;
    std::uint32_t at = plan.startMs;
    std::vector<Word> words;
    std::vector<std::uint64_t> edgesUs;
    for (std::uint32_t i = 0; i < plan.presses; ++i) {
        if (every && i > 0 && i % every == 0 && removed < plan.removals) {
            const std::uint32_t unplug = at + 3 * poll, replug = unplug + UnpluggedMs;
            words.push_back({unplug * 1000ull, "unplug@" + std::to_string(unplug)});
            words.push_back({replug * 1000ull, "replug@" + std::to_string(replug)});
            at = replug + 600 + 3 * poll; // the io.dll retries every 500 ms
            ++removed;
        } else if (i > 0) {
            at += draw.Between(0, 6) == 0 ? draw.Between(1, 2 * poll) : draw.Between(5 * poll / 2, 4 * poll);
        }
        const std::uint32_t length = draw.Between(MinPressMs, MaxPressMs);
        words.push_back({at * 1000ull, "press@" + std::to_string(at)});
        words.push_back({(at + length) * 1000ull, "release@" + std::to_string(at + length)});
        edgesUs.push_back(at * 1000ull);
        edgesUs.push_back((at + length) * 1000ull);
        at += length;
    }

    ActivityLines lines;
    if (LinesOf(plan, lines).empty()) {
        if (lines.pulses)
            AddPulses(plan, lines.pulses, edgesUs, words);
        if (lines.ring)
            AddRings(plan, lines.ring, at, words);
        if (lines.flap)
            AddFlaps(plan, lines.flap, at, words);
    }
    std::stable_sort(words.begin(), words.end(), [](const Word &a, const Word &b) { return a.atUs < b.atUs; });
    std::string text;
    for (const Word &word : words)
        text += (text.empty() ? "" : " ") + word.text;
    return text;
}

} // namespace ttydev
