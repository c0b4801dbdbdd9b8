#include "ttydev/Oracle.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace ttydev {

namespace {

constexpr std::int64_t Never = std::numeric_limits<std::int64_t>::max();
constexpr std::size_t MaxProblems = 12;

// The first poll that ends after `t`, and the first that begins after it.
std::size_t FirstEndingAfter(const std::vector<Poll> &polls, std::int64_t t)
{
    return static_cast<std::size_t>(
        std::upper_bound(polls.begin(), polls.end(), t, [](std::int64_t v, const Poll &p) { return v < p.endNs; }) -
        polls.begin());
}
std::size_t FirstBeginningAfter(const std::vector<Poll> &polls, std::int64_t t)
{
    return static_cast<std::size_t>(
        std::upper_bound(polls.begin(), polls.end(), t, [](std::int64_t v, const Poll &p) { return v < p.startNs; }) -
        polls.begin());
}

bool DtrAt(const std::vector<Set> &sets, std::int64_t t)
{
    const auto after = std::upper_bound(sets.begin(), sets.end(), t,
                                        [](std::int64_t v, const Set &s) { return v < s.atNs; });
    return after != sets.begin() && ((after - 1)->outputs & LineDtr) != 0;
}

bool InOutage(const std::vector<Outage> &outages, std::int64_t t)
{
    return std::any_of(outages.begin(), outages.end(),
                       [t](const Outage &o) { return t >= o.fromNs && t < o.untilNs; });
}

void Note(Verdict &verdict, std::int64_t originNs, std::int64_t atNs, const std::string &what)
{
    if (verdict.problems.size() == MaxProblems)
        return;
    char line[200];
    std::snprintf(line, sizeof line, "+%.1f ms: %s", static_cast<double>(atNs - originNs) / 1e6, what.c_str());
    verdict.problems.push_back(line);
}

} // namespace

std::vector<Press> PressesOf(const std::vector<Change> &changes)
{
    std::vector<Press> presses;
    for (const Change &change : changes) {
        const std::int64_t known = change.toldNs ? change.toldNs : Unknown;
        if (change.down) {
            presses.push_back(Press{change.atNs, Never, known, Unknown});
        } else if (!presses.empty()) {
            presses.back().endNs = change.atNs;
            presses.back().releaseKnownNs = known;
        }
    }
    return presses;
}

std::vector<Press> PressesOf(const Record &record)
{
    std::vector<Change> changes = record.changes;
    if (record.behaviour != "stale") {
        // A change the program's first status read before the next change
        // saw, if that was before a wait thread was shown it.
        std::vector<std::int64_t> reads;
        for (const Call &call : record.calls)
            if (call.kind == static_cast<std::uint16_t>(CallKind::StatusRead))
                reads.push_back(call.atNs);
        for (std::size_t i = 0; i < changes.size(); ++i) {
            const auto read = std::lower_bound(reads.begin(), reads.end(), changes[i].atNs);
            const std::int64_t next = i + 1 < changes.size() ? changes[i + 1].atNs : Never;
            if (read != reads.end() && *read < next && (!changes[i].toldNs || *read < changes[i].toldNs))
                changes[i].toldNs = *read;
        }
    }
    return PressesOf(changes);
}

std::vector<Outage> OutagesOf(const Record &record, const std::vector<Poll> &polls)
{
    std::vector<Outage> outages;
    for (const PlugRecord &plug : record.plugs) {
        if (!plug.untilNs)
            continue;
        Outage outage{plug.untilNs, Never};
        for (const Set &set : record.sets) {
            if (set.plug != plug.index + 1)
                continue;
            const std::size_t poll = FirstEndingAfter(polls, set.atNs - 1);
            outage.untilNs = poll < polls.size() ? polls[poll].endNs : Never;
            break;
        }
        outages.push_back(outage);
    }
    return outages;
}

Verdict Judge(const std::vector<Press> &presses, const std::vector<Poll> &polls, const std::vector<Set> &sets,
              const std::vector<Outage> &outages, bool keySeen, std::int64_t originNs, Showing showing)
{
    Verdict verdict;
    verdict.presses = static_cast<std::uint32_t>(presses.size());
    const std::size_t n = polls.size();
    const std::size_t lag = std::max<std::size_t>(showing.lagPolls, 1);
    // When the io.dll could know of a press, and of the release before it.
    const auto known = [](std::int64_t at, std::int64_t knownNs) { return std::max(at, knownNs); };
    std::vector<std::size_t> first(presses.size()), last(presses.size());
    for (std::size_t i = 0; i < presses.size(); ++i) {
        first[i] = FirstEndingAfter(polls, presses[i].startNs);
        last[i] = FirstBeginningAfter(polls, known(presses[i].startNs, presses[i].knownNs)) + lag;
        if (i > 0 && presses[i - 1].endNs != Never)
            last[i] = std::max(last[i], FirstBeginningAfter(polls, known(presses[i - 1].endNs,
                                                                           presses[i - 1].releaseKnownNs)) +
                                            lag);
    }

    // Reports to presses, each to the earliest open window that holds it.
    std::vector<std::ptrdiff_t> reportedAt(presses.size(), -1);
    std::size_t open = 0; // presses before it have windows that closed
    for (std::size_t r = 0; r < n; ++r) {
        if (!polls[r].answer)
            continue;
        while (open < presses.size() && last[open] < r)
            ++open;
        std::size_t match = presses.size();
        if (keySeen)
            for (std::size_t i = open; i < presses.size() && first[i] <= r; ++i)
                if (reportedAt[i] < 0 && r <= last[i]) {
                    match = i;
                    break;
                }
        if (match == presses.size()) {
            ++verdict.invented;
            Note(verdict, originNs, polls[r].startNs, keySeen ? "a press reported that no press explains"
                                                                : "a press reported on a line the device never reports");
            continue;
        }
        reportedAt[match] = static_cast<std::ptrdiff_t>(r);
        ++verdict.reported;
        verdict.latenciesMs.push_back(static_cast<double>(polls[r].endNs - presses[match].startNs) / 1e6);
    }

    for (std::size_t i = 0; i < presses.size(); ++i) {
        if (reportedAt[i] >= 0 || !keySeen)
            continue;
        if (last[i] >= n) {
            ++verdict.unjudged;
            Note(verdict, originNs, presses[i].startNs, "a press due after the last poll");
            continue;
        }
        if (presses[i].knownNs == Unknown) {
            ++verdict.unseen; // no event told of it, and no read saw it
            continue;
        }
        if (!showing.seesShortPresses &&
            FirstBeginningAfter(polls, presses[i].endNs - 1) - FirstBeginningAfter(polls, presses[i].startNs - 1) < lag) {
            ++verdict.unseen; // spans too few polls for a read every `lag` of them
            continue;
        }
        bool close = false;
        if (i > 0) {
            const std::size_t shown = reportedAt[i - 1] >= 0 ? static_cast<std::size_t>(reportedAt[i - 1]) : last[i - 1];
            const std::size_t released =
                presses[i - 1].endNs == Never
                    ? n
                    : FirstBeginningAfter(polls, known(presses[i - 1].endNs, presses[i - 1].releaseKnownNs)) + lag - 1;
            const std::size_t q = std::max(shown, released) + 1;
            close = q >= n || presses[i].startNs < polls[q].endNs;
        }
        if (close) {
            ++verdict.merged;
        } else {
            ++verdict.lost;
            char what[120];
            std::snprintf(what, sizeof what, "a press of %.1f ms not reported",
                          static_cast<double>(presses[i].endNs - presses[i].startNs) / 1e6);
            Note(verdict, originNs, presses[i].startNs, what);
        }
    }

    for (std::size_t k = 0; k < n; ++k) {
        if (InOutage(outages, polls[k].startNs))
            continue;
        const bool expected = k > 0 && polls[k - 1].toggled;
        if (DtrAt(sets, polls[k].startNs) != expected) {
            ++verdict.dtrMismatches;
            Note(verdict, originNs, polls[k].startNs,
                 std::string("DTR ") + (expected ? "off" : "on") + " where the host had set it " +
                     (expected ? "on" : "off"));
        }
    }
    return verdict;
}

QuietCalls CountQuietCalls(const Record &record, const std::vector<Poll> &polls, std::int64_t fromNs)
{
    QuietCalls quiet;
    if (polls.empty())
        return quiet;
    const std::int64_t untilNs = polls.back().endNs;
    for (const Poll &poll : polls)
        quiet.polls += poll.startNs >= fromNs ? 1 : 0;
    for (const Call &call : record.calls) {
        if (call.atNs < fromNs || call.atNs > untilNs)
            continue;
        ++quiet.calls;
        if (call.kind < 5)
            ++quiet.byKind[call.kind];
    }
    return quiet;
}

} // namespace ttydev
