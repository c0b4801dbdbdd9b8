// Command line of the key tester.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The tester's exit statuses, each documented in its --help.
enum KeyTestStatus : int {
    KeyTestOk = 0,               // the test ran and ended cleanly
    KeyTestCannotRun = 1,        // a DLL, io.dll, export or record file can't be used
    KeyTestBadCommandLine = 2,
    KeyTestPressesNotReached = 3, // --presses N given, fewer than N came before the end
    KeyTestNoKeyFound = 4         // --find: no key, or changes on several ports
};

enum class DtrHold { None, On, Off };

struct KeyTestOptions {
    bool help = false;
    bool hasParameters = false;  // without, the library gets NULL: its default port
    std::string parameters;
    std::string dllPath;         // empty: Zelbin_Serial.dll beside the tester
    std::string ioPath;          // empty: let Windows find io.dll
    std::string logPath;         // empty: no CSV log
    std::string vcdPath;         // empty: no trace
    std::uint32_t intervalMs = 10;
    std::uint32_t chatterMs = 30;
    std::uint32_t presses = 0;   // 0: no limit
    double seconds = 0;          // 0: no limit
    DtrHold dtr = DtrHold::None; // None: DTR follows the toggled state
    bool listPorts = false;      // --ports: list the serial ports instead of testing
    bool find = false;           // --find: find the key by pressing it
    bool writeMap = false;       // --write-map, with --find: write io-ports.txt
};

// How long --find watches, unless --presses or --seconds say otherwise.
constexpr std::uint32_t FindDefaultPresses = 3;
constexpr double FindDefaultSeconds = 30;

// Parses the arguments after the program name. Returns an empty text on
// success, else what is wrong with them.
std::string ParseKeyTestOptions(const std::vector<std::string> &args, KeyTestOptions &options);

extern const char *const KeyTestUsage;
