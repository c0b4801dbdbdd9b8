// What a run of the scripted device leaves behind, as text files:
//
// The device's record, written by the controller when the program ends,
// a line each:
//     device BEHAVIOUR KEYLINE LOOP   how it answered, the key's line, DSR following DTR (1) or not (0)
//     origin NS                       the script's 0 ms
//     change NS DOWN                  the key line closes (1) or opens (0)
//     input NS LINE ON SOURCE         another input line turns on (1) or off (0), by the
//                                     script or, for DSR following DTR, by dtr
//     plug INDEX NS PORT              a plug-in of the device, under PORT
//     unplug INDEX NS                 it is pulled out
//     set NS PLUG TID OUTPUTS         the program set the output lines (TIOCM bits after the call)
//     call NS PLUG TID KIND           a call of a program thread (CallKind)
//     waitcalls N                     the calls of Wine's wait threads, counted
//     dropped SETS CALLS LOOPS        records the state had no room for (LOOPS: DSR
//                                     changes that DTR made and DSR didn't follow)
//
// The host's poll log, written by the Windows program under test:
//     poll START_NS END_NS ANSWER TOGGLED
// (other lines are the program's own notes, and are skipped).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ttydev/SharedState.h"

namespace ttydev {

struct PlugRecord {
    int index = 0;
    std::int64_t fromNs = 0;
    std::string port;
    std::int64_t untilNs = 0; // 0: never pulled out
};

// Another input line's change than the key's.
struct OtherChange {
    std::int64_t atNs = 0;
    std::uint32_t line = 0;
    bool on = false;
    bool byDtr = false; // DSR following DTR; else the script's
};

struct Record {
    std::string behaviour = "uart", keyLine = "CTS";
    bool dsrFollowsDtr = false;
    std::int64_t originNs = 0;
    std::vector<Change> changes; // the key's: all the oracle judges by
    std::vector<OtherChange> others;
    std::vector<PlugRecord> plugs;
    std::vector<Set> sets;
    std::vector<Call> calls;
    std::uint64_t waitCalls = 0;
    std::uint64_t droppedSets = 0, droppedCalls = 0, droppedLoops = 0;
};

struct Poll {
    std::int64_t startNs = 0, endNs = 0;
    bool answer = false;  // ZelbinIsZBToggle's
    bool toggled = false; // the host's output line after this poll
};

// What the device's state holds when the program ends, from `originNs` (the
// script's 0 ms) on, with the plug-ins the controller made.
Record Collect(const SharedState &state, std::int64_t originNs, const std::vector<PlugRecord> &plugs);

bool WriteRecord(const std::string &path, const Record &record, std::string &error);
// Each reader names the file and the line of the first thing it can't read.
bool ReadRecord(const std::string &path, Record &record, std::string &error);
bool ReadPolls(const std::string &path, std::vector<Poll> &polls, std::string &error);

} // namespace ttydev
