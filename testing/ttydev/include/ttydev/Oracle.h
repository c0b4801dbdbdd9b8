// Judges a host's polls against the script that worked the key, from the
// script and the poll times alone (never from what the io.dll says).
//
// The key library reports a press at the poll that first reads the key
// closed after a poll that read it open, and the io.dll shows one change
// per poll. So a press is due at the first poll that can have read the
// line after it began (the first to end after it), or at the one after the
// first to begin after it (the driver may not have told of it in time):
// its window. Reports are matched to presses in order, each to the
// earliest press whose window holds it and that no other report has taken.
//
// A press without a report is merged when it began before the library can
// have shown the previous press's release: before the end of the poll
// after both the poll that reported (or was the last due to report) the
// previous press and the first poll to begin after it ended. Else it is
// lost. A report no press's window holds is invented.
//
// The host sets its output line at each reported press: DTR, as the device
// recorded it, must be at each poll's start what the host had set after the
// poll before (off at the first), except from an unplug until the end of
// the poll that set the lines of the device plugged in again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ttydev/Records.h"

namespace ttydev {

// A press, and when the io.dll could first know of it and of its release:
// when the driver told of the change, or a read of the lines (where reads
// show the lines now) saw it; Unknown where neither did, 0 at the change
// itself (a driver that tells at once). The driver may be
// late: Wine's wait thread, held up on a busy machine, tells of the first
// change after it resumes, and the changes that came meanwhile are told
// by no event once a new wait begins.
constexpr std::int64_t Unknown = -1;
struct Press {
    std::int64_t startNs, endNs;
    std::int64_t knownNs = 0, releaseKnownNs = 0;
};
// The presses the changes make (a last press still held ends never), each
// known when its change was told (Change::toldNs, 0 for never).
std::vector<Press> PressesOf(const std::vector<Change> &changes);
// The presses of a run: known when a wait thread was told, or else when a
// status read of the program's saw the change, where reads show the lines
// now (every behaviour but stale).
std::vector<Press> PressesOf(const Record &record);

// Spans in which the DTR check is off: a device pulled out, until its
// successor's lines are set again.
struct Outage {
    std::int64_t fromNs, untilNs;
};
std::vector<Outage> OutagesOf(const Record &record, const std::vector<Poll> &polls);

// How soon the driver lets the io.dll show a change. A driver with comm
// events tells of every change: a press is due by the poll after the first
// to begin after it was known (`lagPolls` 1), and after the previous
// press's release was (one change per poll). One that tells nothing is
// read every so many polls (`lagPolls` that many): a press is due within
// that many polls of the first to begin after it, and only one that spans
// that many poll starts is sure to be seen (`seesShortPresses` false); a
// shorter one may be reported, or be unseen without being lost. A press
// the io.dll could never know of (Press::knownNs Unknown) is unseen unless
// reported.
struct Showing {
    std::uint32_t lagPolls = 1;
    bool seesShortPresses = true;
};

struct Verdict {
    std::uint32_t presses = 0, reported = 0, merged = 0, lost = 0, invented = 0;
    std::uint32_t unseen = 0;        // never told, or too short for a driver that tells nothing
    std::uint32_t unjudged = 0;      // due after the last poll
    std::uint32_t dtrMismatches = 0; // polls whose DTR was not what the host set
    std::vector<double> latenciesMs; // press to the end of the poll reporting it
    std::vector<std::string> problems; // the first few, in words
    bool Passed() const { return lost == 0 && invented == 0 && unjudged == 0 && dtrMismatches == 0; }
};

// `keySeen` false: the device never reports the key's line (CTS behind a
// CDC-class adapter): every report is invented, and no press is lost.
Verdict Judge(const std::vector<Press> &presses, const std::vector<Poll> &polls, const std::vector<Set> &sets,
              const std::vector<Outage> &outages, bool keySeen, std::int64_t originNs = 0, Showing showing = {});

// The program threads' device calls from `fromNs` to the last poll, and
// the polls begun in that span: a quiet host's cost at the device.
struct QuietCalls {
    std::uint32_t polls = 0, calls = 0;
    std::uint32_t byKind[5] = {}; // by CallKind
};
QuietCalls CountQuietCalls(const Record &record, const std::vector<Poll> &polls, std::int64_t fromNs);

} // namespace ttydev
