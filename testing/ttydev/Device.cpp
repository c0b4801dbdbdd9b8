#include "ttydev/Device.h"

#include <sched.h>

#include <cerrno>

// Built into the preloaded library too, for i386 as well: nothing here may
// need the C++ runtime library (no exceptions, no allocation, no
// function-local statics).
namespace ttydev {

namespace {

// The first of `count` entries whose time is after `nowNs` (they are in
// time order).
template <typename T> std::uint32_t DueBy(const T *entries, std::uint32_t low, std::uint32_t count, std::int64_t nowNs)
{
    std::uint32_t high = count;
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        if (entries[middle].atNs <= nowNs)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// TIOCGICOUNT's field of each input line, in InputChange::counts.
int CountField(std::uint32_t line)
{
    return line == LineCts ? 0 : line == LineDsr ? 1 : line == LineRi ? 2 : line == LineDcd ? 3 : -1;
}

} // namespace

int Device::PlugOf(std::uint64_t rdev) const
{
    for (std::uint32_t i = Acquire(s_.plugCount); i-- > 0;)
        if (s_.plugs[i].rdev == rdev)
            return static_cast<int>(i);
    return -1;
}

bool Device::Removed(int plug, std::int64_t nowNs) const
{
    const Plug &p = s_.plugs[plug];
    return Acquire(p.untilKnown) && nowNs >= p.untilNs;
}

std::uint32_t Device::ChangesBy(std::int64_t nowNs) const
{
    return DueBy(s_.changes, 0, Acquire(s_.changeCount), nowNs);
}

std::uint32_t Device::LoopsBy(std::int64_t nowNs) const { return DueBy(s_.loops, 0, Acquire(s_.loopCount), nowNs); }

std::uint32_t Device::InputsAfter(int plug, std::uint32_t changes, std::uint32_t loops) const
{
    std::uint32_t inputs = changes > 0 ? s_.changes[changes - 1].inputs : 0;
    if (s_.options & DsrFollowsDtr) {
        // Only this plug-in's loops: DTR starts off at each plug-in.
        const bool dsr = loops > s_.plugs[plug].loopFirst && s_.loops[loops - 1].dsr != 0;
        inputs = (inputs & ~LineDsr) | (dsr ? LineDsr : 0);
    }
    if (static_cast<Behaviour>(s_.behaviour) == Behaviour::Cdc)
        inputs &= ~LineCts;
    return inputs;
}

std::int64_t Device::ReadDelayNs() const
{
    return static_cast<Behaviour>(s_.behaviour) == Behaviour::Slow ? SlowReadNs : 0;
}

void Device::Note(int plug, Caller caller, Request request, std::int64_t nowNs, std::int32_t tid)
{
    if (caller == Caller::Wait) {
        Take(s_.waitCalls);
        return;
    }
    const std::uint32_t at = Take(s_.callCount);
    if (at < MaxCalls)
        s_.calls[at] = Call{nowNs, tid, static_cast<std::uint16_t>(plug), static_cast<std::uint16_t>(request)};
}

void Device::NoteShown(std::uint32_t changes, std::int64_t nowNs)
{
    std::uint32_t key = changes;
    while (key > 0 && s_.changes[key - 1].line != s_.keyLine)
        --key;
    if (key == 0)
        return;
    std::int64_t never = 0;
    __atomic_compare_exchange_n(&s_.toldNs[key - 1], &never, nowNs, false, __ATOMIC_RELAXED, __ATOMIC_RELAXED);
}

int Device::ReadLines(int plug, Caller caller, std::int64_t nowNs, std::uint32_t &lines)
{
    if (Removed(plug, nowNs))
        return EIO;
    Plug &p = s_.plugs[plug];
    const Told made{ChangesBy(nowNs), LoopsBy(nowNs)};
    std::uint32_t inputs;
    if (caller == Caller::Wait) {
        // The next change the driver hasn't been told of, the earlier of
        // the script's and DSR's following DTR, else the lines now.
        std::uint32_t word = Acquire(p.told);
        Told next = Told::Of(word);
        for (;;) {
            next = Told::Of(word);
            const bool change = next.changes < made.changes, loop = next.loops < made.loops;
            const bool script = change && (!loop || s_.changes[next.changes].atNs <= s_.loops[next.loops].atNs);
            if (script)
                ++next.changes;
            else if (loop)
                ++next.loops;
            else
                break;
            if (Swap(p.told, word, next.Word()))
                break;
            word = Acquire(p.told);
        }
        // What the wait thread is shown tells it the key line too: the
        // stale lines a wait began with can hide a press that any later
        // change, of whichever line, then shows.
        NoteShown(next.changes, nowNs);
        inputs = InputsAfter(plug, next.changes, next.loops);
        Release(p.snapshot, inputs);
    } else {
        if (caller == Caller::WaitStart) {
            // A new wait: what changed before it is not its to tell.
            for (std::uint32_t word = Acquire(p.told);;) {
                const Told told = Told::Of(word);
                if ((told.changes >= made.changes && told.loops >= made.loops) ||
                    Swap(p.told, word,
                         Told{told.changes > made.changes ? told.changes : made.changes,
                              told.loops > made.loops ? told.loops : made.loops}
                             .Word()))
                    break;
                word = Acquire(p.told);
            }
        }
        const bool stale = static_cast<Behaviour>(s_.behaviour) == Behaviour::Stale;
        inputs = stale ? Acquire(p.snapshot) : InputsAfter(plug, made.changes, made.loops);
    }
    lines = inputs | Acquire(p.outputs);
    return 0;
}

int Device::SetLines(int plug, Request request, std::uint32_t bits, std::int64_t nowNs, std::int32_t tid)
{
    if (Removed(plug, nowNs))
        return EIO;
    Plug &p = s_.plugs[plug];
    // One call at a time sets this plug-in's outputs, so that DSR's changes
    // following DTR are published in the order DTR made them.
    while (!Swap(p.setting, 0, 1))
        sched_yield();
    const std::uint32_t before = Acquire(p.outputs);
    const std::uint32_t after = request == Request::LinesSet     ? bits & OutputLines
                                : request == Request::LinesRaise ? before | (bits & OutputLines)
                                                                 : before & ~bits;
    Release(p.outputs, after);
    if ((s_.options & DsrFollowsDtr) && ((before ^ after) & LineDtr)) {
        const std::uint32_t count = Acquire(s_.loopCount);
        if (count < MaxLoops) {
            // In time order, whichever thread's clock read first.
            const std::int64_t last = count > 0 ? s_.loops[count - 1].atNs : nowNs;
            s_.loops[count] = Loop{last > nowNs ? last : nowNs, static_cast<std::uint16_t>(plug),
                                   static_cast<std::uint16_t>((after & LineDtr) ? 1 : 0), 0};
            Release(s_.loopCount, count + 1);
        } else {
            Take(s_.loopsDropped);
        }
    }
    Release(p.setting, 0);
    const std::uint32_t at = Take(s_.setCount);
    if (at < MaxSets)
        s_.sets[at] = Set{nowNs, tid, static_cast<std::uint16_t>(plug), static_cast<std::uint16_t>(after)};
    return 0;
}

int Device::ReadCounts(int plug, std::int64_t nowNs, LineCounts &counts) const
{
    if (Removed(plug, nowNs))
        return EIO;
    const Plug &p = s_.plugs[plug];
    std::int32_t made[4] = {};
    const std::uint32_t now = ChangesBy(nowNs), from = ChangesBy(p.fromNs);
    for (int i = 0; i < 4; ++i)
        made[i] = static_cast<std::int32_t>((now ? s_.changes[now - 1].counts[i] : 0) -
                                            (from ? s_.changes[from - 1].counts[i] : 0));
    if (s_.options & DsrFollowsDtr) {
        const std::uint32_t loops = LoopsBy(nowNs);
        made[1] = static_cast<std::int32_t>(loops > p.loopFirst ? loops - p.loopFirst : 0);
    }
    if (static_cast<Behaviour>(s_.behaviour) == Behaviour::Cdc)
        made[0] = 0;
    counts = LineCounts{made[0], made[1], made[2], made[3]};
    return 0;
}

void Initialise(SharedState &state, Behaviour behaviour, std::uint32_t keyLine, std::uint32_t options)
{
    state.magic = StateMagic;
    state.version = StateVersion;
    state.behaviour = static_cast<std::uint32_t>(behaviour);
    state.keyLine = keyLine;
    state.options = options;
    state.plugCount = state.changeCount = state.loopCount = state.loopsDropped = 0;
    state.setCount = state.callCount = state.waitCalls = 0;
}

int AddPlug(SharedState &state, std::uint64_t rdev, std::int64_t fromNs)
{
    const std::uint32_t index = Acquire(state.plugCount);
    if (index == MaxPlugs)
        return -1;
    Plug &plug = state.plugs[index];
    plug = Plug{};
    plug.rdev = rdev;
    plug.fromNs = fromNs;
    // Its predecessor is pulled out by now, and sets nothing more.
    plug.loopFirst = Acquire(state.loopCount);
    plug.told = Told{Device(state).ChangesBy(fromNs), plug.loopFirst}.Word();
    Release(state.plugCount, index + 1);
    return static_cast<int>(index);
}

void SetPlugEnd(SharedState &state, int plug, std::int64_t untilNs)
{
    state.plugs[plug].untilNs = untilNs;
    Release(state.plugs[plug].untilKnown, 1);
}

bool PublishChanges(SharedState &state, const InputChange *changes, std::uint32_t count)
{
    if (count > MaxChanges || Acquire(state.changeCount) != 0)
        return false;
    std::uint32_t inputs = 0, counts[4] = {};
    for (std::uint32_t i = 0; i < count; ++i) {
        const InputChange &change = changes[i];
        const int field = CountField(change.line);
        if (field < 0 || (change.inputs ^ inputs) != change.line || (change.inputs & ~InputLines) ||
            (i > 0 && change.atNs < changes[i - 1].atNs))
            return false;
        inputs = change.inputs;
        if (change.line != LineRi || !(inputs & LineRi))
            ++counts[field];
        state.changes[i] = change;
        for (int f = 0; f < 4; ++f)
            state.changes[i].counts[f] = counts[f];
    }
    Release(state.changeCount, count);
    return true;
}

} // namespace ttydev
