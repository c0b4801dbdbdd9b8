// The scripted modem-line device's state, in a file that the controller
// and the library preloaded into each Wine process map together.
//
// The controller writes the input lines' changes (the key's and the other
// lines' the script works) and the device's plug-ins into it; the preloaded
// library answers the modem ioctls of the device's tty from it and records,
// into it, every output line the program sets, every change of DSR that
// follows DTR, and every call a program thread makes. Both the x86-64 and the i386 build of
// the library map the same bytes, so the layout is fixed: fixed-width
// fields only, each 64-bit one 8-aligned (i386 would align it to 4), no
// pointers; the static_asserts below pin it.
//
// Times are CLOCK_REALTIME in nanoseconds, the clock Wine's
// GetSystemTimePreciseAsFileTime reads, so that a Windows program's times
// and the device's lie on one axis.
//
// Publication: a 64-bit value is written before the 32-bit count or flag
// that makes it visible (a release store), and never changed afterwards,
// so that the i386 build never reads one half-written. Counters and cursors
// are 32-bit and changed by atomic operations only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ttydev {

constexpr std::uint32_t StateMagic = 0x5A545459; // "YTTZ"
constexpr std::uint32_t StateVersion = 3;

// How the device's driver answers (a run picks one).
enum class Behaviour : std::uint32_t {
    Uart,  // every status read is current
    Stale, // a read outside a completed wait answers the lines as of the last completed wait
    Cdc,   // CTS never reported (a CDC-class adapter's line-state notification has no CTS bit)
    Slow,  // each status read takes SlowReadNs (a USB round trip)
};
constexpr std::int64_t SlowReadNs = 2000000;

// The modem lines as TIOCMGET numbers them (<asm/termbits.h> on Linux).
constexpr std::uint32_t LineDtr = 0x002, LineRts = 0x004, LineCts = 0x020, LineDcd = 0x040, LineRi = 0x080,
                        LineDsr = 0x100;
constexpr std::uint32_t OutputLines = LineDtr | LineRts;
constexpr std::uint32_t InputLines = LineCts | LineDcd | LineRi | LineDsr;

// A wait thread's place in the input lines' changes is one 32-bit word
// (Plug::told), so that it moves by one atomic exchange in both builds:
// 16 bits for the script's changes, 16 for DSR's that follow DTR.
constexpr std::uint32_t MaxChanges = 0xFFFF; // of the input lines, from the script, in a run
constexpr std::uint32_t MaxLoops = 0xFFFF;   // of DSR following DTR, in a run
constexpr std::uint32_t MaxPlugs = 64;       // the first plug-in and each replug
constexpr std::uint32_t MaxSets = 1u << 16;  // output-line calls recorded
constexpr std::uint32_t MaxCalls = 1u << 18; // program-thread calls recorded

// Options of the device, combinable with any behaviour (SharedState::options).
constexpr std::uint32_t DsrFollowsDtr = 1; // DSR is DTR looped back, as many cables and keys wire it

// The key line changing, as the record keeps it: closed (`down`) or open
// from `atNs` on; `toldNs` when a wait thread of the driver was first shown
// it (0: none was), which the script's own changes take as `atNs`.
struct alignas(8) Change {
    std::int64_t atNs;
    std::uint32_t down;
    std::uint32_t reserved;
    std::int64_t toldNs;
};

// The script's input lines changing: one line (`line`) from `atNs` on,
// leaving them at `inputs`; `counts` are each line's changes from the
// script's start to this one, as TIOCGICOUNT counts them (cts, dsr, rng,
// dcd: RI at its trailing edges only, as a 16550 latches it).
struct alignas(8) InputChange {
    std::int64_t atNs;
    std::uint32_t line;
    std::uint32_t inputs;
    std::uint32_t counts[4];
};

// DSR following DTR as the program set it on `plug`: on (`dsr`) or off from `atNs` on.
struct alignas(8) Loop {
    std::int64_t atNs;
    std::uint16_t plug;
    std::uint16_t dsr;
    std::uint32_t reserved;
};

// One plug-in of the device: a tty of its own (its st_rdev), present from
// `fromNs` until `untilNs` once `untilKnown` says that is set.
struct alignas(8) Plug {
    std::uint64_t rdev;
    std::int64_t fromNs;
    std::int64_t untilNs;
    std::uint32_t untilKnown; // published after untilNs
    std::uint32_t outputs;    // DTR and RTS as the program last set them
    std::uint32_t told;       // the changes the driver has been told of: Told (see Device.h)
    std::uint32_t snapshot;   // the input lines at the last completed wait (stale)
    std::uint32_t loopFirst;  // loops[] from here on are this plug-in's
    std::uint32_t setting;    // 1 while a call sets the outputs (they and loops[] change together)
};

// Which call a program thread made (Call::kind).
enum class CallKind : std::uint16_t { StatusRead, LinesSet, LinesRaise, LinesLower, CountsRead };

// A call of the program's own threads (not of Wine's wait threads).
struct alignas(8) Call {
    std::int64_t atNs;
    std::int32_t tid;
    std::uint16_t plug;
    std::uint16_t kind; // CallKind
};

// An output-line call: the lines after it, whether or not it changed them.
struct alignas(8) Set {
    std::int64_t atNs;
    std::int32_t tid;
    std::uint16_t plug;
    std::uint16_t outputs;
};

struct alignas(8) SharedState {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t behaviour; // Behaviour
    std::uint32_t keyLine;   // LineCts (the default), LineDsr, LineDcd or LineRi
    std::uint32_t options;   // DsrFollowsDtr
    std::uint32_t plugCount;   // plugs[0..plugCount) are published
    std::uint32_t changeCount; // changes[0..changeCount) are published, in time order
    std::uint32_t loopCount;   // loops[0..loopCount) are published, in time order
    std::uint32_t loopsDropped; // DSR changes past MaxLoops: DSR stayed as it was
    std::uint32_t setCount;    // sets taken (may pass MaxSets: the rest are dropped)
    std::uint32_t callCount;   // calls taken (may pass MaxCalls: the rest are dropped)
    std::uint32_t waitCalls;   // calls of Wine's wait threads, counted only
    Plug plugs[MaxPlugs];
    InputChange changes[MaxChanges];
    Loop loops[MaxLoops];
    Set sets[MaxSets];
    Call calls[MaxCalls];
    // When a wait thread was first shown each of the key line's changes:
    // told, or, for one made before its wait began, the level after it at
    // the thread's first read (0: none was, as for a change undone before
    // any wait thread read again).
    std::int64_t toldNs[MaxChanges];
};

// One layout for both builds of the preloaded library.
static_assert(sizeof(Change) == 24 && sizeof(Loop) == 16 && sizeof(Call) == 16 && sizeof(Set) == 16,
              "record layout");
static_assert(sizeof(InputChange) == 32, "change layout");
static_assert(sizeof(Plug) == 48, "plug layout");
static_assert(offsetof(SharedState, plugs) == 48, "header layout");
static_assert(offsetof(SharedState, changes) == 48 + 48 * MaxPlugs, "state layout");
static_assert(offsetof(SharedState, loops) == 48 + 48 * MaxPlugs + 32 * MaxChanges, "loops layout");
static_assert(sizeof(SharedState) ==
                  48 + 48 * MaxPlugs + 32 * MaxChanges + 16 * (MaxLoops + MaxSets + MaxCalls) + 8 * MaxChanges,
              "state size");

// Atomic access to fields of the mapped state, shared between processes:
// GCC's builtins on plain fields keep the layout a plain struct's.
inline std::uint32_t Acquire(const std::uint32_t &field) { return __atomic_load_n(&field, __ATOMIC_ACQUIRE); }
inline void Release(std::uint32_t &field, std::uint32_t value) { __atomic_store_n(&field, value, __ATOMIC_RELEASE); }
inline std::uint32_t Take(std::uint32_t &counter) { return __atomic_fetch_add(&counter, 1u, __ATOMIC_ACQ_REL); }
inline bool Swap(std::uint32_t &field, std::uint32_t expected, std::uint32_t value)
{
    return __atomic_compare_exchange_n(&field, &expected, value, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

} // namespace ttydev
