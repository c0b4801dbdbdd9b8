#include "KeyTestOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

const char *const KeyTestUsage =
    "Usage: zelbin-keytest [OPTIONS] [PARAMETERS]\n"
    "\n"
    "Tests a key on a serial port through Zelbin_Serial.dll, the way a host uses it:\n"
    "starts listening, polls for presses, flips a toggled state at each press and\n"
    "drives it out on DTR, and stops listening at the end.\n"
    "\n"
    "  PARAMETERS      the parameter text for ZelbinStartListen: COM1 to COM4, or\n"
    "                  \"NAME;ADDRh\" for another device and UART base (\"COM9;2E8h\").\n"
    "                  Without it the library picks its default, COM1 at 3F8h.\n"
    "  --dll PATH      the Zelbin_Serial.dll to load (default: the one beside this\n"
    "                  program)\n"
    "  --io PATH       load this io.dll first, for example the stand-in in sim\\\n"
    "                  (default: the one Windows finds for Zelbin_Serial.dll)\n"
    "  --interval MS   poll every MS milliseconds, 1 to 10000 (default 10)\n"
    "  --presses N     end after N presses\n"
    "  --seconds S     end after S seconds (fractions allowed)\n"
    "  --help          show this text\n"
    "\n"
    "Ctrl+C also ends the test; listening is always stopped before the tester\n"
    "exits. Exit status: 0 after a clean end, 1 when the library can't be used,\n"
    "2 for a bad command line.\n";

namespace {

bool ToUnsigned(const std::string &text, std::uint32_t low, std::uint32_t high, std::uint32_t &value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    const unsigned long parsed = std::strtoul(text.c_str(), nullptr, 10);
    if (parsed < low || parsed > high)
        return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

bool ToSeconds(const std::string &text, double &value)
{
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char *end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed <= 0 || parsed > 1e6)
        return false;
    value = parsed;
    return true;
}

} // namespace

std::string ParseKeyTestOptions(const std::vector<std::string> &args, KeyTestOptions &options)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto value = [&](std::string &out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            options.help = true;
        } else if (arg == "--dll") {
            if (!value(options.dllPath) || options.dllPath.empty())
                return "--dll needs a path";
        } else if (arg == "--io") {
            if (!value(options.ioPath) || options.ioPath.empty())
                return "--io needs a path";
        } else if (arg == "--interval") {
            if (!value(text) || !ToUnsigned(text, 1, 10000, options.intervalMs))
                return "--interval needs milliseconds from 1 to 10000";
        } else if (arg == "--presses") {
            if (!value(text) || !ToUnsigned(text, 1, 1000000000, options.presses))
                return "--presses needs a count of at least 1";
        } else if (arg == "--seconds") {
            if (!value(text) || !ToSeconds(text, options.seconds))
                return "--seconds needs a number of seconds above 0";
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return "unknown option " + arg;
        } else if (options.hasParameters) {
            return "only one parameter text, please (quote it if it has spaces): " + arg;
        } else {
            options.hasParameters = true;
            options.parameters = arg;
        }
    }
    return {};
}
