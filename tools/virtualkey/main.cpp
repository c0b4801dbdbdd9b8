// zelbin-virtualkey: works the virtual key of the stand-in io.dll and shows
// the simulated port's lines, while any host runs against the stand-in in
// the same Windows session.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vector>

#include "StandInIo.h"
#include "sim/KeyScript.h"

namespace {

const char *const Usage =
    "Usage: zelbin-virtualkey COMMAND [PORT] [OPTIONS]\n"
    "\n"
    "Works the virtual key of the stand-in io.dll beside this program. Every\n"
    "program in the same Windows session that uses the stand-in sees the same\n"
    "UARTs: run a host (zelbin-keytest, or your own) and this side by side.\n"
    "\n"
    "  press [PORT]            close the key (CTS on)\n"
    "  release [PORT]          open the key (CTS off)\n"
    "  tap [PORT] [--ms N]     press, hold N ms (default 100), release\n"
    "  script TEXT [PORT] [--ms N]\n"
    "                          play a key script such as \"tap@300 tap@700\" or\n"
    "                          \"press@0,release@250\" (times in ms, taps N ms\n"
    "                          long), then exit\n"
    "  show [PORT]             print the lines and registers\n"
    "  watch [PORT] [--seconds S] [--interval MS]\n"
    "                          print each change of CTS, RTS and DTR until Ctrl+C\n"
    "                          or S seconds have passed (poll every MS, default 5)\n"
    "  driver on|off           switch the simulated port-I/O driver\n"
    "\n"
    "PORT is COM1 to COM4 or a base address in hex (2F8, 2F8h). Without it, the\n"
    "UART the host drives: the one last written to, else COM1's.\n";

volatile LONG stopRequested = 0;

BOOL WINAPI OnConsoleControl(DWORD)
{
    InterlockedExchange(&stopRequested, 1);
    return TRUE;
}

template <typename Fn> Fn Export(HMODULE io, const char *name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(io, name)));
}

struct StandIn {
    decltype(&SimSetKey) SetKey;
    decltype(&SimGetUart) GetUart;
    decltype(&SimGetDriverInstalled) GetDriverInstalled;
    decltype(&SimSetDriverInstalled) SetDriverInstalled;
};

bool ParsePort(const std::string &text, WORD &port)
{
    static const struct {
        const char *name;
        WORD base;
    } ports[] = {{"COM1", 0x3F8}, {"COM2", 0x2F8}, {"COM3", 0x3E8}, {"COM4", 0x2E8}};
    for (const auto &p : ports)
        if (_stricmp(text.c_str(), p.name) == 0) {
            port = p.base;
            return true;
        }
    std::string digits = text;
    if (!digits.empty() && (digits.back() == 'h' || digits.back() == 'H'))
        digits.pop_back();
    if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    port = static_cast<WORD>(std::strtoul(digits.c_str(), nullptr, 16));
    return port != 0;
}

const char *OnOff(bool on) { return on ? "on " : "off"; }

void Show(const SimUartState &u, bool driver)
{
    const unsigned divisor = static_cast<unsigned>(u.divisorHigh << 8 | u.divisorLow);
    std::printf("UART at %04Xh\n", u.base);
    std::printf("  lines : CTS %s  RTS %s  DTR %s  (key %s)\n", OnOff(u.modemStatus & 0x10), OnOff(u.modemControl & 0x02),
                OnOff(u.modemControl & 0x01), (u.modemStatus & 0x10) ? "pressed" : "released");
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

int Watch(const StandIn &sim, WORD port, double seconds, DWORD intervalMs)
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    const double start = Now();
    SimUartState last{};
    bool first = true;
    while (!stopRequested && (seconds <= 0 || Now() - start < seconds)) {
        SimUartState u{};
        if (!sim.GetUart(port, &u)) {
            std::fprintf(stderr, "zelbin-virtualkey: no UART at %04Xh\n", port);
            return 1;
        }
        const bool changed = first || u.base != last.base || ((u.modemStatus ^ last.modemStatus) & 0x10) ||
                             ((u.modemControl ^ last.modemControl) & 0x03);
        if (changed)
            std::printf("[%8.3f s] %04Xh  CTS %s  RTS %s  DTR %s\n", Now() - start, u.base, OnOff(u.modemStatus & 0x10),
                        OnOff(u.modemControl & 0x02), OnOff(u.modemControl & 0x01));
        last = u;
        first = false;
        Sleep(intervalMs);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fputs(Usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
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
    const StandIn sim{Export<decltype(&SimSetKey)>(io, "SimSetKey"), Export<decltype(&SimGetUart)>(io, "SimGetUart"),
                      Export<decltype(&SimGetDriverInstalled)>(io, "SimGetDriverInstalled"),
                      Export<decltype(&SimSetDriverInstalled)>(io, "SimSetDriverInstalled")};
    if (!sim.SetKey || !sim.GetUart || !sim.GetDriverInstalled || !sim.SetDriverInstalled) {
        std::fprintf(stderr, "zelbin-virtualkey: %s is not the stand-in io.dll\n", ioPath.c_str());
        return 1;
    }

    const std::string command = argv[1];
    WORD port = 0;
    std::string script;
    double seconds = 0;
    DWORD holdMs = 100, intervalMs = 5;
    bool on = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](double low, double high, double &value) {
            if (i + 1 >= argc)
                return false;
            char *end = nullptr;
            value = std::strtod(argv[++i], &end);
            return *end == '\0' && value >= low && value <= high;
        };
        double value = 0;
        if (arg == "--ms" && number(1, 60000, value)) {
            holdMs = static_cast<DWORD>(value);
        } else if (arg == "--seconds" && number(0.001, 1e6, value)) {
            seconds = value;
        } else if (arg == "--interval" && number(1, 10000, value)) {
            intervalMs = static_cast<DWORD>(value);
        } else if (command == "driver" && (arg == "on" || arg == "off")) {
            on = arg == "on";
        } else if (command == "script" && script.empty()) {
            script = arg;
        } else if (arg.compare(0, 2, "--") != 0 && ParsePort(arg, port)) {
        } else {
            std::fprintf(stderr, "zelbin-virtualkey: bad argument '%s' for %s\n", arg.c_str(), command.c_str());
            return 2;
        }
    }

    auto key = [&](bool down) {
        if (!sim.SetKey(port, down ? 1 : 0)) {
            std::fprintf(stderr, "zelbin-virtualkey: no UART at %04Xh\n", port);
            return false;
        }
        return true;
    };
    if (command == "press" || command == "release")
        return key(command == "press") ? 0 : 1;
    if (command == "tap") {
        if (!key(true))
            return 1;
        Sleep(holdMs);
        return key(false) ? 0 : 1;
    }
    if (command == "script") {
        std::vector<sim::KeyEvent> events;
        std::string error;
        if (!sim::ParseKeyScript(script, events, error, holdMs)) {
            std::fprintf(stderr, "zelbin-virtualkey: bad script: %s\n", error.c_str());
            return 2;
        }
        const double start = Now();
        for (const sim::KeyEvent &event : events) {
            while (Now() - start < event.atMs / 1000.0)
                Sleep(1);
            if (!key(event.down))
                return 1;
        }
        return 0;
    }
    if (command == "show") {
        SimUartState u{};
        if (!sim.GetUart(port, &u)) {
            std::fprintf(stderr, "zelbin-virtualkey: no UART at %04Xh\n", port);
            return 1;
        }
        Show(u, sim.GetDriverInstalled() != 0);
        return 0;
    }
    if (command == "watch")
        return Watch(sim, port, seconds, intervalMs);
    if (command == "driver") {
        sim.SetDriverInstalled(on ? 1 : 0);
        return 0;
    }
    std::fprintf(stderr, "zelbin-virtualkey: unknown command '%s'\n%s", command.c_str(), Usage);
    return 2;
}
