// zelbin-virtualkey: works the virtual key of the stand-in io.dll and shows
// the simulated port's lines, while any host runs against the stand-in in
// the same Windows session.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "StandInIo.h"
#include "Zelbin_SerialLoader.h"
#include "virtualkey/VirtualKeyOptions.h"
#include "uart/Uart16550.h"

namespace {

using Uart = uart::Uart16550;

volatile LONG stopRequested = 0;

BOOL WINAPI OnConsoleControl(DWORD)
{
    InterlockedExchange(&stopRequested, 1);
    return TRUE;
}

struct StandIn {
    decltype(&SimSetKey) SetKey;
    decltype(&SimGetUart) GetUart;
    decltype(&SimGetDriverInstalled) GetDriverInstalled;
    decltype(&SimSetDriverInstalled) SetDriverInstalled;
    decltype(&SimFoundRunning) FoundRunning;
};

const char *OnOff(bool on) { return on ? "on " : "off"; }

void Show(const SimUartState &u, bool driver)
{
    const unsigned divisor = static_cast<unsigned>(u.divisorHigh << 8 | u.divisorLow);
    const bool cts = u.modemStatus & Uart::MSR_CTS;
    std::printf("UART at %04Xh\n", u.base);
    std::printf("  lines : CTS %s  RTS %s  DTR %s  (key %s)\n", OnOff(cts), OnOff(u.modemControl & Uart::MCR_RTS),
                OnOff(u.modemControl & Uart::MCR_DTR), cts ? "pressed" : "released");
    std::printf("  MCR %02Xh  MSR %02Xh  LCR %02Xh  IER %02Xh  FCR %02Xh  divisor %u", u.modemControl, u.modemStatus,
                u.lineControl, u.interruptEnable, u.fifoControl, divisor);
    if (divisor)
        std::printf(" (%u baud)", 115200u / divisor);
    std::printf("\n  driver: %s\n", driver ? "present" : "absent");
}

double Now()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int NoUart(WORD port)
{
    std::fprintf(stderr, "zelbin-virtualkey: no UART at %04Xh\n", port);
    return 1;
}

int Watch(const StandIn &sim, WORD port, double seconds, DWORD intervalMs)
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const double start = Now();
    SimUartState last{};
    bool first = true;
    while (!stopRequested && (seconds <= 0 || Now() - start < seconds)) {
        SimUartState u{};
        if (!sim.GetUart(port, &u))
            return NoUart(port);
        const bool changed = first || u.base != last.base || ((u.modemStatus ^ last.modemStatus) & Uart::MSR_CTS) ||
                             ((u.modemControl ^ last.modemControl) & (Uart::MCR_DTR | Uart::MCR_RTS));
        if (changed)
            std::printf("[%8.3f s] %04Xh  CTS %s  RTS %s  DTR %s\n", Now() - start, u.base,
                        OnOff(u.modemStatus & Uart::MSR_CTS), OnOff(u.modemControl & Uart::MCR_RTS),
                        OnOff(u.modemControl & Uart::MCR_DTR));
        last = u;
        first = false;
        Sleep(intervalMs);
    }
    return 0;
}

// Plays key events at their times (milliseconds from now).
int Play(const StandIn &sim, WORD port, const std::vector<sim::KeyEvent> &events)
{
    const double start = Now();
    for (const sim::KeyEvent &event : events) {
        while (Now() - start < event.atMs / 1000.0)
            Sleep(1);
        if (!sim.SetKey(port, event.down ? 1 : 0))
            return NoUart(port);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    VirtualKeyOptions options;
    const std::string usageError = ParseVirtualKeyOptions(std::vector<std::string>(argv + 1, argv + argc), options);
    if (!usageError.empty()) {
        std::fprintf(stderr, "zelbin-virtualkey: %s\n(--help explains the commands)\n", usageError.c_str());
        return 2;
    }
    if (options.command == VirtualKeyCommand::Help) {
        std::fputs(VirtualKeyUsage, stdout);
        return 0;
    }

    char self[MAX_PATH];
    std::string ioPath(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    ioPath.erase(ioPath.find_last_of("\\/") + 1);
    ioPath += "io.dll";
    HMODULE io = LoadLibraryA(ioPath.c_str());
    if (!io) {
        std::fprintf(stderr, "zelbin-virtualkey: cannot load the stand-in %s\n", ioPath.c_str());
        return 1;
    }
    const StandIn sim{ZelbinProc<decltype(&SimSetKey)>(io, "SimSetKey"), ZelbinProc<decltype(&SimGetUart)>(io, "SimGetUart"),
                      ZelbinProc<decltype(&SimGetDriverInstalled)>(io, "SimGetDriverInstalled"),
                      ZelbinProc<decltype(&SimSetDriverInstalled)>(io, "SimSetDriverInstalled"),
                      ZelbinProc<decltype(&SimFoundRunning)>(io, "SimFoundRunning")};
    if (!sim.SetKey || !sim.GetUart || !sim.GetDriverInstalled || !sim.SetDriverInstalled || !sim.FoundRunning) {
        std::fprintf(stderr, "zelbin-virtualkey: %s is not the stand-in io.dll\n", ioPath.c_str());
        return 1;
    }

    const WORD port = options.port;
    switch (options.command) {
    case VirtualKeyCommand::Press:
    case VirtualKeyCommand::Release:
    case VirtualKeyCommand::Tap:
    case VirtualKeyCommand::Script:
        // The simulated PC lives as long as a process uses it: one that this
        // program started ends with it, and its key with it.
        if (!sim.FoundRunning()) {
            std::fprintf(stderr, "zelbin-virtualkey: no program in this Windows session uses the stand-in "
                                 "io.dll, so the key would reach nobody. Start the host first.\n");
            return 1;
        }
        if (options.command == VirtualKeyCommand::Press || options.command == VirtualKeyCommand::Release)
            return sim.SetKey(port, options.command == VirtualKeyCommand::Press ? 1 : 0) ? 0 : NoUart(port);
        return Play(sim, port, options.events);
    case VirtualKeyCommand::Show: {
        SimUartState u{};
        if (!sim.GetUart(port, &u))
            return NoUart(port);
        Show(u, sim.GetDriverInstalled() != 0);
        return 0;
    }
    case VirtualKeyCommand::Watch:
        return Watch(sim, port, options.seconds, options.intervalMs);
    case VirtualKeyCommand::Driver:
        sim.SetDriverInstalled(options.driverOn ? 1 : 0);
        return 0;
    case VirtualKeyCommand::Help:
        break;
    }
    return 0;
}
