// Command line of the key tester.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct KeyTestOptions {
    bool help = false;
    bool hasParameters = false;  // without, the library gets NULL: its default port
    std::string parameters;
    std::string dllPath;         // empty: Zelbin_Serial.dll beside the tester
    std::string ioPath;          // empty: let Windows find io.dll
    std::uint32_t intervalMs = 10;
    std::uint32_t presses = 0;   // 0: no limit
    double seconds = 0;          // 0: no limit
};

// Parses the arguments after the program name. Returns an empty text on
// success, else what is wrong with them.
std::string ParseKeyTestOptions(const std::vector<std::string> &args, KeyTestOptions &options);

extern const char *const KeyTestUsage;
