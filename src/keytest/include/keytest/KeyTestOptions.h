// Command line of the key tester.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace keytest {

// The tester's exit statuses, each documented in its --help.
enum KeyTestStatus : int {
    KeyTestOk = 0,               // the test ran and ended cleanly
    KeyTestCannotRun = 1,        // a DLL, io.dll, export or record file can't be used
    KeyTestBadCommandLine = 2,
    KeyTestPressesNotReached = 3, // --presses N given, fewer than N came before the end
    KeyTestNothingTested = 4,     // a refused base, no UART there, or a driver that never answered
    KeyTestNoKeyFound = 5         // --find: no key, or changes on several ports
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

// Whether a path names a folder. A path that ends in a separator always
// does; one that doesn't is known only to the file system, which the
// tester asks.
using IsFolderFn = bool (*)(const std::string &path);

// Parses the arguments after the program name, "--option value" or
// "--option=value". Returns an empty text on success, else what is wrong
// with them, the bad value quoted. `isFolder` judges the --io path; without
// it, only a path ending in a separator is a folder.
std::string ParseKeyTestOptions(const std::vector<std::string> &args, KeyTestOptions &options,
                                IsFolderFn isFolder = nullptr);

// What is wrong with --io PATH as a command line (empty: nothing): a folder,
// or a file not called io.dll. `isFolder` says whether PATH names one.
std::string CheckIoPath(const std::string &path, bool isFolder);

extern const char *const KeyTestUsage;

} // namespace keytest
