#include "keytest/IoStatus.h"

#include <cstdlib>

#include <algorithm>
#include <cctype>

#include "commio/WindowsErrors.h"
#include "portsetup/OpenFailure.h"

namespace keytest {

namespace {

using portsetup::ClassifyOpenFailure;
using portsetup::OpenFailure;

// What to do about a code the io.dll names. At the open, the code says
// whether there is such a device and whether another program holds it;
// from any later call, access denied is how a removed device answers, as
// the io.dll itself takes it.
const char *AdviceFor(unsigned long code, bool atTheOpen)
{
    const std::uint32_t error = code > 0xFFFFFFFFul ? 0 : static_cast<std::uint32_t>(code);
    const OpenFailure open = ClassifyOpenFailure(error);
    if (open == OpenFailure::NoSuchDevice)
        return "no such port on this PC: see `zelbin-keytest --ports` for the ports it has, and name one of them "
               "in io-ports.txt";
    if (open == OpenFailure::HeldElsewhere && atTheOpen)
        return "the port is in use: close the other program that holds it (a terminal, a modem or device tool); "
               "the io.dll takes the port at its next try";
    if (commio::MeansDeviceRemoved(error))
        return "the device stopped answering, as an unplugged adapter does: plug it in again; the io.dll tries "
               "again about twice a second";
    if (error == commio::ErrorInvalidParameter)
        return "the adapter refuses the library's line format; the key lines still work, since no data flows";
    return nullptr;
}

} // namespace

ExplainedStatus ExplainIoStatus(const std::string &status, const SystemText &systemText)
{
    static const std::string marker = "(error ";
    ExplainedStatus explained;
    std::size_t from = 0;
    while (true) {
        const std::size_t at = status.find(marker, from);
        const std::size_t digits = at == std::string::npos ? at : at + marker.size();
        std::size_t end = digits;
        while (end != std::string::npos && end < status.size() && std::isdigit(static_cast<unsigned char>(status[end])))
            ++end;
        // Only a whole "(error N)" is a code: other text is kept as it is.
        if (at == std::string::npos || end == digits || end >= status.size() || status[end] != ')' ||
            end - digits > 9) {
            if (at == std::string::npos) {
                explained.text += status.substr(from);
                break;
            }
            explained.text += status.substr(from, digits - from);
            from = digits;
            continue;
        }
        const unsigned long code = std::stoul(status.substr(digits, end - digits));
        explained.text += status.substr(from, end - from);
        const std::string message = systemText ? systemText(code) : std::string();
        if (!message.empty())
            explained.text += ": " + message;
        explained.text += ')';
        from = end + 1;
        // The call that failed is named in this UART's part of the text,
        // after the last "; ".
        const std::size_t part = status.rfind("; ", at);
        const std::size_t partStart = part == std::string::npos ? 0 : part + 2;
        const std::string said = status.substr(partStart, at - partStart);
        const bool atTheOpen = said.find("CreateFile failed") != std::string::npos ||
                               said.find("open failed") != std::string::npos;
        if (const char *advice = AdviceFor(code, atTheOpen))
            if (std::find(explained.advice.begin(), explained.advice.end(), advice) == explained.advice.end())
                explained.advice.push_back(advice);
    }
    return explained;
}

namespace {

// The number just before `words` in `status`, or 0.
unsigned long CountBefore(const std::string &status, const char *words)
{
    const std::size_t at = status.find(words);
    if (at == std::string::npos || at < 2 || status[at - 1] != ' ')
        return 0;
    std::size_t start = at - 1;
    while (start > 0 && status[start - 1] >= '0' && status[start - 1] <= '9')
        --start;
    if (start == at - 1)
        return 0;
    return std::strtoul(status.substr(start, at - 1 - start).c_str(), nullptr, 10);
}

} // namespace

LineEventsStatus ReadLineEvents(const std::string &status)
{
    LineEventsStatus events;
    events.watched = status.find("line events watched") != std::string::npos;
    events.refused = status.find("line events refused") != std::string::npos;
    events.recovered = CountBefore(status, "edges recovered between polls");
    events.refreshFinds = CountBefore(status, "changes found only by refresh");
    return events;
}

std::string DescribeLineEvents(const LineEventsStatus &events)
{
    std::string text = events.watched   ? "watched (a poll makes no device call unless a line changed)"
                       : events.refused ? "refused by the driver: one modem status read per poll"
                                        : "not watched: one modem status read per poll";
    text += ", " + std::to_string(events.recovered) + " edge" + (events.recovered == 1 ? "" : "s") +
            " recovered between polls";
    if (events.refreshFinds)
        text += ", " + std::to_string(events.refreshFinds) + " change" + (events.refreshFinds == 1 ? "" : "s") +
                " found only by the refresh (the driver did not signal them)";
    return text;
}

} // namespace keytest
