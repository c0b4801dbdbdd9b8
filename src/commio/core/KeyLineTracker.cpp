#include "commio/KeyLineTracker.h"

namespace commio {

void KeyLineTracker::WaitEnded(bool keyTold)
{
    // A wait that ended before the baseline was set told of changes before
    // the first read: no press. A marked one told of what the reads saw.
    if (known_ && keyTold && !retell_)
        told_ = true;
    retell_ = false;
}

bool KeyLineTracker::Saw(std::uint8_t lines, Read read)
{
    const bool key = KeyOf(lines);
    const bool before = KeyOf(lines_);
    lines_ = lines;
    if (read == Read::Settling)
        settled_ = key;
    if (!known_) {
        if (read == Read::Settling)
            return false;
        // The baseline: what the host will see first, and nothing owed.
        known_ = true;
        shown_ = armedKey_ = key;
        owed_ = counted_ = 0;
        told_ = false;
        retell_ = read == Read::Armed && settled_ != key; // changed around the start
        return retell_;
    }
    // A new level is a change; the same level after an event, two.
    counted_ = static_cast<std::uint8_t>(counted_ + (key != before ? 1 : told_ ? 2 : 0));
    if (counted_ > 3)
        counted_ = 3; // enough to know there was a pair
    told_ = false;
    switch (read) {
    case Read::Armed:
        armedKey_ = key;
        retell_ = settled_ != key;
        return retell_;
    case Read::WhileWaiting:
        if (key == armedKey_ || retell_)
            return false;
        ++foundBeforeTold_;
        retell_ = true;
        return true;
    case Read::Ending:
        retell_ = retell_ || key != armedKey_;
        break;
    case Read::Settling:
    case Read::Unwatched: break;
    }
    return false;
}

std::uint8_t KeyLineTracker::ShowChanges()
{
    if (counted_) {
        // What the host hasn't seen: the changes still owed and those
        // counted since. It is shown the level, and a change and change
        // back beyond it only where the press among them reaches the host
        // by its second read after the press began: where the level is
        // what the host saw (the press at this read, or a release now and
        // the press at the next), or where the key is up now (the level's
        // release now, the press next). A press beyond those would come a
        // read late, after one the host was shown in time, and is one
        // with it.
        const bool key = KeyOf(lines_);
        const unsigned unseen = owed_ + counted_;
        owed_ = key == shown_ ? (unseen >= 2 ? 2 : 0) : key || unseen < 3 ? 1 : 3;
        counted_ = 0;
    }
    if (owed_ == 0)
        return lines_;
    // One change at a time: where more are owed than the level differs by,
    // the host sees the key change and change back over its next reads.
    if (owed_ > 1 && KeyOf(lines_) == shown_)
        ++edgesShown_;
    --owed_;
    shown_ = !shown_;
    return static_cast<std::uint8_t>(shown_ ? lines_ | key_ : lines_ & ~key_);
}

} // namespace commio
