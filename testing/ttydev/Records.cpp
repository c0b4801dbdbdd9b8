#include "ttydev/Records.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "ttydev/Options.h"

namespace ttydev {

namespace {

// Reads the words of `line` after its first into `values`; true when they
// are exactly that many and all read.
template <typename... T> bool Fields(std::istringstream &line, T &...values)
{
    (line >> ... >> values);
    std::string rest;
    return !line.fail() && !(line >> rest);
}

std::string Where(const std::string &path, unsigned number) { return path + " line " + std::to_string(number); }

} // namespace

Record Collect(const SharedState &state, std::int64_t originNs, const std::vector<PlugRecord> &plugs)
{
    Record record;
    const std::uint32_t keyLine = state.keyLine;
    record.behaviour = BehaviourName(static_cast<Behaviour>(state.behaviour));
    record.keyLine = LineName(keyLine);
    record.dsrFollowsDtr = (state.options & DsrFollowsDtr) != 0;
    record.originNs = originNs;
    // The key's changes apart, for the oracle; the other lines' beside
    // them, the script's and DSR's following DTR in time order.
    for (std::uint32_t i = 0, count = Acquire(state.changeCount); i < count; ++i) {
        const InputChange &change = state.changes[i];
        const bool on = (change.inputs & change.line) != 0;
        if (change.line == keyLine)
            record.changes.push_back(Change{change.atNs, on ? 1u : 0u, 0, state.toldNs[i]});
        else
            record.others.push_back(OtherChange{change.atNs, change.line, on, false});
    }
    for (std::uint32_t i = 0, count = Acquire(state.loopCount); i < count; ++i)
        record.others.push_back(OtherChange{state.loops[i].atNs, LineDsr, state.loops[i].dsr != 0, true});
    std::stable_sort(record.others.begin(), record.others.end(),
                     [](const OtherChange &a, const OtherChange &b) { return a.atNs < b.atNs; });
    record.plugs = plugs;
    const std::uint32_t sets = Acquire(state.setCount), calls = Acquire(state.callCount);
    record.sets.assign(state.sets, state.sets + std::min(sets, MaxSets));
    record.calls.assign(state.calls, state.calls + std::min(calls, MaxCalls));
    std::sort(record.sets.begin(), record.sets.end(), [](const Set &a, const Set &b) { return a.atNs < b.atNs; });
    std::sort(record.calls.begin(), record.calls.end(), [](const Call &a, const Call &b) { return a.atNs < b.atNs; });
    record.droppedSets = sets - record.sets.size();
    record.droppedCalls = calls - record.calls.size();
    record.droppedLoops = Acquire(state.loopsDropped);
    record.waitCalls = Acquire(state.waitCalls);
    return record;
}

bool WriteRecord(const std::string &path, const Record &record, std::string &error)
{
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        error = "can't write " + path;
        return false;
    }
    std::fprintf(file, "device %s %s %d\norigin %" PRId64 "\n", record.behaviour.c_str(), record.keyLine.c_str(),
                 record.dsrFollowsDtr ? 1 : 0, record.originNs);
    for (const Change &change : record.changes)
        std::fprintf(file, "change %" PRId64 " %u %" PRId64 "\n", change.atNs, change.down, change.toldNs);
    for (const OtherChange &other : record.others)
        std::fprintf(file, "input %" PRId64 " %s %d %s\n", other.atNs, LineName(other.line), other.on ? 1 : 0,
                     other.byDtr ? "dtr" : "script");
    for (const PlugRecord &plug : record.plugs) {
        std::fprintf(file, "plug %d %" PRId64 " %s\n", plug.index, plug.fromNs, plug.port.c_str());
        if (plug.untilNs)
            std::fprintf(file, "unplug %d %" PRId64 "\n", plug.index, plug.untilNs);
    }
    for (const Set &set : record.sets)
        std::fprintf(file, "set %" PRId64 " %u %d %u\n", set.atNs, set.plug, set.tid, set.outputs);
    for (const Call &call : record.calls)
        std::fprintf(file, "call %" PRId64 " %u %d %u\n", call.atNs, call.plug, call.tid, call.kind);
    std::fprintf(file, "waitcalls %" PRIu64 "\ndropped %" PRIu64 " %" PRIu64 " %" PRIu64 "\n", record.waitCalls,
                 record.droppedSets, record.droppedCalls, record.droppedLoops);
    if (std::fclose(file) != 0) {
        error = "can't write " + path;
        return false;
    }
    return true;
}

bool ReadRecord(const std::string &path, Record &record, std::string &error)
{
    std::ifstream file(path);
    if (!file) {
        error = "can't read " + path;
        return false;
    }
    record = Record{};
    std::string text;
    for (unsigned number = 1; std::getline(file, text); ++number) {
        std::istringstream line(text);
        std::string word;
        line >> word;
        bool ok = true;
        if (word == "device") {
            int loop = 0;
            std::uint32_t keyLine = 0;
            ok = Fields(line, record.behaviour, record.keyLine, loop) && (loop == 0 || loop == 1) &&
                 TakeLine(record.keyLine, keyLine);
            record.dsrFollowsDtr = loop == 1;
        } else if (word == "origin") {
            ok = Fields(line, record.originNs);
        } else if (word == "change") {
            Change change{};
            ok = Fields(line, change.atNs, change.down, change.toldNs) && change.down <= 1;
            record.changes.push_back(change);
        } else if (word == "input") {
            OtherChange other;
            std::string name, source;
            int on = 0;
            ok = Fields(line, other.atNs, name, on, source) && TakeLine(name, other.line) && (on == 0 || on == 1) &&
                 (source == "script" || (source == "dtr" && other.line == LineDsr));
            other.on = on == 1;
            other.byDtr = source == "dtr";
            record.others.push_back(other);
        } else if (word == "plug") {
            PlugRecord plug;
            ok = Fields(line, plug.index, plug.fromNs, plug.port) &&
                 plug.index == static_cast<int>(record.plugs.size());
            record.plugs.push_back(plug);
        } else if (word == "unplug") {
            int index = -1;
            std::int64_t at = 0;
            ok = Fields(line, index, at) && index >= 0 && index < static_cast<int>(record.plugs.size());
            if (ok)
                record.plugs[static_cast<std::size_t>(index)].untilNs = at;
        } else if (word == "set" || word == "call") {
            std::int64_t at = 0;
            unsigned plug = 0, value = 0;
            std::int32_t tid = 0;
            ok = Fields(line, at, plug, tid, value) && plug < MaxPlugs && value <= 0xFFFF;
            const auto plug16 = static_cast<std::uint16_t>(plug), value16 = static_cast<std::uint16_t>(value);
            if (word == "set")
                record.sets.push_back(Set{at, tid, plug16, value16});
            else
                record.calls.push_back(Call{at, tid, plug16, value16});
        } else if (word == "waitcalls") {
            ok = Fields(line, record.waitCalls);
        } else if (word == "dropped") {
            ok = Fields(line, record.droppedSets, record.droppedCalls, record.droppedLoops);
        } else {
            ok = word.empty();
        }
        if (!ok) {
            error = Where(path, number) + ": can't read '" + text + "'";
            return false;
        }
    }
    return true;
}

bool ReadPolls(const std::string &path, std::vector<Poll> &polls, std::string &error)
{
    std::ifstream file(path);
    if (!file) {
        error = "can't read " + path;
        return false;
    }
    polls.clear();
    std::string text;
    for (unsigned number = 1; std::getline(file, text); ++number) {
        std::istringstream line(text);
        std::string word;
        line >> word;
        if (word != "poll")
            continue;
        Poll poll;
        int answer = 0, toggled = 0;
        if (!Fields(line, poll.startNs, poll.endNs, answer, toggled) || poll.endNs < poll.startNs ||
            (!polls.empty() && poll.startNs < polls.back().endNs) || answer < 0 || answer > 1 || toggled < 0 ||
            toggled > 1) {
            error = Where(path, number) + ": can't read '" + text + "'";
            return false;
        }
        poll.answer = answer == 1;
        poll.toggled = toggled == 1;
        polls.push_back(poll);
    }
    return true;
}

} // namespace ttydev
