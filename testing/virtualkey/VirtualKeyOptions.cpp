#include "virtualkey/VirtualKeyOptions.h"

#include <cstdlib>

#include "cmdline/OptionValues.h"
#include "sim/World.h"

const char *const VirtualKeyUsage =
    "Usage: zelbin-virtualkey COMMAND [PORT] [OPTIONS]\n"
    "\n"
    "Works the virtual key of the stand-in io.dll beside this program. Every\n"
    "program in the same Windows session that uses the stand-in sees the same\n"
    "UARTs: run a host (zelbin-keytest, or your own) and this side by side.\n"
    "\n"
    "  press [PORT]            close the key (CTS on)\n"
    "  release [PORT]          open the key (CTS off)\n"
    "  tap [PORT] [--ms N] [--bounce N] [--bounce-ms S]\n"
    "                          press, hold N ms (default 100), release; with\n"
    "                          --bounce the contacts first open and close again\n"
    "                          N times, a change every S ms (default 15)\n"
    "  script TEXT [PORT] [--ms N]\n"
    "                          play a key script such as \"tap@300 tap@700\",\n"
    "                          \"press@0,release@250\" or \"bounce@300/40\" (times in\n"
    "                          ms, taps N ms long), then exit\n"
    "  show [PORT]             print the lines and registers\n"
    "  watch [PORT] [--seconds S] [--interval MS]\n"
    "                          print each change of CTS, RTS and DTR until Ctrl+C\n"
    "                          or S seconds have passed (poll every MS, default 5)\n"
    "  driver on|off           switch the simulated port-I/O driver\n"
    "\n"
    "PORT is COM1 to COM4 or a base address in hex (2F8, 2F8h). Without it, the\n"
    "UART the host drives: the one last written to, else COM1's.\n"
    "\n"
    "press, release, tap and script need a program that uses the stand-in\n"
    "(a host) running already: a key worked on a simulated PC that nobody else\n"
    "uses ends with this program.\n"
    "\n"
    "Exit status: 0 done, 1 the stand-in io.dll, the UART or a host using it is\n"
    "missing, 2 bad command line.\n";

bool ParseVirtualKeyPort(const std::string &text, std::uint16_t &port)
{
    if (const sim::StandardPort *standard = sim::FindStandardPort(text)) {
        port = standard->base;
        return true;
    }
    std::string digits = text;
    if (!digits.empty() && (digits.back() == 'h' || digits.back() == 'H'))
        digits.pop_back();
    if (digits.empty() || digits.size() > 4 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    port = static_cast<std::uint16_t>(std::strtoul(digits.c_str(), nullptr, 16));
    return port != 0;
}

namespace {

struct CommandName {
    const char *name;
    VirtualKeyCommand command;
};
const CommandName Commands[] = {
    {"press", VirtualKeyCommand::Press}, {"release", VirtualKeyCommand::Release},
    {"tap", VirtualKeyCommand::Tap},     {"script", VirtualKeyCommand::Script},
    {"show", VirtualKeyCommand::Show},   {"watch", VirtualKeyCommand::Watch},
    {"driver", VirtualKeyCommand::Driver},
};

bool TakesPort(VirtualKeyCommand command)
{
    return command != VirtualKeyCommand::Driver && command != VirtualKeyCommand::Help;
}

} // namespace

std::string ParseVirtualKeyOptions(const std::vector<std::string> &args, VirtualKeyOptions &options)
{
    if (args.empty())
        return "a command is needed";
    const std::string &name = args[0];
    if (name == "--help" || name == "-h" || name == "/?") {
        options.command = VirtualKeyCommand::Help;
        return {};
    }
    bool known = false;
    for (const CommandName &command : Commands)
        if (name == command.name) {
            options.command = command.command;
            known = true;
        }
    if (!known)
        return "unknown command '" + name + "'";

    using C = VirtualKeyCommand;
    const C command = options.command;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    ArgCursor cursor(rest);
    bool havePort = false, haveScript = false, haveSwitch = false;
    while (!cursor.Done()) {
        const std::string &arg = cursor.Next();
        std::string text;
        auto unsigned_ = [&](const char *option, std::uint32_t low, std::uint32_t high, std::uint32_t &value) {
            if (!cursor.Value(text) || !ParseUnsigned(text, low, high, value))
                return std::string(option) + " needs a number from " + std::to_string(low) + " to " +
                       std::to_string(high);
            return std::string();
        };
        std::string error;
        if (arg == "--help" || arg == "-h") {
            options.command = C::Help;
            return {};
        } else if (arg == "--ms" && (command == C::Tap || command == C::Script)) {
            error = unsigned_("--ms", 1, sim::MaxStepMs, options.holdMs);
        } else if (arg == "--bounce" && command == C::Tap) {
            error = unsigned_("--bounce", 0, sim::MaxBounces, options.bounces);
        } else if (arg == "--bounce-ms" && command == C::Tap) {
            error = unsigned_("--bounce-ms", 1, sim::MaxStepMs, options.bounceMs);
        } else if (arg == "--interval" && command == C::Watch) {
            error = unsigned_("--interval", 1, 10000, options.intervalMs);
        } else if (arg == "--seconds" && command == C::Watch) {
            if (!cursor.Value(text) || !ParseSeconds(text, options.seconds))
                error = "--seconds needs a number of seconds above 0";
        } else if (IsOption(arg)) {
            error = "'" + arg + "' is not an option of " + name;
        } else if (command == C::Driver && !haveSwitch && (arg == "on" || arg == "off")) {
            options.driverOn = arg == "on";
            haveSwitch = true;
        } else if (command == C::Script && !haveScript) {
            options.script = arg;
            haveScript = true;
        } else if (TakesPort(command) && !havePort && ParseVirtualKeyPort(arg, options.port)) {
            havePort = true;
        } else {
            error = "bad argument '" + arg + "' for " + name;
        }
        if (!error.empty())
            return error;
    }
    if (command == C::Driver && !haveSwitch)
        return "driver needs on or off";
    if (command == C::Script) {
        if (!haveScript)
            return "script needs a script text, such as \"tap@300 tap@700\"";
        std::string error;
        if (!sim::ParseKeyScript(options.script, options.events, error, options.holdMs))
            return "bad script: " + error;
    }
    if (command == C::Tap)
        sim::AppendTap(options.events, 0, options.holdMs, options.bounces, options.bounceMs);
    return {};
}
