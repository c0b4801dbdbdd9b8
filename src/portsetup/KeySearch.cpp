#include "portsetup/KeySearch.h"

#include <cstdio>
#include <utility>

#include "uart/ModemLines.h"

namespace portsetup {

KeySearch::KeySearch(commio::CommApi &api, const SearchLimits &limits, std::string hint, Print print,
                     SystemText systemText)
    : finder_(api, std::move(systemText)), presses_(limits.presses ? limits.presses : FindDefaultPresses),
      seconds_(limits.seconds > 0 ? limits.seconds : FindDefaultSeconds), hint_(std::move(hint)),
      print_(std::move(print))
{
}

void KeySearch::Begin(const std::vector<PortInfo> &ports, std::uint32_t nowMs)
{
    startMs_ = nowMs;
    print_("Finding the key on " + std::to_string(ports.size()) + " serial port" + (ports.size() == 1 ? "" : "s") +
           ".");
    finder_.Open(ports);
    for (const WatchedPort &port : finder_.Ports()) {
        const std::string device = port.friendlyName.empty() ? "" : " (" + port.friendlyName + ")";
        print_(port.state == WatchedPort::State::Watching ? "  watching " + port.name + device
                                                          : "  skipped  " + port.name + device + ": " + port.why);
    }
    if (finder_.Watching() == 0)
        return;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.0f", seconds_);
    print_("Press the key " + std::to_string(presses_) + " times now, briefly, with a pause between. The search "
           "ends a second after press " + std::to_string(presses_) + ", or after " + seconds + " s; " + hint_);
}

bool KeySearch::Poll(std::uint32_t nowMs)
{
    if (finder_.Watching() == 0)
        return true;
    const bool found = finder_.Poll(presses_);
    PrintChanges();
    // Unsigned: the tick's wrap leaves the difference right.
    const double elapsed = static_cast<double>(nowMs - startMs_) / 1000.0;
    return found || finder_.Watching() == 0 || elapsed >= seconds_;
}

Finding KeySearch::End(const std::string &stopped)
{
    PrintChanges();
    finder_.CloseAll();
    print_(stopped + "Every port searched is closed, its lines off.");
    print_("");
    const Finding finding = finder_.Result();
    const std::string mapLine =
        finding.kind == Finding::Kind::Found && lineFor_ ? lineFor_(finding) : std::string();
    for (const std::string &line : DescribeFinding(finding, mapLine))
        print_(line);
    return finding;
}

void KeySearch::PrintChanges()
{
    const auto &ports = finder_.Ports();
    shown_.resize(ports.size());
    for (std::size_t p = 0; p < ports.size(); ++p)
        for (const uart::ModemLine line : uart::InputLines) {
            unsigned &shown = shown_[p][line];
            if (ports[p].Swings(line) != shown) {
                shown = ports[p].Swings(line);
                print_("  " + ports[p].name + " " + line.Name() + " changed (" + std::to_string(shown) + ")");
            }
        }
}

} // namespace portsetup
