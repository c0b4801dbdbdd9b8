#include "ttydev/Device.h"

#include <cerrno>

// Built into the preloaded library too, for i386 as well: nothing here may
// need the C++ runtime library (no exceptions, no allocation, no
// function-local statics).
namespace ttydev {

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
    // Binary search: the changes are in time order.
    std::uint32_t low = 0, high = Acquire(s_.changeCount);
    while (low < high) {
        const std::uint32_t middle = low + (high - low) / 2;
        if (s_.changes[middle].atNs <= nowNs)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

bool Device::KeyDown(std::int64_t nowNs) const
{
    const std::uint32_t made = ChangesBy(nowNs);
    return made > 0 && s_.changes[made - 1].down != 0;
}

std::uint32_t Device::Inputs(bool down) const
{
    if (!down)
        return 0;
    if (static_cast<Behaviour>(s_.behaviour) == Behaviour::Cdc && s_.keyLine == LineCts)
        return 0;
    return s_.keyLine;
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

int Device::ReadLines(int plug, Caller caller, std::int64_t nowNs, std::uint32_t &lines)
{
    if (Removed(plug, nowNs))
        return EIO;
    Plug &p = s_.plugs[plug];
    std::uint32_t inputs;
    if (caller == Caller::Wait) {
        // The next change the driver hasn't been told of, else the level now.
        const std::uint32_t made = ChangesBy(nowNs);
        std::uint32_t told = Acquire(p.presented);
        while (told < made && !Swap(p.presented, told, told + 1))
            told = Acquire(p.presented);
        inputs = Inputs(told < made ? s_.changes[told].down != 0 : KeyDown(nowNs));
        Release(p.snapshot, inputs);
    } else {
        if (caller == Caller::WaitStart) {
            // A new wait: what changed before it is not its to tell.
            const std::uint32_t made = ChangesBy(nowNs);
            for (std::uint32_t told = Acquire(p.presented); told < made && !Swap(p.presented, told, made);)
                told = Acquire(p.presented);
        }
        inputs = static_cast<Behaviour>(s_.behaviour) == Behaviour::Stale ? Acquire(p.snapshot)
                                                                           : Inputs(KeyDown(nowNs));
    }
    lines = inputs | Acquire(p.outputs);
    return 0;
}

int Device::SetLines(int plug, Request request, std::uint32_t bits, std::int64_t nowNs, std::int32_t tid)
{
    if (Removed(plug, nowNs))
        return EIO;
    Plug &p = s_.plugs[plug];
    std::uint32_t before = Acquire(p.outputs), after = 0;
    for (;;) {
        after = request == Request::LinesSet     ? bits & OutputLines
                : request == Request::LinesRaise ? before | (bits & OutputLines)
                                                 : before & ~bits;
        if (Swap(p.outputs, before, after))
            break;
        before = Acquire(p.outputs);
    }
    const std::uint32_t at = Take(s_.setCount);
    if (at < MaxSets)
        s_.sets[at] = Set{nowNs, tid, static_cast<std::uint16_t>(plug), static_cast<std::uint16_t>(after)};
    return 0;
}

int Device::ReadCounts(int plug, std::int64_t nowNs, LineCounts &counts) const
{
    if (Removed(plug, nowNs))
        return EIO;
    counts = LineCounts{0, 0, 0, 0};
    const auto made = static_cast<std::int32_t>(ChangesBy(nowNs) - ChangesBy(s_.plugs[plug].fromNs));
    switch (Inputs(true)) {
    case LineCts: counts.cts = made; break;
    case LineDsr: counts.dsr = made; break;
    case LineRi: counts.rng = made; break;
    case LineDcd: counts.dcd = made; break;
    default: break; // a line the adapter doesn't report
    }
    return 0;
}

void Initialise(SharedState &state, Behaviour behaviour, std::uint32_t keyLine)
{
    state.magic = StateMagic;
    state.version = StateVersion;
    state.behaviour = static_cast<std::uint32_t>(behaviour);
    state.keyLine = keyLine;
    state.plugCount = state.changeCount = state.setCount = state.callCount = state.waitCalls = 0;
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
    plug.presented = Device(state).ChangesBy(fromNs);
    Release(state.plugCount, index + 1);
    return static_cast<int>(index);
}

void SetPlugEnd(SharedState &state, int plug, std::int64_t untilNs)
{
    state.plugs[plug].untilNs = untilNs;
    Release(state.plugs[plug].untilKnown, 1);
}

bool PublishChanges(SharedState &state, const Change *changes, std::uint32_t count)
{
    if (count > MaxChanges || Acquire(state.changeCount) != 0)
        return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        if ((i > 0 && (changes[i].atNs < changes[i - 1].atNs || changes[i].down == changes[i - 1].down)) ||
            (i == 0 && !changes[0].down))
            return false;
        state.changes[i] = changes[i];
    }
    Release(state.changeCount, count);
    return true;
}

} // namespace ttydev
