// Which COM port a USB adapter named by its identity has now.
#pragma once

#include <cstdint>

#include "commio/CommApi.h"
#include "commio/PortMap.h"

namespace commio {

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

} // namespace commio
