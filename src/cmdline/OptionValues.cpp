#include "cmdline/OptionValues.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

bool IsOption(const std::string &arg) { return arg.size() > 1 && arg[0] == '-' && arg[1] == '-'; }

bool ArgCursor::Value(std::string &value)
{
    if (Done() || IsOption(args_[next_]))
        return false;
    value = args_[next_++];
    return true;
}

bool ParseUnsigned(const std::string &text, std::uint32_t low, std::uint32_t high, std::uint32_t &value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9)
        return false;
    const unsigned long parsed = std::strtoul(text.c_str(), nullptr, 10);
    if (parsed < low || parsed > high)
        return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

bool ParseSeconds(const std::string &text, double &value)
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
