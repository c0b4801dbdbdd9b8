// What a start with a given parameter text will do, worked out before it
// starts with the library's own selection code: the device, the address text
// and the UART base, and warnings about texts that select something else
// than their writer probably meant.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace keytest {

struct PortPlan {
    std::string portName;
    std::string addressText;
    std::uint16_t base = 0;
    bool baseAccepted = false; // false: the library refuses the base and stays idle
    std::vector<std::string> warnings;
};

// `params` null: the tester passes NULL, the library's default.
PortPlan PlanPort(const char *params);

// The UART a key found is mapped for: the base the host's parameters for
// it select, where the library accepts it; none for no parameters (empty).
std::optional<std::uint16_t> MapBaseFor(const std::string &parameters);

// "03F8h"
std::string HexBase(std::uint16_t base);
// A base as a parameter text writes it: "2F8h".
std::string AddressText(std::uint16_t base);

} // namespace keytest
