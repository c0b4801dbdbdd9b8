// Simulated COM devices as a serial driver serves them, behind the
// comm-port io.dll's view of the operating system (commio::CommApi).
//
// A device has the modem lines of a serial port (DTR and RTS driven by its
// holder, CTS, DSR, RI and DCD driven from outside), is held by at most one
// handle at a time, can be unplugged and plugged in again, can refuse a
// rate, can fail the next call, and can be a file that is no serial port
// (a COM name linked to /dev/null). It keeps a whole settings block, as a
// driver's DCB, that may start with every flow-control and handshake field
// set. A device may carry a device instance ID (a USB adapter's identity),
// which the port list gives with its name; a renumbered adapter is the same
// ID under another name. Every call is recorded, a line each (a GetCommState
// that works only when asked for: each SetCommState follows one).
//
// Time is simulated, in microseconds, and moves only when told (Advance)
// or while a slow device answers a status read: the changes of its input
// lines scheduled for a time (Schedule) happen as the clock passes it.
//
// How a driver tells of line changes through comm events is the device's
// event rule (EventRule): the rule of Windows' own serial driver, or that
// of Wine's, with or without a period at which its waits sample the lines;
// a `silent` device takes waits and never ends them, and one with
// `staleReads` answers status reads with the lines as its events last told
// them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commio/CommApi.h"
#include "commio/WindowsErrors.h"

namespace sim {

class ComDevices final : public commio::CommApi {
public:
    // Windows's codes for what the simulated driver reports.
    static constexpr std::uint32_t ErrorFileNotFound = commio::ErrorFileNotFound,
                                   ErrorAccessDenied = commio::ErrorAccessDenied,
                                   ErrorInvalidHandle = commio::ErrorInvalidHandle,
                                   ErrorBadCommand = commio::ErrorBadCommand,
                                   ErrorInvalidFunction = commio::ErrorInvalidFunction,
                                   ErrorInvalidParameter = commio::ErrorInvalidParameter;

    // A driver's settings for a port nobody has set up: 9600 8N1, binary,
    // DTR and RTS raised by the driver, no flow control.
    static commio::DeviceSettings DriverDefaults();
    // Every field filled with `byte`, each bitfield to its width: FFh sets
    // every flow-control and handshake field (and DTR and RTS control 3).
    static commio::DeviceSettings FilledWith(std::uint8_t byte);

    // How a driver tells of the changes of the lines a wait watches.
    enum class EventRule : std::uint8_t {
        // Wine's serial driver: a wait compares the watched lines with those
        // at its start, every `samplePeriodUs` (0: at every change), and
        // ends when they differ; changes within one period are told
        // together, and one undone within it not at all. Nothing is kept
        // while no wait is pending.
        CompareWithStart,
        // Windows' own serial driver: every change of a watched line is an
        // event. It ends the pending wait at once or, while none is
        // pending, is kept (merged per event bit) and ends the next wait as
        // it starts. A status read leaves what is kept; SetCommMask keeps
        // what its new mask holds and ends a pending wait with no events.
        // RI is told on its trailing edge only (on to off), as a 16550
        // latches it.
        History,
    };

    struct Device {
        bool present = true;
        bool serial = true;           // false: opens, but every comm call fails
        std::uint32_t maxBaud = 921600; // faster rates are refused
        bool dtr = false, rts = false;
        std::uint8_t inputs = 0;      // the status lines' masks (uart::ModemLine::Mask)
        commio::DeviceSettings settings{}; // as GetCommState answers
        std::uint32_t setStates = 0;  // SetCommState calls it took
        std::uint32_t failNext = 0;   // the next comm call on it fails with this code...
        std::uint32_t failAfter = 0;  // ...after this many more have succeeded (GetCommState
                                      // neither fails this way nor counts)
        std::uint32_t failGetState = 0; // every GetCommState on it fails with this code
        std::uint32_t generation = 0; // bumped at every plug-in
        bool held = false;
        std::string instanceId;       // kept across plug-ins; empty: not listed
        // Comm events: SetCommMask and WaitCommEvent fail with this code;
        // a device has none unless a test sets it to 0 (Plug keeps what was
        // set, as it keeps the rest of how the driver answers). `silent`: a
        // wait is taken and never completes.
        std::uint32_t refuseEvents = 50; // ERROR_NOT_SUPPORTED
        bool silent = false;
        EventRule rule = EventRule::CompareWithStart;
        std::uint32_t samplePeriodUs = 0; // CompareWithStart's sampling; 0: every change at once
        // A status read answers the lines as the driver's events last told
        // them (its wait's last look at them), not as they are.
        bool staleReads = false;
        // A status read takes this long (a USB round trip), and so does the
        // look at the lines with which a CompareWithStart wait starts; the
        // lines are answered as they are at its end.
        std::uint32_t readUs = 0;
        // DSR follows DTR: a cable or key that loops DTR back.
        bool dsrFollowsDtr = false;
        // A cancel the driver takes its time over: the wait stays pending
        // after it, until the handle closes.
        bool slowCancel = false;
        std::uint8_t toldLines = 0; // staleReads: the lines as last told
    };

    // The simulated driver's wait record, completed in place as a driver
    // completes an OVERLAPPED.
    struct Wait : commio::CommWait {
        bool pending = false;
        std::uint32_t status = 0;          // the driver's result, once completed
        std::uint32_t completedEvents = 0; // and the lines that changed
    };
    // Called as a wait completes (a change, a removal, a cancel): a fake of
    // kernel32 mirrors the record into the real OVERLAPPED it stands for.
    std::function<void(const Wait &)> onComplete;

    // The event rule of every device plugged in under a new name (a test
    // program runs its tables under each rule).
    static EventRule &DefaultRule()
    {
        static EventRule rule = EventRule::CompareWithStart;
        return rule;
    }

    // A new set of devices: none at all, nothing recorded, clock at 0.
    void Reset();
    // Plugs a device in (a new one, or one that was pulled out): lines low,
    // settings as StartFrom last said (DriverDefaults if never).
    Device &Plug(const std::string &name);
    void StartFrom(const commio::DeviceSettings &settings) { plugSettings_ = settings; }
    void Unplug(const std::string &name);
    Device *Find(const std::string &name);
    // Ends the pending waits on `name` as Windows does when the thread that
    // started them exits: cancelled, the device itself untouched.
    void EndWaitsWithTheirThread(const std::string &name)
    {
        CompleteWaits(name, 0, commio::ErrorOperationAborted);
    }
    // A status line of `name` changes now (an output line is the driver's,
    // not the device's), and its driver tells of it as its event rule says.
    void SetInput(const std::string &name, uart::ModemLine line, bool level);
    // ...or when the clock reaches `atUs`; changes scheduled for one time
    // happen in the order they were scheduled.
    void Schedule(const std::string &name, std::int64_t atUs, uart::ModemLine line, bool level);
    // A driver that looks late (Wine's wait thread held up): a line changed
    // while the device was `silent`, and the waits pending on `name` look at
    // the lines now, as CompareWithStart does. A History driver is never
    // late: what it didn't see, it dropped.
    void Look(const std::string &name);
    // Plugs in a USB adapter with this instance ID as `name`. Wherever the
    // same ID was plugged in before, that device is pulled out: Windows
    // gave the adapter another number.
    Device &PlugAdapter(const std::string &name, const std::string &instanceId);
    // The port list fails with this code (0: it answers); `listed` false:
    // it answers with no ports at all, as a system without the list does.
    void SetPortList(bool listed, std::uint32_t failure = 0)
    {
        listed_ = listed;
        listFailure_ = failure;
    }

    void Advance(std::uint32_t ms) { AdvanceUs(std::int64_t{ms} * 1000); }
    void AdvanceUs(std::int64_t us) { RunUntil(nowUs_ + us); }
    std::int64_t NowUs() const { return nowUs_; }
    void SetRecording(bool on) { recording_ = on; }
    void SetRecordingStateReads(bool on) { recordStateReads_ = on; }
    // SetCommMask, WaitCommEvent, GetOverlappedResult and CancelIo are
    // recorded only when asked for, like GetCommState.
    void SetRecordingEvents(bool on) { recordEvents_ = on; }
    // Every change of a device's output lines, with its time, when asked for.
    struct OutputChange {
        std::int64_t atUs;
        std::string name;
        bool dtr, rts;
    };
    void SetRecordingOutputs(bool on) { recordOutputs_ = on; }
    const std::vector<OutputChange> &Outputs() const { return outputs_; }
    // Comm event waits: started, collected (their result taken, or
    // cancelled and collected), and handles closed with a wait still
    // pending, which a real driver would complete into freed storage.
    std::uint64_t WaitsStarted() const { return waitsStarted_; }
    std::uint64_t WaitsCollected() const { return waitsCollected_; }
    // Closed with a wait pending whose record its owner still had: the
    // driver would complete it into storage about to be freed.
    std::uint64_t ClosedWithWaitPending() const { return closedPending_; }
    std::size_t WaitsPending() const;
    // Records given back while the driver still held them (a cancel it was
    // slow to end), not yet freed: the driver completes them as their
    // handle closes, and they are freed at the next EndWait or WatchLines
    // (never, where none comes: the io.dll was unloaded). And the records
    // their owner has now.
    std::size_t WaitsAbandoned() const { return parked_.size(); }
    std::size_t WaitRecordsLive() const { return records_.size(); }

    const std::vector<std::string> &Calls() const { return calls_; }
    std::vector<std::string> TakeCalls();
    std::uint64_t ModemStatusCalls() const { return modemStatusCalls_; }
    std::size_t HandlesHeld() const { return handles_.size(); }
    bool IsOpen(commio::DeviceHandle handle) const
    {
        return handles_.count(reinterpret_cast<std::uintptr_t>(handle)) != 0;
    }
    std::uint64_t Opens() const { return opens_; }
    std::uint64_t Closes() const { return closes_; }
    std::uint64_t BadCloses() const { return badCloses_; } // of a handle not open

    // commio::CommApi
    std::uint32_t Open(const char *path, commio::DeviceHandle &handle) override;
    std::uint32_t GetState(commio::DeviceHandle handle, commio::DeviceSettings &settings) override;
    std::uint32_t SetState(commio::DeviceHandle handle, const commio::DeviceSettings &settings) override;
    std::uint32_t EscapeFunction(commio::DeviceHandle handle, commio::Escape code) override;
    std::uint32_t ModemStatus(commio::DeviceHandle handle, std::uint8_t &lines) override;
    void Close(commio::DeviceHandle handle) override;
    std::uint32_t OpenForEvents(const char *path, commio::DeviceHandle &handle) override { return Open(path, handle); }
    std::uint32_t WatchLines(commio::DeviceHandle handle, commio::CommWait *&wait, std::uint32_t events) override;
    std::uint32_t StartWait(commio::DeviceHandle handle, commio::CommWait &wait) override;
    bool WaitPending(const commio::CommWait &wait) override { return static_cast<const Wait &>(wait).pending; }
    std::uint32_t WaitResult(commio::DeviceHandle handle, commio::CommWait &wait) override;
    void EndWait(commio::DeviceHandle handle, commio::CommWait *&wait) override;
    // CancelIoEx on the handle's pending wait: completed as cancelled at
    // once, unless its device cancels slowly. False: no wait was pending.
    bool Cancel(commio::DeviceHandle handle);
    std::uint32_t ListPorts(PortVisitor visit, void *context) override;
    std::uint32_t Ticks() override
    {
        ++clockReads_;
        return Millis();
    }
    std::uint32_t QuietTicks() override
    {
        ++quietClockReads_;
        return Millis();
    }
    std::uint64_t ClockReads() const { return clockReads_; }
    std::uint64_t QuietClockReads() const { return quietClockReads_; }

    // What an open that fails returns to a CreateFileA caller.
    static commio::DeviceHandle Invalid() { return reinterpret_cast<commio::DeviceHandle>(~std::uintptr_t{0}); }

private:
    struct Held {
        std::string name;
        std::uint32_t generation;
        std::string label;         // "c1"
        std::uint32_t mask = 0;    // the events SetCommMask took
        std::uint32_t history = 0; // History: events kept while no wait is pending
        std::uint8_t base = 0;     // CompareWithStart: the lines the pending wait started from
        std::int64_t sampleAtUs = -1; // ...and when it looks at them next (-1: nothing changed since)
        bool maskChanged = false;  // ...and a new mask ends it at that look
        Wait *wait = nullptr;      // started and not yet collected
        Wait *leftToDriver = nullptr; // given back still pending: the close ends it
    };
    struct Scheduled {
        std::int64_t atUs;
        std::uint64_t order;
        std::string name;
        uart::ModemLine line;
        bool level;
    };
    std::uint32_t Millis() const { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(nowUs_) / 1000); }
    // Moves the clock to `untilUs`, making the scheduled changes and the
    // waits' looks at the lines that fall due on the way, in time order.
    void RunUntil(std::int64_t untilUs);
    // The device's lines as a status read, or a wait starting, finds them.
    std::uint8_t LinesRead(Device &device);
    // A watched change on `held`'s device as its driver's rule tells it.
    void Tell(Held &held, const Device &device, std::uint8_t before);
    void Sample(Held &held, Device &device);
    void SetOutputs(const std::string &name, Device &device, bool dtr, bool rts);
    std::uint32_t ReachForEvents(commio::DeviceHandle handle, Held *&held, Device *&device);
    // Completes every pending wait on `name`'s handles: with `events`, or
    // with `error` when the device went away.
    void CompleteWaits(const std::string &name, std::uint32_t events, std::uint32_t error);
    void Complete(Wait &wait, std::uint32_t events, std::uint32_t error);
    // Frees the records left to the driver that it has given back.
    void Reap();
    void RecordEvent(std::string line)
    {
        if (recordEvents_)
            Record(std::move(line));
    }
    static std::string Key(const char *path);
    // The device behind `handle` if it can take a comm call, else the error.
    std::uint32_t Reach(commio::DeviceHandle handle, Device *&device, bool countsForFailNext = true);
    std::string LabelOf(commio::DeviceHandle handle) const;
    void Record(std::string line);

    std::map<std::string, Device> devices_;
    std::map<std::uintptr_t, Held> handles_;
    std::uintptr_t nextHandle_ = 0;
    std::int64_t nowUs_ = 0;
    std::vector<Scheduled> schedule_; // a heap, the earliest first
    std::uint64_t scheduled_ = 0;
    bool recording_ = true;
    bool recordStateReads_ = false;
    bool recordEvents_ = false;
    bool recordOutputs_ = false;
    std::vector<OutputChange> outputs_;
    std::uint64_t waitsStarted_ = 0, waitsCollected_ = 0, closedPending_ = 0;
    std::vector<std::unique_ptr<Wait>> records_; // made by WatchLines, not yet given back
    std::vector<std::unique_ptr<Wait>> parked_;  // given back while the driver held them
    commio::DeviceSettings plugSettings_ = DriverDefaults();
    bool listed_ = true;
    std::uint32_t listFailure_ = 0;
    std::vector<std::string> calls_;
    std::uint64_t modemStatusCalls_ = 0, opens_ = 0, closes_ = 0, badCloses_ = 0, clockReads_ = 0,
                  quietClockReads_ = 0;
};

// One line of the record for a line format: "2400 8O1".
std::string DescribeLine(const commio::LineSettings &line);
// The fields that differ, "name before->after" each, comma-separated, in
// the DCB's order ("" when none do).
std::string DescribeChanges(const commio::DeviceSettings &before, const commio::DeviceSettings &after);

} // namespace sim
