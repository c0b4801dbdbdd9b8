#include "ConsoleStop.h"

namespace keytest {

namespace {

// The handler runs on a thread of its own, so it reaches the loop through
// these. They stay until the process ends: a handler that began before the
// loop ended may still be using them.
HANDLE stopEvent = nullptr; // set to end the loop
HANDLE doneEvent = nullptr; // set once the loop has given back what it held

BOOL WINAPI OnConsoleControl(DWORD event)
{
    SetEvent(stopEvent);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        WaitForSingleObject(doneEvent, 4000);
    return TRUE;
}

} // namespace

ConsoleStop::ConsoleStop()
{
    if (!stopEvent)
        stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!doneEvent)
        doneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (Ready())
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

ConsoleStop::~ConsoleStop()
{
    if (Ready())
        SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool ConsoleStop::Ready() const { return stopEvent && doneEvent; }

HANDLE ConsoleStop::Event() const { return stopEvent; }

void ConsoleStop::Done() { SetEvent(doneEvent); }

} // namespace keytest
