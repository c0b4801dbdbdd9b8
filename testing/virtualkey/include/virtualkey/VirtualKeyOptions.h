// Command line of the virtual key's control program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/KeyScript.h"

enum class VirtualKeyCommand { Help, Press, Release, Tap, Script, Show, Watch, Driver };

struct VirtualKeyOptions {
    VirtualKeyCommand command = VirtualKeyCommand::Help;
    std::uint16_t port = 0;        // 0: the UART the host drives
    std::string script;            // script: the key script
    std::uint32_t holdMs = 100;    // tap, script: how long a tap holds the key
    std::uint32_t bounces = 0;     // tap: how often the contacts bounce
    std::uint32_t bounceMs = 15;   // tap: between contact changes while bouncing
    double seconds = 0;            // watch: 0 until Ctrl+C
    std::uint32_t intervalMs = 5;  // watch: poll interval
    bool driverOn = false;         // driver: on or off
    std::vector<sim::KeyEvent> events; // tap, script: what to play, in time order
};

// Parses the arguments after the program name. Returns an empty text on
// success, else what is wrong with them.
std::string ParseVirtualKeyOptions(const std::vector<std::string> &args, VirtualKeyOptions &options);

// A port on the command line: COM1 to COM4 (any case) or a UART base in hex
// with an optional h suffix (2F8, 2F8h). False for anything else and for 0.
bool ParseVirtualKeyPort(const std::string &text, std::uint16_t &port);

extern const char *const VirtualKeyUsage;
