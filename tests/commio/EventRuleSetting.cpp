// The simulated drivers' event rule for this run of the test program:
// ZELBIN_EVENT_RULE=history runs every table under the rule of Windows' own
// serial driver, else (compare) under Wine's. CTest runs the program both
// ways.
#include <cstdlib>
#include <cstring>

#include "comdevices/ComDevices.h"

namespace {

const bool chosen = [] {
    const char *rule = std::getenv("ZELBIN_EVENT_RULE");
    sim::ComDevices::DefaultRule() = rule && std::strcmp(rule, "history") == 0
                                         ? sim::ComDevices::EventRule::History
                                         : sim::ComDevices::EventRule::CompareWithStart;
    return true;
}();

} // namespace
