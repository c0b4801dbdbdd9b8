#include "ttydev/Script.h"

#include <algorithm>
#include <random>

#include "commio/PortMap.h"

namespace ttydev {

unsigned ComNumber(const std::string &name)
{
    // The name is also its link in the prefix: no \\.\ path.
    return name.find('\\') == std::string::npos ? commio::ComNumber(name) : 0;
}

bool ParseDeviceScript(const std::string &text, DeviceScript &script, std::string &error)
{
    script.plugs.clear();
    sim::ExtraActions extra;
    extra.names = {"unplug", "replug"};
    extra.take = [&script](const sim::ScriptItem &item) -> std::string {
        const bool replug = item.action == "replug";
        if (item.hasArgument && (!replug || !ComNumber(item.argument)))
            return "'" + item.text + "': " +
                   (replug ? "replug@MS/NAME takes a COM name, COM1 to COM256" : "unplug takes no name");
        script.plugs.push_back({item.atMs, replug, item.argument});
        return "";
    };
    if (!sim::ParseKeyScript(text, script.key, error, sim::DefaultTapMs, &extra))
        return false;
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
