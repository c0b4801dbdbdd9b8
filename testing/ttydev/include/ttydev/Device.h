// The scripted modem-line device's driver: how it answers the modem ioctls
// of its tty, over the shared state (SharedState.h). The preloaded library
// passes each ioctl here; host tests drive it directly.
//
// Wine serves the serial API with these ioctls: GetCommModemStatus and
// every EscapeCommFunction read the lines (TIOCMGET), EscapeCommFunction
// then sets them (TIOCMSET); a pending WaitCommEvent is a thread of Wine's
// own that reads the interrupt counts (TIOCGICOUNT), then the lines, about
// every millisecond, and completes the wait when a line reads otherwise
// than when the wait began. The device answers:
//
// - Status reads: every input line as the script has set it (the key on
//   the line it is wired to, the others by their own words), DTR and RTS
//   as the program set them, and, with DsrFollowsDtr, DSR as DTR is.
//   A UART interrupts at every change of a modem line, so its driver
//   misses none; Wine's wait thread samples instead, and would miss a
//   change shorter than its period (over 3 ms with slow reads). So a wait
//   thread is told the input lines' changes since its wait began one per
//   read, in time order, whichever line made them (the script's and DSR's
//   following DTR alike), as the interrupts would have told a driver, and
//   the current lines once it has been told them all; program threads read
//   the current lines. What changed before the wait began is not told
//   (Wine's wait compares with the lines as they were when it began, and
//   keeps no history between waits).
// - stale: a program thread's read answers the input lines as a wait
//   thread last read them; a wait thread's read that differs from them is
//   the one that completes its wait, so that is the last completed wait.
// - cdc: the CTS bit is never set, nor counted.
// - slow: each status read takes SlowReadNs (the preloaded library waits;
//   ReadDelayNs says how long).
// - Counts: each input line's changes since the plug-in, in its field (RI
//   at its trailing edges only, as a 16550 counts it).
// - Removal: from its plug-in's end on, every call on its tty fails with
//   EIO, as on a tty whose USB device was pulled out.
//
// Every call of a program thread is recorded with its time and thread,
// every call that sets the outputs too; a wait thread's are only counted.
#pragma once

#include <cstdint>

#include "ttydev/SharedState.h"

namespace ttydev {

// The modem ioctls the device answers.
enum class Request : std::uint8_t {
    StatusRead, // TIOCMGET
    LinesSet,   // TIOCMSET
    LinesRaise, // TIOCMBIS
    LinesLower, // TIOCMBIC
    CountsRead, // TIOCGICOUNT
};

// Who makes a call: a thread of the program's, the same starting a wait
// (the lines the wait will compare with), or one of Wine's wait threads.
enum class Caller : std::uint8_t { Program, WaitStart, Wait };

// Tells Wine's wait threads from the program's, one thread's calls at a
// time. A wait thread reads the counts, then the lines, and nothing else.
// The program thread that starts a wait reads the same pair, but has made
// other calls first (the open's GetCommState reads the lines alone, and
// every EscapeCommFunction sets them): a thread is the program's from its
// first call that a wait thread never makes.
class ThreadRole {
public:
    Caller Observe(Request request)
    {
        const bool pair = request == Request::StatusRead && afterCounts_;
        if (request == Request::CountsRead) {
            afterCounts_ = true;
        } else {
            program_ = program_ || !pair;
            afterCounts_ = false;
        }
        return !program_ ? Caller::Wait : pair ? Caller::WaitStart : Caller::Program;
    }

private:
    bool program_ = false;
    bool afterCounts_ = false;
};

// The input lines' changes counted per line, as TIOCGICOUNT's first four fields.
struct LineCounts {
    std::int32_t cts, dsr, rng, dcd;
};

class Device {
public:
    explicit Device(SharedState &state) : s_(state) {}

    // The plug-in whose tty has `rdev`, the newest first (a pty's number
    // comes back once its last holder has closed it); -1 for any other file.
    int PlugOf(std::uint64_t rdev) const;
    // Whether that plug-in has been pulled out by `nowNs`.
    bool Removed(int plug, std::int64_t nowNs) const;

    // The ioctls, once Note has recorded them: 0 or an errno.
    int ReadLines(int plug, Caller caller, std::int64_t nowNs, std::uint32_t &lines);
    int SetLines(int plug, Request request, std::uint32_t bits, std::int64_t nowNs, std::int32_t tid);
    int ReadCounts(int plug, std::int64_t nowNs, LineCounts &counts) const;
    void Note(int plug, Caller caller, Request request, std::int64_t nowNs, std::int32_t tid);

    // How long a status read takes before it is answered.
    std::int64_t ReadDelayNs() const;

    // How many of the script's changes are due by `nowNs`.
    std::uint32_t ChangesBy(std::int64_t nowNs) const;

private:
    // How many of DSR's changes following DTR are due by `nowNs`.
    std::uint32_t LoopsBy(std::int64_t nowNs) const;
    // The input lines `plug`'s driver shows once the first `changes` of the
    // script and the first `loops` of DSR's have been made.
    std::uint32_t InputsAfter(int plug, std::uint32_t changes, std::uint32_t loops) const;
    // A wait thread was shown the lines after the script's first `changes`
    // changes now: the key line's last change among them is known from
    // now, kept if it is the first time.
    void NoteShown(std::uint32_t changes, std::int64_t nowNs);

    SharedState &s_;
};

// Where a plug-in's driver stands in the changes it tells (Plug::told):
// how many of the script's and of DSR's following DTR, in one word.
struct Told {
    std::uint32_t changes, loops;
    static Told Of(std::uint32_t word) { return Told{word & 0xFFFF, word >> 16}; }
    std::uint32_t Word() const { return changes | loops << 16; }
};

// The controller's side: a fresh state, the device's plug-ins and the
// script's changes made visible to the preloaded library.
void Initialise(SharedState &state, Behaviour behaviour, std::uint32_t keyLine, std::uint32_t options = 0);
// A new plug-in of the device, present from `fromNs`: its index, or -1 when
// MaxPlugs have been made. Its driver has been told of no change before it.
int AddPlug(SharedState &state, std::uint64_t rdev, std::int64_t fromNs);
void SetPlugEnd(SharedState &state, int plug, std::int64_t untilNs);
// The script's changes of the input lines, in time order, each a change of
// one line's level (`line` and `inputs` set; the counts are worked out
// here); at most MaxChanges. Once only, before the first is due.
bool PublishChanges(SharedState &state, const InputChange *changes, std::uint32_t count);

} // namespace ttydev
