#include "keytest/IoStatus.h"

#include <algorithm>
#include <cctype>

#include "commio/WindowsErrors.h"
#include "portsetup/OpenFailure.h"

namespace keytest {

namespace {

using portsetup::ClassifyOpenFailure;
using portsetup::OpenFailure;

// What to do about a code a UART's record names. At the open, the code says
// whether there is such a device and whether another program holds it;
// from any later call, access denied is how a removed device answers, as
// the io.dll itself takes it.
std::string AdviceFor(std::uint32_t error, bool atTheOpen)
{
    const OpenFailure open = ClassifyOpenFailure(error);
    if (open == OpenFailure::NoSuchDevice)
        return std::string("the port is ") + portsetup::NotThereNow +
               "; if it is plugged in, `zelbin-keytest --ports` lists the ports this PC has: name one of them in "
               "io-ports.txt";
    if (open == OpenFailure::HeldElsewhere && atTheOpen)
        return "the port is in use: close the other program that holds it (a terminal, a modem or device tool); "
               "the io.dll takes the port at its next try";
    if (commio::MeansDeviceRemoved(error))
        return "the device stopped answering, as an unplugged adapter does: plug it in again; the io.dll tries "
               "again about twice a second";
    if (error == commio::ErrorInvalidParameter)
        return "the adapter refuses the library's line format; the key lines still work, since no data flows";
    return {};
}

// What one UART's record calls for, or nothing.
std::string AdviceFor(const CommIoUart &uart)
{
    if (uart.link == COMMIO_LINK_NOT_HELD && uart.failedCall == COMMIO_CALL_NONE &&
        (uart.adapter == COMMIO_ADAPTER_NOT_LISTED || uart.adapter == COMMIO_ADAPTER_NO_PORTS))
        return std::string("the adapter is ") + portsetup::NotThereNow +
               "; the io.dll looks for it about twice a second";
    if (uart.link == COMMIO_LINK_NOT_YET_OPENED || uart.failedCall == COMMIO_CALL_NONE || uart.error == 0)
        return {};
    return AdviceFor(uart.error, uart.failedCall == COMMIO_CALL_CREATE_FILE);
}

// The text with the system's message beside each whole "(error N)" of up to
// nine digits: for people, so whatever doesn't read so is kept as it is.
std::string WithSystemTexts(const std::string &status, const SystemText &systemText)
{
    static const std::string marker = "(error ";
    std::string text;
    std::size_t from = 0;
    while (true) {
        const std::size_t at = status.find(marker, from);
        if (at == std::string::npos)
            return text + status.substr(from);
        const std::size_t digits = at + marker.size();
        std::size_t end = digits;
        while (end < status.size() && std::isdigit(static_cast<unsigned char>(status[end])))
            ++end;
        if (end == digits || end >= status.size() || status[end] != ')' || end - digits > 9) {
            text += status.substr(from, digits - from);
            from = digits;
            continue;
        }
        const std::string message = systemText ? systemText(std::stoul(status.substr(digits, end - digits))) : "";
        text += status.substr(from, end - from) + (message.empty() ? "" : ": " + message) + ')';
        from = end + 1;
    }
}

} // namespace

ExplainedStatus ExplainIoStatus(const IoDllStatus &status, const SystemText &systemText)
{
    ExplainedStatus explained;
    explained.text = WithSystemTexts(status.text, systemText);
    for (const CommIoUart &uart : status.uarts) {
        const std::string advice = AdviceFor(uart);
        if (!advice.empty() &&
            std::find(explained.advice.begin(), explained.advice.end(), advice) == explained.advice.end())
            explained.advice.push_back(advice);
    }
    return explained;
}

LineEventsStatus ReadLineEvents(const std::vector<CommIoUart> &uarts)
{
    LineEventsStatus events;
    for (const CommIoUart &uart : uarts) {
        events.watched = events.watched || uart.events == COMMIO_EVENTS_WATCHED;
        events.refused = events.refused || uart.events == COMMIO_EVENTS_REFUSED;
        events.recovered += uart.edgesRecovered;
        events.refreshFinds += uart.refreshFinds;
    }
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
