// What a run of the scripted device leaves behind, as text files:
//
// The device's record, written by the controller when the program ends,
// a line each:
//     origin NS                       the script's 0 ms
//     change NS DOWN                  the key line closes (1) or opens (0)
//     plug INDEX NS PORT              a plug-in of the device, under PORT
//     unplug INDEX NS                 it is pulled out
//     set NS PLUG TID OUTPUTS         the program set the output lines (TIOCM bits after the call)
//     call NS PLUG TID KIND           a call of a program thread (CallKind)
//     waitcalls N                     the calls of Wine's wait threads, counted
//     dropped SETS CALLS              records the state had no room for
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

struct Record {
    std::int64_t originNs = 0;
    std::vector<Change> changes;
    std::vector<PlugRecord> plugs;
    std::vector<Set> sets;
    std::vector<Call> calls;
    std::uint64_t waitCalls = 0;
    std::uint64_t droppedSets = 0, droppedCalls = 0;
};

struct Poll {
    std::int64_t startNs = 0, endNs = 0;
    bool answer = false;  // ZelbinIsZBToggle's
    bool toggled = false; // the host's output line after this poll
};

bool WriteRecord(const std::string &path, const Record &record, std::string &error);
// Each reader names the file and the line of the first thing it can't read.
bool ReadRecord(const std::string &path, Record &record, std::string &error);
bool ReadPolls(const std::string &path, std::vector<Poll> &polls, std::string &error);

} // namespace ttydev
