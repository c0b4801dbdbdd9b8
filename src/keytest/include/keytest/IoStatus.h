// What the comm-port io.dll says of itself, made useful to a technician.
// Its text is for people, and gives Windows error codes as bare numbers
// ("CreateFile failed (error 2)"): each gets the system's message beside
// it. What the tester concludes (the advice for the errors a technician can
// act on, how the driver signals the lines) comes from the io.dll's records
// of its UARTs alone, never from the text's words.
#pragma once

#include <string>
#include <vector>

#include "CommPortIo.h"
#include "portsetup/SystemMessage.h"

namespace keytest {

using portsetup::SystemText;

// The comm-port io.dll's status as it gives it: the text, and a record for
// each mapped UART (none from an io.dll that has no records, or no map).
struct IoDllStatus {
    std::string text;
    std::vector<CommIoUart> uarts;
};

// Every record an io.dll gives through its CommIoUartStatus, or a call of
// that form; at most MaxUartRecords, whatever count it answers.
constexpr unsigned MaxUartRecords = 64;
template <typename UartStatusFn> std::vector<CommIoUart> ReadUartRecords(UartStatusFn uartStatus)
{
    std::vector<CommIoUart> uarts;
    CommIoUart record{};
    record.size = sizeof record;
    const std::uint32_t count = uartStatus(0, &record);
    for (std::uint32_t i = 0; i < count && i < MaxUartRecords; ++i) {
        record = CommIoUart{};
        record.size = sizeof record;
        uartStatus(i, &record);
        uarts.push_back(record);
    }
    return uarts;
}

struct ExplainedStatus {
    std::string text;                // "... (error 2: The system cannot find the file specified) ..."
    std::vector<std::string> advice; // what to do, one line for each kind of trouble met, in order
};

ExplainedStatus ExplainIoStatus(const IoDllStatus &status, const SystemText &systemText);

// What the records say of the line events: whether the io.dll watches the
// driver's comm events for a device it holds, how many presses and releases
// it recovered that fell between two polls, and how many changes only its
// periodic refresh found (a driver that signals nothing).
struct LineEventsStatus {
    bool watched = false;
    bool refused = false;     // the driver refused them: one read per poll
    unsigned long recovered = 0;
    unsigned long refreshFinds = 0;
};

LineEventsStatus ReadLineEvents(const std::vector<CommIoUart> &uarts);
// One line for a report: "watched, 2 edges recovered between polls, ...".
std::string DescribeLineEvents(const LineEventsStatus &events);

} // namespace keytest
