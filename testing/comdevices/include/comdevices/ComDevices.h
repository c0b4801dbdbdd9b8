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
// that works only when asked for: each SetCommState follows one); the clock
// moves only when told.
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
        // set). `silent`: a wait is taken and never completes.
        std::uint32_t refuseEvents = 50; // ERROR_NOT_SUPPORTED
        bool silent = false;
        // A cancel the driver takes its time over: the wait stays pending
        // after it, until the handle closes.
        bool slowCancel = false;
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
    // A status line moved: an output line is the driver's, not the device's.
    void SetInput(const std::string &name, uart::ModemLine line, bool level);
    // A driver that tells of a change late (a USB adapter's next report, a
    // wait thread that ran late): a line changed while the device is
    // `silent`, told now, with these events, to the waits pending on `name`.
    void TellWaits(const std::string &name, std::uint32_t events) { CompleteWaits(name, events, 0); }
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

    void Advance(std::uint32_t ms) { now_ += ms; }
    void SetRecording(bool on) { recording_ = on; }
    void SetRecordingStateReads(bool on) { recordStateReads_ = on; }
    // SetCommMask, WaitCommEvent, GetOverlappedResult and CancelIo are
    // recorded only when asked for, like GetCommState.
    void SetRecordingEvents(bool on) { recordEvents_ = on; }
    // Comm event waits: started, collected (their result taken, or
    // cancelled and collected), and handles closed with a wait still
    // pending, which a real driver would complete into freed storage.
    std::uint64_t WaitsStarted() const { return waitsStarted_; }
    std::uint64_t WaitsCollected() const { return waitsCollected_; }
    // Closed with a wait pending whose record its owner still had: the
    // driver would complete it into storage about to be freed.
    std::uint64_t ClosedWithWaitPending() const { return closedPending_; }
    std::size_t WaitsPending() const;
    // Records given up still pending (at an unload): kept alive here, as
    // they must be for the driver; and the records given back at all.
    std::size_t WaitsAbandoned() const { return abandoned_.size(); }
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
    std::uint32_t WatchLines(commio::DeviceHandle handle, commio::CommWait *&wait) override;
    std::uint32_t StartWait(commio::DeviceHandle handle, commio::CommWait &wait) override;
    bool WaitPending(const commio::CommWait &wait) override { return static_cast<const Wait &>(wait).pending; }
    std::uint32_t WaitResult(commio::DeviceHandle handle, commio::CommWait &wait) override;
    void EndWait(commio::DeviceHandle handle, commio::CommWait *&wait, bool mayBlock) override;
    // CancelIoEx on the handle's pending wait: completed as cancelled at
    // once, unless its device cancels slowly. False: no wait was pending.
    bool Cancel(commio::DeviceHandle handle);
    std::uint32_t ListPorts(PortVisitor visit, void *context) override;
    std::uint32_t Ticks() override
    {
        ++clockReads_;
        return now_;
    }
    std::uint64_t ClockReads() const { return clockReads_; }

    // What an open that fails returns to a CreateFileA caller.
    static commio::DeviceHandle Invalid() { return reinterpret_cast<commio::DeviceHandle>(~std::uintptr_t{0}); }

private:
    struct Held {
        std::string name;
        std::uint32_t generation;
        std::string label; // "c1"
        bool masked = false;             // SetCommMask took the line events
        Wait *wait = nullptr; // started and not yet collected
    };
    std::uint32_t ReachForEvents(commio::DeviceHandle handle, Held *&held, Device *&device);
    // Completes every pending wait on `name`'s handles: with `events`, or
    // with `error` when the device went away.
    void CompleteWaits(const std::string &name, std::uint32_t events, std::uint32_t error);
    void Complete(Wait &wait, std::uint32_t events, std::uint32_t error);
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
    std::uint32_t now_ = 0;
    bool recording_ = true;
    bool recordStateReads_ = false;
    bool recordEvents_ = false;
    std::uint64_t waitsStarted_ = 0, waitsCollected_ = 0, closedPending_ = 0;
    std::vector<std::unique_ptr<Wait>> records_;   // made by WatchLines, not yet given back
    std::vector<std::unique_ptr<Wait>> abandoned_; // given back still pending
    commio::DeviceSettings plugSettings_ = DriverDefaults();
    bool listed_ = true;
    std::uint32_t listFailure_ = 0;
    std::vector<std::string> calls_;
    std::uint64_t modemStatusCalls_ = 0, opens_ = 0, closes_ = 0, badCloses_ = 0, clockReads_ = 0;
};

// One line of the record for a line format: "2400 8O1".
std::string DescribeLine(const commio::LineSettings &line);
// The fields that differ, "name before->after" each, comma-separated, in
// the DCB's order ("" when none do).
std::string DescribeChanges(const commio::DeviceSettings &before, const commio::DeviceSettings &after);

} // namespace sim
