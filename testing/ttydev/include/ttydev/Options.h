// The scripted device's command line (zelbin-ttydev).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ttydev/Script.h"

namespace ttydev {

extern const char *const Usage;

enum class Command { Run, Random, Judge, Help };

struct Options {
    Command command = Command::Help;
    // run
    std::string prefix, port, record, library, startOn;
    Behaviour behaviour = Behaviour::Uart;
    std::uint32_t keyLine = LineCts;
    bool dsrFollowsDtr = false;
    std::string scriptText; // --script's, or --script-file's content
    std::string scriptFile;
    DeviceScript script;
    double timeoutSeconds = 600;
    std::vector<std::string> program; // after "--"
    // random
    RandomPlan plan;
    // judge (record too)
    std::string polls, latencies;
    bool keySeen = true;
    bool quiet = false;
    std::uint32_t quietFromMs = 0;
};

// "" when `args` (without the program's name) make a command; else what is
// wrong with them, in words.
std::string ParseOptions(const std::vector<std::string> &args, Options &options);

// The names on the command line and in the record (the lines': LineName).
const char *BehaviourName(Behaviour behaviour);
// CTS, DSR, DCD or RI, in any case.
bool TakeLine(const std::string &text, std::uint32_t &line);

} // namespace ttydev
