// How a mapping's key line reaches the UART's CTS bit.
#pragma once

#include <cstdint>

#include "commio/CommApi.h"
#include "commio/PortMap.h"

namespace commio {

// The key line as the host reads it: the chosen device line, inverted if
// asked, debounced, shown as CTS. The other status bits stay as the device
// has them. A change of the key line is shown at once, and the next one
// only once `debounce` ms have passed since: a bouncing press is one press,
// and nothing is delayed that comes after a quiet spell.
class KeyWiring {
public:
    void Configure(const PortMapping &mapping)
    {
        source_ = mapping.input.Mask();
        invert_ = mapping.invert;
        debounce_ = mapping.debounceMs;
        shown_ = holding_ = false;
        since_ = 0;
    }
    // The device's modem status lines as the UART shows them. Reads the
    // clock only while a change is held off or just shown; allocates nothing
    // and never waits.
    std::uint8_t Apply(std::uint8_t lines, CommApi &clock);

private:
    std::uint8_t source_ = uart::ModemLine::Cts.Mask();
    bool invert_ = false;
    std::uint8_t debounce_ = 0;
    bool shown_ = false;   // the key line as last shown
    bool holding_ = false; // a change was shown less than debounce_ ms ago
    std::uint32_t since_ = 0;
};

} // namespace commio
