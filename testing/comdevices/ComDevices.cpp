#include "comdevices/ComDevices.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {
constexpr std::uintptr_t kComHandleBase = 0x6C000000; // far from the other simulated handles
}

std::string DescribeLine(const commio::LineSettings &line)
{
    static const char parities[] = "NOEMS";
    static const char *const stops[] = {"1", "1.5", "2"};
    char text[40];
    std::snprintf(text, sizeof text, "%u %u%c%s", static_cast<unsigned>(line.baud), static_cast<unsigned>(line.dataBits),
                  line.parity < 5 ? parities[line.parity] : '?', line.stopBits < 3 ? stops[line.stopBits] : "?");
    return text;
}

std::string DescribeChanges(const commio::DeviceSettings &before, const commio::DeviceSettings &after)
{
    std::string out;
    auto field = [&out](const char *name, unsigned long long a, unsigned long long b) {
        if (a == b)
            return;
        char text[64];
        std::snprintf(text, sizeof text, "%s%s %llu->%llu", out.empty() ? "" : ", ", name, a, b);
        out += text;
    };
#define COMDEVICES_DESCRIBE(type, name, bits)                                                                         \
    field(#name, static_cast<unsigned long long>(before.name) & ((1ull << bits) - 1),                          \
          static_cast<unsigned long long>(after.name) & ((1ull << bits) - 1));
    COMMIO_SETTINGS_FIELDS(COMDEVICES_DESCRIBE)
#undef COMDEVICES_DESCRIBE
    return out;
}

commio::DeviceSettings ComDevices::FilledWith(std::uint8_t byte)
{
    commio::DeviceSettings settings{};
#define COMDEVICES_FILL(type, name, bits)                                                                             \
    {                                                                                                           \
        const unsigned long long ones = 0x0101010101010101ull * byte;                                          \
        settings.name = static_cast<decltype(settings.name)>(ones & ((1ull << bits) - 1));                     \
    }
    COMMIO_SETTINGS_FIELDS(COMDEVICES_FILL)
#undef COMDEVICES_FILL
    return settings;
}

commio::DeviceSettings ComDevices::DriverDefaults()
{
    commio::DeviceSettings settings{};
    settings.BaudRate = 9600;
    settings.ByteSize = 8;
    settings.Parity = commio::NoParity;
    settings.StopBits = commio::OneStopBit;
    settings.fBinary = 1;
    settings.fDtrControl = commio::DtrControlEnable;
    settings.fRtsControl = commio::RtsControlEnable;
    settings.XonLim = 2048;
    settings.XoffLim = 512;
    settings.XonChar = 0x11;
    settings.XoffChar = 0x13;
    return settings;
}

void ComDevices::Reset() { *this = ComDevices(); }

ComDevices::Device &ComDevices::Plug(const std::string &name)
{
    const bool known = devices_.count(name) != 0;
    Device &device = devices_[name];
    if (!known)
        device.rule = DefaultRule();
    // How the driver answers stays with the name; the device itself is new.
    Device fresh;
    fresh.generation = device.generation + 1;
    fresh.maxBaud = device.maxBaud;
    fresh.serial = device.serial;
    fresh.refuseEvents = device.refuseEvents;
    fresh.silent = device.silent;
    fresh.rule = device.rule;
    fresh.samplePeriodUs = device.samplePeriodUs;
    fresh.staleReads = device.staleReads;
    fresh.readUs = device.readUs;
    fresh.dsrFollowsDtr = device.dsrFollowsDtr;
    fresh.instanceId = std::move(device.instanceId);
    fresh.settings = plugSettings_;
    device = std::move(fresh);
    return device;
}

ComDevices::Device &ComDevices::PlugAdapter(const std::string &name, const std::string &instanceId)
{
    for (auto &entry : devices_)
        if (entry.first != name && entry.second.instanceId == instanceId) {
            Unplug(entry.first); // the old number is gone with its lines
            entry.second.instanceId.clear();
            entry.second.dtr = entry.second.rts = false;
        }
    Device &device = Plug(name);
    device.instanceId = instanceId;
    return device;
}

std::uint32_t ComDevices::ListPorts(PortVisitor visit, void *context)
{
    if (listFailure_) {
        Record("ListPorts fails " + std::to_string(listFailure_));
        return listFailure_;
    }
    std::string listed;
    if (listed_)
        for (const auto &entry : devices_)
            if (entry.second.present && !entry.second.instanceId.empty()) {
                visit(context, commio::PortsClassDevice{entry.second.instanceId.c_str(), entry.first.c_str(), "", ""});
                listed += " " + entry.first;
            }
    Record("ListPorts ->" + (listed.empty() ? std::string(" none") : listed));
    return 0;
}

void ComDevices::Unplug(const std::string &name)
{
    if (Device *device = Find(name)) {
        device->present = false;
        device->held = false; // handles to it stay, dead
        CompleteWaits(name, 0, commio::ErrorDeviceNotConnected);
    }
}

ComDevices::Device *ComDevices::Find(const std::string &name)
{
    auto it = devices_.find(name);
    return it == devices_.end() ? nullptr : &it->second;
}

namespace {

// The comm events a change of the input lines from `before` to `after`
// makes under `rule`.
std::uint32_t EventsOf(std::uint8_t before, std::uint8_t after, ComDevices::EventRule rule)
{
    const auto changed = static_cast<std::uint8_t>(before ^ after);
    std::uint32_t events = 0;
    for (const uart::ModemLine line : uart::InputLines) {
        if (!(changed & line.Mask()))
            continue;
        // A 16550 latches RI's trailing edge only (TERI); Wine compares levels.
        if (line == uart::ModemLine::Ri && rule == ComDevices::EventRule::History && (after & line.Mask()))
            continue;
        events |= line.Event();
    }
    return events;
}

std::string EventNames(std::uint32_t events)
{
    std::string names;
    const std::pair<uart::ModemLine, const char *> known[] = {{uart::ModemLine::Cts, "CTS"},
        {uart::ModemLine::Dsr, "DSR"}, {uart::ModemLine::Dcd, "RLSD"}, {uart::ModemLine::Ri, "RING"}};
    for (const auto &[line, name] : known)
        if (events & line.Event())
            names += (names.empty() ? "" : " ") + std::string(name);
    return names.empty() ? "none" : names;
}

} // namespace

void ComDevices::SetInput(const std::string &name, uart::ModemLine line, bool level)
{
    Device *device = Find(name);
    if (!device || !line.IsInput())
        return;
    const std::uint8_t before = device->inputs;
    device->inputs = static_cast<std::uint8_t>(level ? before | line.Mask() : before & ~line.Mask());
    if (device->inputs == before || !device->present)
        return;
    for (auto &entry : handles_)
        if (entry.second.name == name && entry.second.generation == device->generation)
            Tell(entry.second, *device, before);
}

void ComDevices::Tell(Held &held, const Device &device, std::uint8_t before)
{
    if (device.silent)
        return;
    if (device.rule == EventRule::History) {
        const std::uint32_t events = EventsOf(before, device.inputs, device.rule) & held.mask;
        if (!events)
            return;
        if (held.wait && held.wait->pending)
            Complete(*held.wait, events, 0);
        else
            held.history |= events;
        return;
    }
    if (!held.wait || !held.wait->pending)
        return; // no wait looks, and none will remember
    if (!(EventsOf(before, device.inputs, device.rule) & held.mask))
        return; // a line it doesn't watch
    const std::uint32_t period = device.samplePeriodUs;
    if (period == 0)
        Sample(held, *Find(held.name));
    else if (held.sampleAtUs < 0)
        held.sampleAtUs = (nowUs_ / period + 1) * period;
}

void ComDevices::Sample(Held &held, Device &device)
{
    held.sampleAtUs = -1;
    device.toldLines = device.inputs;
    if (!held.wait || !held.wait->pending)
        return;
    if (const std::uint32_t events = EventsOf(held.base, device.inputs, device.rule) & held.mask)
        Complete(*held.wait, events, 0);
    else if (held.maskChanged)
        Complete(*held.wait, 0, 0);
    held.maskChanged = false;
}

void ComDevices::Look(const std::string &name)
{
    Device *device = Find(name);
    if (!device || !device->present || device->rule != EventRule::CompareWithStart)
        return;
    for (auto &entry : handles_)
        if (entry.second.name == name && entry.second.generation == device->generation)
            Sample(entry.second, *device);
}

void ComDevices::Schedule(const std::string &name, std::int64_t atUs, uart::ModemLine line, bool level)
{
    schedule_.push_back(Scheduled{atUs, scheduled_++, name, line, level});
    std::push_heap(schedule_.begin(), schedule_.end(), [](const Scheduled &a, const Scheduled &b) {
        return a.atUs != b.atUs ? a.atUs > b.atUs : a.order > b.order;
    });
}

void ComDevices::RunUntil(std::int64_t untilUs)
{
    const auto later = [](const Scheduled &a, const Scheduled &b) {
        return a.atUs != b.atUs ? a.atUs > b.atUs : a.order > b.order;
    };
    for (;;) {
        Held *sampling = nullptr;
        for (auto &entry : handles_)
            if (entry.second.sampleAtUs >= 0 && (!sampling || entry.second.sampleAtUs < sampling->sampleAtUs))
                sampling = &entry.second;
        const bool change = !schedule_.empty() && schedule_.front().atUs <= untilUs &&
                            (!sampling || schedule_.front().atUs <= sampling->sampleAtUs);
        if (change) {
            std::pop_heap(schedule_.begin(), schedule_.end(), later);
            const Scheduled next = std::move(schedule_.back());
            schedule_.pop_back();
            nowUs_ = std::max(nowUs_, next.atUs);
            SetInput(next.name, next.line, next.level);
        } else if (sampling && sampling->sampleAtUs <= untilUs) {
            nowUs_ = std::max(nowUs_, sampling->sampleAtUs);
            Device *device = Find(sampling->name);
            if (device && device->generation == sampling->generation && device->present)
                Sample(*sampling, *device);
            else
                sampling->sampleAtUs = -1;
        } else {
            break;
        }
    }
    nowUs_ = std::max(nowUs_, untilUs);
}

std::uint8_t ComDevices::LinesRead(Device &device)
{
    if (device.readUs)
        RunUntil(nowUs_ + device.readUs);
    return device.staleReads ? device.toldLines : device.inputs;
}

void ComDevices::SetOutputs(const std::string &name, Device &device, bool dtr, bool rts)
{
    const bool dtrChanged = dtr != device.dtr;
    if (!dtrChanged && rts == device.rts)
        return;
    device.dtr = dtr;
    device.rts = rts;
    if (recordOutputs_)
        outputs_.push_back(OutputChange{nowUs_, name, dtr, rts});
    if (dtrChanged && device.dsrFollowsDtr)
        SetInput(name, uart::ModemLine::Dsr, dtr);
}

void ComDevices::Complete(Wait &wait, std::uint32_t events, std::uint32_t error)
{
    wait.pending = false;
    wait.completedEvents = error ? 0 : events;
    wait.status = error; // this driver's status word: the Windows code itself
    if (onComplete)
        onComplete(wait);
}

void ComDevices::CompleteWaits(const std::string &name, std::uint32_t events, std::uint32_t error)
{
    for (auto &entry : handles_) {
        Held &held = entry.second;
        if (held.name != name || !held.wait || !held.wait->pending)
            continue;
        const Device *device = Find(name);
        if (!error && (!device || device->generation != held.generation))
            continue; // a dead handle's wait ended when its device went
        held.sampleAtUs = -1;
        Complete(*held.wait, events, error);
    }
}

std::size_t ComDevices::WaitsPending() const
{
    std::size_t pending = 0;
    for (const auto &entry : handles_)
        if (entry.second.wait && entry.second.wait->pending)
            ++pending;
    return pending;
}

std::uint32_t ComDevices::ReachForEvents(commio::DeviceHandle handle, Held *&held, Device *&device)
{
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles_.end())
        return ErrorInvalidHandle;
    held = &it->second;
    device = Find(held->name);
    if (!device || !device->present || device->generation != held->generation)
        return ErrorBadCommand;
    if (!device->serial)
        return ErrorInvalidFunction;
    return device->refuseEvents;
}

std::uint32_t ComDevices::WatchLines(commio::DeviceHandle handle, commio::CommWait *&wait, std::uint32_t events)
{
    Reap();
    Held *held = nullptr;
    Device *device = nullptr;
    const std::uint32_t error = ReachForEvents(handle, held, device);
    if (!error) {
        // Both drivers end a pending wait with no events at a new mask:
        // Windows at once, keeping what it kept for the events still
        // watched; Wine's wait at its next look at the lines, unless they
        // differ by then.
        held->history &= events;
        held->mask = events;
        if (held->wait && held->wait->pending) {
            if (device->rule == EventRule::CompareWithStart && device->samplePeriodUs && !device->silent) {
                held->maskChanged = true;
                if (held->sampleAtUs < 0)
                    held->sampleAtUs = (nowUs_ / device->samplePeriodUs + 1) * device->samplePeriodUs;
            } else {
                held->sampleAtUs = -1;
                Complete(*held->wait, 0, 0);
            }
        }
    }
    if (!wait) {
        records_.push_back(std::make_unique<Wait>());
        wait = records_.back().get();
    }
    RecordEvent("SetCommMask(" + LabelOf(handle) + ", " + EventNames(events) + ")" +
                (error ? " fails " + std::to_string(error) : ""));
    return error;
}

std::uint32_t ComDevices::StartWait(commio::DeviceHandle handle, commio::CommWait &wait)
{
    Held *held = nullptr;
    Device *device = nullptr;
    std::uint32_t error = ReachForEvents(handle, held, device);
    if (!error && !held->mask)
        error = ErrorInvalidParameter; // no mask, nothing to wait for
    if (!error && held->wait && held->wait->pending)
        error = ErrorInvalidParameter; // one wait at a time
    RecordEvent("WaitCommEvent(" + LabelOf(handle) + ")" + (error ? " fails " + std::to_string(error) : ""));
    if (error)
        return error;
    Wait &record = static_cast<Wait &>(wait);
    record.pending = true;
    record.events = 0;
    held->wait = &record;
    held->maskChanged = false;
    ++waitsStarted_;
    if (device->silent)
        return 0;
    if (device->rule == EventRule::History) {
        if (const std::uint32_t kept = held->history & held->mask) {
            held->history = 0;
            Complete(record, kept, 0); // what happened while no wait was pending
        }
        return 0;
    }
    // Wine's wait starts from the lines as it reads them itself.
    held->base = LinesRead(*device);
    held->sampleAtUs = -1;
    if (record.pending && (EventsOf(held->base, device->inputs, device->rule) & held->mask))
        Tell(*held, *device, held->base);
    return 0;
}

std::uint32_t ComDevices::WaitResult(commio::DeviceHandle handle, commio::CommWait &wait)
{
    Wait &record = static_cast<Wait &>(wait);
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    std::uint32_t error = 0;
    if (it == handles_.end() || it->second.wait != &record)
        error = ErrorInvalidParameter;
    else if (record.pending)
        error = commio::ErrorIoIncomplete;
    else {
        error = record.status;
        wait.events = record.completedEvents;
        it->second.wait = nullptr;
        ++waitsCollected_;
    }
    RecordEvent("GetOverlappedResult(" + LabelOf(handle) + ")" +
                (error ? " fails " + std::to_string(error) : " -> " + std::to_string(wait.events)));
    return error;
}

void ComDevices::EndWait(commio::DeviceHandle handle, commio::CommWait *&wait)
{
    Reap();
    if (!wait)
        return;
    Wait *record = static_cast<Wait *>(wait);
    wait = nullptr;
    record->armed = false;
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it != handles_.end() && it->second.wait == record) {
        if (record->pending)
            Cancel(handle);
        if (record->pending)
            RecordEvent("left to the driver (" + LabelOf(handle) + ")");
        else
            ++waitsCollected_;
        it->second.wait = nullptr;
        it->second.leftToDriver = record->pending ? record : nullptr;
    }
    // Given back: freed, unless the driver still holds it.
    for (auto r = records_.begin(); r != records_.end(); ++r)
        if (r->get() == record) {
            if (record->pending)
                parked_.push_back(std::move(*r));
            records_.erase(r);
            break;
        }
}

void ComDevices::Reap()
{
    parked_.erase(std::remove_if(parked_.begin(), parked_.end(), [](const std::unique_ptr<Wait> &w) { return !w->pending; }),
                  parked_.end());
}

bool ComDevices::Cancel(commio::DeviceHandle handle)
{
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles_.end() || !it->second.wait || !it->second.wait->pending)
        return false;
    RecordEvent("CancelIo(" + LabelOf(handle) + ")");
    const Device *device = Find(it->second.name);
    if (!device || !device->slowCancel) {
        it->second.sampleAtUs = -1;
        Complete(*it->second.wait, 0, commio::ErrorOperationAborted);
    }
    return true;
}

std::vector<std::string> ComDevices::TakeCalls()
{
    std::vector<std::string> taken;
    taken.swap(calls_);
    return taken;
}

void ComDevices::Record(std::string line)
{
    if (recording_)
        calls_.push_back(std::move(line));
}

std::string ComDevices::Key(const char *path)
{
    std::string name = path ? path : "";
    if (name.compare(0, 4, "\\\\.\\") == 0)
        name.erase(0, 4);
    for (char &c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return name;
}

std::uint32_t ComDevices::Open(const char *path, commio::DeviceHandle &handle)
{
    const std::string name = Key(path);
    Device *device = Find(name);
    std::uint32_t error = 0;
    if (!device || !device->present)
        error = ErrorFileNotFound;
    else if (device->held)
        error = ErrorAccessDenied; // serial devices are exclusive
    const std::string call = std::string("CreateFile(\"") + (path ? path : "NULL") + "\")";
    if (error) {
        handle = Invalid();
        Record(call + " fails " + std::to_string(error));
        return error;
    }
    device->held = true;
    nextHandle_ += 4;
    const std::uintptr_t value = kComHandleBase + nextHandle_;
    Held held{name, device->generation, "c" + std::to_string(nextHandle_ / 4)};
    Record(call + " -> " + held.label);
    handles_.emplace(value, std::move(held));
    handle = reinterpret_cast<commio::DeviceHandle>(value);
    ++opens_;
    return 0;
}

std::string ComDevices::LabelOf(commio::DeviceHandle handle) const
{
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == handles_.end() ? std::string("?") : it->second.label;
}

std::uint32_t ComDevices::Reach(commio::DeviceHandle handle, Device *&device, bool countsForFailNext)
{
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles_.end())
        return ErrorInvalidHandle;
    device = Find(it->second.name);
    if (!device || !device->present || device->generation != it->second.generation)
        return ErrorBadCommand; // pulled out under the handle
    if (!device->serial)
        return ErrorInvalidFunction;
    if (!countsForFailNext)
        return device->failGetState;
    if (const std::uint32_t error = device->failNext) {
        if (device->failAfter > 0) {
            --device->failAfter;
            return 0;
        }
        device->failNext = 0;
        return error;
    }
    return 0;
}

std::uint32_t ComDevices::GetState(commio::DeviceHandle handle, commio::DeviceSettings &settings)
{
    Device *device = nullptr;
    const std::uint32_t error = Reach(handle, device, false);
    if (!error)
        settings = device->settings;
    if (error || recordStateReads_)
        Record("GetCommState(" + LabelOf(handle) + ")" + (error ? " fails " + std::to_string(error) : ""));
    return error;
}

namespace {
const char *ControlName(std::uint8_t control)
{
    static const char *const names[] = {"off", "on", "handshake", "toggle"};
    return names[control & 3];
}
} // namespace

std::uint32_t ComDevices::SetState(commio::DeviceHandle handle, const commio::DeviceSettings &settings)
{
    Device *device = nullptr;
    std::uint32_t error = Reach(handle, device);
    // A driver takes its own settings back, but not a rate it can't make,
    // nor a format no UART makes.
    if (!error && settings.BaudRate != device->settings.BaudRate && settings.BaudRate > device->maxBaud)
        error = ErrorInvalidParameter;
    if (!error && (settings.Parity > commio::SpaceParity || settings.StopBits > commio::TwoStopBits ||
                   settings.ByteSize < 5 || settings.ByteSize > 8 ||
                   (settings.StopBits == commio::OneAndHalfStopBits) != (settings.ByteSize == 5 &&
                                                                          settings.StopBits != commio::OneStopBit)))
        error = ErrorInvalidParameter;
    if (recording_) {
        std::string call = "SetCommState(" + LabelOf(handle) + ", ";
        // The format is shown when it is not the one the device had, as the
        // call asks for it then.
        const bool sameLine = device && !(settings.Line() != device->settings.Line());
        if (!sameLine)
            call += DescribeLine(settings.Line()) + ", ";
        call += std::string("dtr ") + ControlName(settings.fDtrControl) + ", rts " + ControlName(settings.fRtsControl) +
                ")";
        Record(error ? call + " fails " + std::to_string(error) : call);
    }
    if (error)
        return error;
    device->settings = settings;
    ++device->setStates;
    // Held by the driver when enabled; under handshake the driver raises
    // it while it can take more.
    SetOutputs(handles_.at(reinterpret_cast<std::uintptr_t>(handle)).name, *device,
               (settings.fDtrControl & 3) == commio::DtrControlEnable ||
                   (settings.fDtrControl & 3) == commio::DtrControlHandshake,
               (settings.fRtsControl & 3) == commio::RtsControlEnable ||
                   (settings.fRtsControl & 3) == commio::RtsControlHandshake);
    return 0;
}

std::uint32_t ComDevices::EscapeFunction(commio::DeviceHandle handle, commio::Escape code)
{
    Device *device = nullptr;
    std::uint32_t error = Reach(handle, device);
    // A line under the driver's handshake isn't the holder's to drive.
    if (!error && (code == commio::Escape::SetRts || code == commio::Escape::ClrRts) &&
        (device->settings.fRtsControl & 3) == commio::RtsControlHandshake)
        error = ErrorInvalidParameter;
    if (!error && (code == commio::Escape::SetDtr || code == commio::Escape::ClrDtr) &&
        (device->settings.fDtrControl & 3) == commio::DtrControlHandshake)
        error = ErrorInvalidParameter;
    if (!error) {
        bool dtr = device->dtr, rts = device->rts;
        switch (code) {
        case commio::Escape::SetRts: rts = true; break;
        case commio::Escape::ClrRts: rts = false; break;
        case commio::Escape::SetDtr: dtr = true; break;
        case commio::Escape::ClrDtr: dtr = false; break;
        default: error = ErrorInvalidParameter;
        }
        if (!error)
            SetOutputs(handles_.at(reinterpret_cast<std::uintptr_t>(handle)).name, *device, dtr, rts);
    }
    if (recording_) {
        static const char *const names[] = {"SETRTS", "CLRRTS", "SETDTR", "CLRDTR"};
        const auto index = static_cast<std::uint32_t>(code) - 3;
        const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
        std::string call = "EscapeCommFunction(" + (it == handles_.end() ? std::string("?") : it->second.label) +
                           ", " + (index < 4 ? names[index] : "?") + ")";
        Record(error ? call + " fails " + std::to_string(error) : call);
    }
    return error;
}

std::uint32_t ComDevices::ModemStatus(commio::DeviceHandle handle, std::uint8_t &lines)
{
    ++modemStatusCalls_;
    Device *device = nullptr;
    const std::uint32_t error = Reach(handle, device);
    lines = error ? 0 : LinesRead(*device);
    if (recording_) {
        const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
        char tail[24];
        if (error)
            std::snprintf(tail, sizeof tail, " fails %u", static_cast<unsigned>(error));
        else
            std::snprintf(tail, sizeof tail, " -> %02X", lines);
        Record("GetCommModemStatus(" + (it == handles_.end() ? std::string("?") : it->second.label) + ")" + tail);
    }
    return error;
}

void ComDevices::Close(commio::DeviceHandle handle)
{
    const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == handles_.end()) {
        if (handle != Invalid())
            ++badCloses_;
        Record(handle == Invalid() ? "CloseHandle(INVALID_HANDLE_VALUE)" : "CloseHandle(?)");
        return;
    }
    Device *device = Find(it->second.name);
    if (device && device->generation == it->second.generation) {
        device->held = false;
        SetOutputs(it->second.name, *device, false, false); // the driver drops its outputs at the close
    }
    // The close ends what is still pending, as Windows and Wine do: a
    // record left to the driver is completed into. One its owner still had
    // is a fault of the owner's, counted; the driver completes it all the
    // same (a fake of kernel32 mirrors it into the record it stands for).
    if (Wait *pending = it->second.wait; pending && pending->pending) {
        ++closedPending_;
        Complete(*pending, 0, commio::ErrorOperationAborted);
    }
    if (Wait *left = it->second.leftToDriver; left && left->pending)
        Complete(*left, 0, commio::ErrorOperationAborted);
    Record("CloseHandle(" + it->second.label + ")");
    handles_.erase(it);
    ++closes_;
}

} // namespace sim
