#include "portsetup/KeyFinder.h"

#include <algorithm>

#include "commio/DeviceClaim.h"
#include "commio/PortMap.h"
#include "commio/WindowsErrors.h"
#include "uart/ModemLines.h"
#include "portsetup/MapWriter.h"
#include "portsetup/OpenFailure.h"

namespace portsetup {

using uart::InputLines;
using uart::ModemLine;

namespace {

std::string Plural(unsigned count, const char *one, const char *many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string JoinNames(const std::vector<std::string> &names)
{
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

// The line that changed most on a port; ties go to the earlier line.
ModemLine BusiestLine(const WatchedPort &port)
{
    ModemLine best = InputLines[0];
    for (const ModemLine line : InputLines)
        if (port.Presses(line) > port.Presses(best))
            best = line;
    return best;
}

} // namespace

bool WatchedPort::RestsOn(ModemLine line) const { return (resting & line.Mask()) != 0; }

unsigned WatchedPort::Presses(ModemLine line) const { return RestsOn(line) ? leftOn[line] : leftOff[line]; }

bool WatchedPort::Pressed() const
{
    return std::any_of(std::begin(InputLines), std::end(InputLines), [this](ModemLine line) { return Presses(line); });
}

bool WatchedPort::Changed() const
{
    return std::any_of(std::begin(InputLines), std::end(InputLines),
                       [this](ModemLine line) { return leftOn[line] || leftOff[line]; });
}

void KeyFinder::Open(const std::vector<PortInfo> &ports)
{
    for (const PortInfo &info : ports) {
        WatchedPort port;
        port.name = info.name;
        port.friendlyName = info.friendlyName;
        port.usb = info.usb;
        const std::string path = "\\\\.\\" + info.name;
        commio::DeviceHandle handle = nullptr;
        if (const std::uint32_t error = api_.Open(path.c_str(), handle)) {
            const OpenFailure failure = ClassifyOpenFailure(error);
            port.why = failure == OpenFailure::HeldElsewhere  ? std::string("held by another program")
                       : failure == OpenFailure::NoSuchDevice ? std::string("missing: ") + NotThereNow
                                                              : "can't be opened (" + CodeText(error, systemText_) + ")";
            ports_.push_back(std::move(port));
            continue;
        }
        // DTR and RTS off in the same step as the open, as the comm-port
        // io.dll claims its port; then RTS alone on.
        std::uint32_t error = commio::ClaimWithLinesOff(api_, handle);
        if (error) {
            api_.Close(handle);
            port.why = "not a serial port (" + CodeText(error, systemText_) + " at its settings)";
            ports_.push_back(std::move(port));
            continue;
        }
        if ((error = api_.EscapeFunction(handle, commio::Escape::SetRts)) != 0) {
            api_.Close(handle);
            port.why = "RTS can't be turned on (" + CodeText(error, systemText_) + ")";
            ports_.push_back(std::move(port));
            continue;
        }
        port.state = WatchedPort::State::Watching;
        port.handle = handle;
        port.openedAt = api_.Ticks();
        ports_.push_back(std::move(port));
    }
}

bool KeyFinder::Poll(unsigned presses)
{
    bool done = false;
    const std::uint32_t now = api_.Ticks();
    for (WatchedPort &port : ports_) {
        if (port.state != WatchedPort::State::Watching)
            continue;
        std::uint8_t lines = 0;
        if (const std::uint32_t error = api_.ModemStatus(port.handle, lines)) {
            api_.Close(port.handle);
            port.handle = nullptr;
            port.state = WatchedPort::State::Vanished;
            port.why = "stopped answering during the search (" + CodeText(error, systemText_) + "): unplugged?";
            continue;
        }
        if (!port.settled) {
            if (now - port.openedAt < SettleMs)
                continue;
            port.settled = true;
            port.last = port.resting = lines;
            std::fill(port.changedAt.begin(), port.changedAt.end(), now);
            continue;
        }
        for (const ModemLine line : InputLines) {
            const std::uint8_t mask = line.Mask();
            const bool on = (lines & mask) != 0;
            if (on != ((port.last & mask) != 0)) {
                ++(on ? port.leftOff : port.leftOn)[line];
                port.changedAt[line] = now;
            } else if (now - port.changedAt[line] >= QuietMs) {
                port.resting = static_cast<std::uint8_t>((port.resting & ~mask) | (lines & mask));
                if (port.Presses(line) >= presses)
                    done = true;
            }
        }
        port.last = lines;
    }
    return done;
}

void KeyFinder::CloseAll()
{
    for (WatchedPort &port : ports_) {
        if (port.state != WatchedPort::State::Watching)
            continue;
        // The lines are left off: the driver usually drops them at the
        // close, but not every one does.
        api_.EscapeFunction(port.handle, commio::Escape::ClrRts);
        api_.Close(port.handle);
        port.handle = nullptr;
        port.state = WatchedPort::State::Closed;
    }
}

unsigned KeyFinder::Watching() const
{
    return static_cast<unsigned>(std::count_if(ports_.begin(), ports_.end(), [](const WatchedPort &p) {
        return p.state == WatchedPort::State::Watching;
    }));
}

Finding KeyFinder::Result() const
{
    Finding finding;
    std::vector<const WatchedPort *> changed;
    std::vector<std::string> stuck;
    for (const WatchedPort &port : ports_) {
        if (port.state == WatchedPort::State::Skipped)
            finding.skipped.push_back(port.name + ": " + port.why);
        if (port.state == WatchedPort::State::Vanished)
            finding.lost.push_back(port.name + ": " + port.why);
        if (port.state != WatchedPort::State::Skipped)
            finding.watched.push_back(port.name);
        if (port.Pressed())
            changed.push_back(&port);
        else
            for (const ModemLine line : InputLines)
                if (port.leftOn[line] || port.leftOff[line])
                    stuck.push_back(port.name + " " + line.Name());
    }
    if (finding.watched.empty()) {
        finding.kind = Finding::Kind::NothingToWatch;
    } else if (changed.empty()) {
        finding.kind = stuck.empty() ? Finding::Kind::NoneChanged : Finding::Kind::NoPress;
        finding.stuckLines = std::move(stuck);
    } else if (changed.size() > 1) {
        finding.kind = Finding::Kind::SeveralPorts;
        for (const WatchedPort *port : changed) {
            std::string lines;
            for (const ModemLine line : InputLines)
                if (port->Presses(line))
                    lines += std::string(lines.empty() ? "" : ", ") + line.Name() + " " +
                             Plural(port->Presses(line), "time", "times");
            finding.changedPorts.push_back(port->name + " (" + lines + ")");
        }
    } else {
        const WatchedPort &port = *changed.front();
        finding.kind = Finding::Kind::Found;
        finding.port = port.name;
        finding.friendlyName = port.friendlyName;
        finding.usb = port.usb;
        finding.line = BusiestLine(port);
        finding.presses = port.Presses(finding.line);
        finding.opensWhenPressed = port.RestsOn(finding.line);
        for (const ModemLine line : InputLines)
            if (line != finding.line && port.Presses(line))
                finding.alsoChanged.push_back(line);
    }
    return finding;
}

std::string DeviceDescription(const std::string &friendlyName, const std::string &port)
{
    const std::string suffix = " (" + port + ")";
    if (friendlyName.size() > suffix.size() &&
        friendlyName.compare(friendlyName.size() - suffix.size(), suffix.size(), suffix) == 0)
        return friendlyName.substr(0, friendlyName.size() - suffix.size());
    return friendlyName;
}

namespace {

// Where the key is, how it is wired, and the map line that carries it.
void DescribeFound(const Finding &finding, const std::string &mapLine, std::vector<std::string> &text)
{
    const std::string device = DeviceDescription(finding.friendlyName, finding.port);
    text.push_back("The key is on " + finding.port + (device.empty() ? "" : ", " + device) + ", line " +
                   finding.line.Name() + ", " +
                   (finding.opensWhenPressed ? "opens when pressed" : "closes when pressed") + " (" +
                   Plural(finding.presses, "press", "presses") + " seen).");
    if (finding.usb.Known())
        text.push_back("The adapter is " + IdentityText(finding.usb) + ".");
    const bool onCts = finding.line == ModemLine::Cts;
    if (onCts && !finding.opensWhenPressed) {
        text.push_back("That is the wiring the key library reads. io-ports.txt beside the comm-port io.dll "
                       "needs the line:");
    } else {
        text.push_back(std::string("The key library reads CTS closing; this key is ") +
                       (!onCts ? std::string("on ") + finding.line.Name() : "") +
                       (!onCts && finding.opensWhenPressed ? " and " : "") +
                       (finding.opensWhenPressed ? "normally closed" : "") +
                       ". The comm-port io.dll carries it with the line:");
    }
    text.push_back("  " + (mapLine.empty() ? MapLineFor(finding) : mapLine));
    if (!finding.alsoChanged.empty()) {
        std::vector<std::string> names;
        for (const ModemLine line : finding.alsoChanged)
            names.push_back(line.Name());
        text.push_back(JoinNames(names) + " changed too, less often: a key wired to two lines, or a line "
                       "that picks up the other. " + finding.line.Name() +
                       " changed most; check the wiring if the key misbehaves.");
    }
}

} // namespace

std::vector<std::string> DescribeFinding(const Finding &finding, const std::string &mapLine)
{
    std::vector<std::string> text;
    switch (finding.kind) {
    case Finding::Kind::Found: DescribeFound(finding, mapLine, text); break;
    case Finding::Kind::NoneChanged:
        text.push_back("No line changed on " + JoinNames(finding.watched) + ".");
        text.push_back("Check that the key is plugged into the port or the adapter, that the adapter is listed "
                       "(zelbin-keytest --ports), and the key's wiring: a passive key takes its supply from RTS, "
                       "which the search turns on. Then search again and press the key firmly a few times.");
        break;
    case Finding::Kind::NoPress:
        text.push_back("A line changed and didn't change back: " + JoinNames(finding.stuckLines) + ".");
        text.push_back("That is a key held down, or a device that turned a line on or off, not a press. Let go of "
                       "the key, search again, and press it briefly each time.");
        break;
    case Finding::Kind::SeveralPorts:
        text.push_back("Lines changed on more than one port: " + JoinNames(finding.changedPorts) + ".");
        text.push_back("Only the key's port should change. Unplug the other devices on these ports (a modem, a "
                       "second key), or keep them still, and search again.");
        break;
    case Finding::Kind::NothingToWatch:
        text.push_back("No port could be watched.");
        text.push_back("Plug the adapter in and wait until Windows lists it (zelbin-keytest --ports); close any "
                       "program that holds the port (a host, a terminal), then search again.");
        break;
    }
    for (const std::string &skipped : finding.skipped)
        text.push_back("Not searched: " + skipped + ".");
    for (const std::string &lost : finding.lost)
        text.push_back("Lost: " + lost);
    if (!finding.skipped.empty() && finding.kind != Finding::Kind::Found)
        text.push_back("If the key could be on a port not searched, free that port and search again.");
    return text;
}

} // namespace portsetup
