// Finding the key by pressing it: every free serial port is claimed as the
// comm-port io.dll claims one (DTR and RTS off in the same step as the
// open, then RTS on, the supply of a passive key), and CTS, DSR, DCD and RI
// are watched on all of them while the technician presses the key. The line
// that comes and goes is the key; its level at rest tells the polarity.
//
// It runs on commio::CommApi: the Windows binding passes the calls to the
// serial driver, host tests to simulated COM devices. The clock is the
// API's own millisecond count.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "commio/CommApi.h"
#include "uart/ModemLines.h"
#include "portsetup/PortList.h"
#include "portsetup/SystemMessage.h"

namespace portsetup {

struct WatchedPort {
    enum class State { Watching, Skipped, Vanished, Closed };
    std::string name;         // "COM5"
    std::string friendlyName; // "USB Serial Port (COM5)", or empty
    UsbIdentity usb;
    State state = State::Skipped;
    std::string why;          // skipped or vanished: the reason
    commio::DeviceHandle handle = nullptr;
    std::uint32_t openedAt = 0;
    bool settled = false;
    std::uint8_t last = 0;     // the status lines at the latest reading
    std::uint8_t resting = 0;  // each line's level at rest (its bit in the status lines)
    // Per status line, from the first settled reading: when it last
    // changed, and how often it left each level.
    uart::PerLine<std::uint32_t> changedAt;
    uart::PerLine<unsigned> leftOn;
    uart::PerLine<unsigned> leftOff;

    // A line's level at rest is the last one it held for QuietMs, the first
    // settled reading until then: the key lies still before the first press
    // and after the last, however long the presses and however the search
    // began (a key held down as it starts is let go and rests).
    bool RestsOn(uart::ModemLine line) const;
    // Departures from the level at rest: the presses seen on that line.
    unsigned Presses(uart::ModemLine line) const;
    // The count to show while the search runs: departures from the level
    // left more often. It never goes down, whichever level turns out to be
    // the one at rest.
    unsigned Swings(uart::ModemLine line) const { return leftOn[line] > leftOff[line] ? leftOn[line] : leftOff[line]; }
    // A line came and went: some line has a press.
    bool Pressed() const;
    // A line changed at all, a press or not.
    bool Changed() const;
};

struct Finding {
    enum class Kind { Found, NoneChanged, NoPress, SeveralPorts, NothingToWatch };
    Kind kind = Kind::NothingToWatch;
    // Found:
    std::string port;
    std::string friendlyName;
    UsbIdentity usb;
    uart::ModemLine line = uart::ModemLine::Cts;
    bool opensWhenPressed = false; // the line is on at rest and goes off
    unsigned presses = 0;
    std::vector<uart::ModemLine> alsoChanged; // other lines of the same port
    // SeveralPorts: every port with a press, "COM3 (CTS 3 times)".
    std::vector<std::string> changedPorts;
    // NoPress: the lines that changed and stayed, "COM5 DSR".
    std::vector<std::string> stuckLines;
    // Every kind: the ports not watched and those lost on the way, with
    // why ("COM3: held by another program"), and the names of those watched.
    std::vector<std::string> skipped;
    std::vector<std::string> lost;
    std::vector<std::string> watched;
};

class KeyFinder {
public:
    // A line's first reading after this long since the port's claim is its
    // level at rest: an adapter reports its lines late, and a passive key's
    // lines follow RTS only once it has come on.
    static constexpr std::uint32_t SettleMs = 100;
    // A line that keeps a level this long rests there. The search ends once
    // the key's line has rested this long after its last press.
    static constexpr std::uint32_t QuietMs = 1000;

    // `systemText`: Windows' message for a code, beside the code in the
    // reasons a port is skipped or lost (null: the code alone).
    explicit KeyFinder(commio::CommApi &api, SystemText systemText = nullptr)
        : api_(api), systemText_(std::move(systemText))
    {
    }
    ~KeyFinder() { CloseAll(); }
    KeyFinder(const KeyFinder &) = delete;
    KeyFinder &operator=(const KeyFinder &) = delete;

    // Claims every port of the list; those that can't be are kept as
    // skipped, with the reason.
    void Open(const std::vector<PortInfo> &ports);
    // One reading of every watched port. True once a line has come and
    // gone `presses` times and has rested for QuietMs since.
    bool Poll(unsigned presses);
    // RTS off, then closed; each port once. Safe to call again.
    void CloseAll();

    unsigned Watching() const;
    const std::vector<WatchedPort> &Ports() const { return ports_; }
    Finding Result() const;

private:
    commio::CommApi &api_;
    SystemText systemText_;
    std::vector<WatchedPort> ports_;
};

// "USB Serial Port" from "USB Serial Port (COM5)".
std::string DeviceDescription(const std::string &friendlyName, const std::string &port);

// What the finding means, and what to do about it, a line each. `mapLine`:
// the line of io-ports.txt that carries the key found, as the map there
// would take it (a key beside another key's line gets its own UART's);
// empty: the line for a map of this key alone.
std::vector<std::string> DescribeFinding(const Finding &finding, const std::string &mapLine = {});

} // namespace portsetup
