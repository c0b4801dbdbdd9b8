// What the comm-port io.dll knows of one device's key line between the
// host's reads, and what each read shows the host: the rule that shows
// each press once, whichever way the driver tells of changes.
//
// The host's key library sees levels only, one per poll, and reports a
// press where a poll sees the line set after one that saw it clear. So the
// tracker counts the key's changes the host has not yet been shown, and
// shows them one per read of the key bit: a press and release that both
// fell between two polls shows as the level inverted at the next read,
// and the true level at the one after. The count comes from two kinds of
// evidence:
//
// - Reads of the device's lines: a level that differs from the one read
//   before is a change (or three...).
// - The driver's comm events, which say only that the key's line changed
//   at least once since its wait began: a read that finds the level read
//   before, after such an event, means it changed and changed back.
//
// At each read of the key bit, what changed since the last one and what
// was still owed become what is owed: the level, and a change and change
// back beyond it where the press among them reaches the host in time. No
// more: a press beyond those would reach the host a poll late, after one
// it was shown as soon as it could be, and is one with it.
//
// An event may tell of a change a read has already counted, and then it is
// no second change. Drivers differ in the span an event covers:
// - Windows' own driver keeps the events that come while no wait is
//   pending and ends the next wait with them at once. CommIo starts the
//   wait again until one stays pending (collecting what it kept), so all
//   that came before that start is in the reads that follow, and the
//   pending wait tells only of changes after it began.
// - Wine's compares the lines with those at the wait's start and keeps
//   nothing: changes before the start are told by no event at all, and the
//   read after the start shows them.
// Under both, then, the pending wait tells of changes after it began, and
// a read after that start may already have shown one: it lay between the
// start and the read, or a refresh read found it before the driver told.
// Where the reads around the start differ, the change may lie before the
// start (Wine: never told) or after it (told): no driver's answer can tell
// the two apart. So such a wait is marked (`retell`): its event is taken as
// the change the reads saw, and CommIo starts the wait afresh at once
// (SetCommMask ends a pending wait, under every driver), so that the marked
// wait ends within the driver's own period and the next starts from lines
// the reads know. What a marked wait would tell beyond that change fell
// within the driver's period after the read that saw it: changes the host
// could not have been shown apart anyway.
//
// Plain data and arithmetic: no calls, no allocation.
#pragma once

#include <cstdint>

namespace commio {

class KeyLineTracker {
public:
    // Where a read of the lines stands to the driver's wait.
    enum class Read : std::uint8_t {
        Settling,     // a wait has ended; the next is not yet started
        Armed,        // the first read after the next wait started
        WhileWaiting, // a wait is pending (a refresh, another line asked for)
        Ending,       // a wait has ended, not yet given back: it told of what this read shows
        Unwatched,    // the driver has no events: every read is all there is
    };

    // A new open of the device: nothing is known until the first read
    // after its wait has started (changes before it are no press).
    void Start(std::uint8_t keyLine)
    {
        *this = KeyLineTracker{};
        key_ = keyLine;
    }
    // The driver's wait ended and was collected: whether it told of the
    // key. A wait that ended at once as it started (a driver that kept
    // events while none was pending) tells of changes around the read
    // before its start, which that read and the next one show: pass false.
    void WaitEnded(bool keyTold);
    // A read of the device's input lines (the modem status bits). True:
    // the pending wait may tell of a change this read counted, and is to be
    // started afresh.
    bool Saw(std::uint8_t lines, Read read);
    // The lines to show the host. `keyRead`: the host reads the key bit,
    // which shows (and uses up) an edge owed and becomes what it last saw;
    // reads of the other bits leave both as they are. Nothing owed or
    // counted (a quiet poll): the lines as read.
    std::uint8_t Show(bool keyRead)
    {
        if (__builtin_expect((owed_ | counted_) == 0, 1) || !keyRead)
            return lines_;
        return ShowChanges();
    }

    bool Known() const { return known_; }
    // Presses and releases shown as edges, and key changes that a read
    // found before the driver told of them, since the open.
    std::uint32_t EdgesShown() const { return edgesShown_; }
    std::uint32_t FoundBeforeTold() const { return foundBeforeTold_; }

    // For the tables: the state the rule keeps.
    std::uint8_t Owed() const { return owed_; }
    std::uint8_t Counted() const { return counted_; }
    bool Told() const { return told_; }
    bool Retell() const { return retell_; }
    bool Shown() const { return shown_; }

private:
    std::uint8_t ShowChanges();
    bool KeyOf(std::uint8_t lines) const { return (lines & key_) != 0; }

    std::uint8_t key_ = 0;      // the key's line, a modem status bit
    bool known_ = false;        // a read after the wait's start has set the baseline
    std::uint8_t lines_ = 0;    // as last read
    bool shown_ = false;        // the key as the host last saw it
    std::uint8_t owed_ = 0;     // changes not yet shown: the level's, and at most a pair more
    std::uint8_t counted_ = 0;  // changes counted since the host's last read (at most 3)
    bool told_ = false;         // an event since the last read: at least one change
    bool settled_ = false;      // the key at the read before the wait's start
    bool armedKey_ = false;     // the key when the pending wait started, where known
    bool retell_ = false;       // the pending wait may tell of a change the reads counted
    std::uint32_t edgesShown_ = 0, foundBeforeTold_ = 0;
};

} // namespace commio
