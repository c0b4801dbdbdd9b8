// How a mapping's key line reaches the UART's CTS bit, and which COM port
// a USB adapter named by its identity has now.
#pragma once

#include <cstddef>
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
        source_ = static_cast<std::uint8_t>(mapping.input);
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
    std::uint8_t source_ = ModemCts;
    bool invert_ = false;
    std::uint8_t debounce_ = 0;
    bool shown_ = false;   // the key line as last shown
    bool holding_ = false; // a change was shown less than debounce_ ms ago
    std::uint32_t since_ = 0;
};

// Where a USB adapter was found. A COM name beside the identity is used
// when the system gives no answer (no port listed at all, or no list), and
// when it is listed but carries no other adapter; never for a port that
// another device now has.
struct AdapterLookup {
    enum Outcome : std::uint8_t {
        NotAsked,  // the mapping names no adapter
        Found,     // one listed port carries it: `port`
        NotListed, // ports are listed, none carries it
        Several,   // more than one does: the identity doesn't say which
        NoPorts,   // the system lists no port at all
        Failed,    // the system can't list its ports (`error`)
    };
    Outcome outcome = NotAsked;
    std::uint8_t matches = 0;
    bool besideMatches = false; // the COM name beside is one that carries it
    bool besideOther = false;   // the COM name beside is listed with another device
    bool usedBeside = false;    // what is opened is the COM name beside
    std::uint32_t error = 0;
    char port[8] = {};  // "COM7", the first that carries it
    char path[16] = {}; // "\\.\COM7"
};

// Looks the mapping's adapter up among the ports the system lists, and
// answers what to open: the port that carries the adapter now, else the
// COM name beside it where that is safe, else nothing (an empty text).
const char *FindAdapter(CommApi &api, const PortMapping &mapping, AdapterLookup &lookup);

// For the status text, cut short to fit `size`: the device a mapping names
// and where its adapter was found ("COM5", "usb=0403:6001:A1B2C3 on COM7"),
// and its wiring (" (key line DSR inverted, debounce 20 ms)", nothing for
// plain CTS).
void DescribeDevice(char *out, std::size_t size, const PortMapping &mapping, const AdapterLookup &adapter);
void DescribeWiring(char *out, std::size_t size, const PortMapping &mapping);

} // namespace commio
