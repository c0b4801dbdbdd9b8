#include "keytest/KeyWindowController.h"

#include <algorithm>

#include "library/PortChoice.h"
#include "portsetup/MapWriter.h"

namespace keytest {

void KeyWindowController::LoadAndList()
{
    loadError_ = host_.LoadLibraries();
    std::string mapProblem;
    ports_ = host_.ListAndProbePorts(mapProblem);
}

std::vector<std::string> KeyWindowController::PortItems() const
{
    const SystemText systemText = host_.SystemMessages();
    std::vector<std::string> items;
    for (const portsetup::PortInfo &port : ports_) {
        std::string item = port.name;
        if (!port.friendlyName.empty())
            item += "  " + port.friendlyName;
        item += "  (" + portsetup::AccessText(port.access, port.accessError, systemText) + ")";
        if (port.mapLine)
            item += "  io-ports.txt line " + std::to_string(port.mapLine);
        items.push_back(item);
    }
    return items;
}

int KeyWindowController::FirstPort() const
{
    int mapped = -1, free = -1;
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        const portsetup::PortInfo &port = ports_[i];
        if (port.mapLine && (mapped < 0 || port.mapLine < ports_[static_cast<std::size_t>(mapped)].mapLine))
            mapped = static_cast<int>(i);
        if (free < 0 && port.access == portsetup::PortAccess::Free)
            free = static_cast<int>(i);
    }
    return mapped >= 0 ? mapped : free;
}

std::string KeyWindowController::ParametersFor(std::size_t index) const
{
    if (index >= ports_.size())
        return {};
    const portsetup::PortInfo &port = ports_[index];
    if (port.mapBase)
        return port.name + ";" + AddressText(port.mapBase);
    for (const library::ComPort &row : library::ComPortTable)
        if (port.name == row.name)
            return port.name;
    return port.name + ";" + library::ComPortTable[0].addressText;
}

std::string KeyWindowController::IoLine()
{
    if (!loadError_.empty())
        return "Cannot test: " + loadError_;
    const IoDescription io = host_.DescribeIo();
    std::string text = "io.dll: " + io.path;
    if (!io.kind.empty())
        text += " (" + io.kind + ")";
    text += io.driverAnswers ? ", driver answers" : ", driver does not answer";
    if (io.commio && !io.commioStatus.text.empty()) {
        const ExplainedStatus status = ExplainIoStatus(io.commioStatus, host_.SystemMessages());
        text += "; " + status.text;
        for (const std::string &advice : status.advice)
            text += "\nWhat to do: " + advice + ".";
    }
    return text;
}

bool KeyWindowController::LeadWithFind()
{
    if (!Loaded())
        return false;
    const IoDescription io = host_.DescribeIo();
    return io.commio && std::none_of(io.commioStatus.uarts.begin(), io.commioStatus.uarts.end(),
                                     [](const CommIoUart &uart) { return uart.link == COMMIO_LINK_HELD; });
}

void KeyWindowController::StartFind(const portsetup::SearchLimits &limits)
{
    model_.FindStarted();
    host_.UnloadLibraries();
    loadError_ = "the libraries are unloaded while the search runs";
    foundParameters_.clear();
    search_ = std::make_unique<portsetup::KeySearch>(host_.Serial(), limits, "Stop stops it.",
                                                     [this](const std::string &line) { model_.Print(line); },
                                                     host_.SystemMessages());
    search_->Begin(host_.PortsToSearch(), host_.Ticks());
    model_.Status("Press the key " + std::to_string(search_->Presses()) + " times now, briefly, with a pause between.");
}

bool KeyWindowController::PollFind() { return search_ && search_->Poll(host_.Ticks()); }

void KeyWindowController::EndFind(const std::string &stopped, const std::string &parameters)
{
    if (!search_)
        return;
    // The UART the Parameters select, where they do: the map line the key
    // found is said with, and written with.
    const std::optional<std::uint16_t> base = MapBaseFor(parameters);
    search_->MapLineFrom([&](const portsetup::Finding &found) {
        const portsetup::MapPlan plan = portsetup::PlanMapFile(host_.MapPath(), found, base);
        return plan.ok ? plan.line : std::string();
    });
    const portsetup::Finding finding = search_->End(stopped);
    search_.reset();
    model_.FindFinished({});
    // A search cut short is no finding to act on.
    if (finding.kind == portsetup::Finding::Kind::Found && stopped.empty()) {
        const portsetup::MapPlan plan = portsetup::PlanMapFile(host_.MapPath(), finding, base);
        if (!plan.ok) {
            model_.Print(plan.why);
            model_.Status("io-ports.txt was not changed: see the last lines below.");
        } else if (host_.Ask("Found the key", "Write the key found to " + host_.MapPath() + "?\n\n" + plan.Change() +
                                                  ".")) {
            host_.WriteMap(finding, base, [this](const std::string &line) { model_.Print(line); });
        }
        foundParameters_ =
            finding.port + ";" +
            (plan.ok && !plan.any ? AddressText(plan.base) : base ? AddressText(*base) : library::ComPortTable[0].addressText);
    }
    LoadAndList();
}

void KeyWindowController::AbandonFind()
{
    if (search_)
        search_->End("Stopped. ");
    search_.reset();
}

} // namespace keytest
