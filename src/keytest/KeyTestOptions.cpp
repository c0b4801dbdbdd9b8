#include "keytest/KeyTestOptions.h"

#include <cctype>

#include "cmdline/OptionValues.h"
#include "keytest/PortPlan.h"

namespace keytest {

const char *const KeyTestUsage =
    "Usage: zelbin-keytest [OPTIONS] [PARAMETERS]\n"
    "       zelbin-keytest --ports\n"
    "       zelbin-keytest --find [--write-map [PARAMETERS]] [--presses N] [--seconds S]\n"
    "\n"
    "Tests a key on a serial port through Zelbin_Serial.dll, the way a host uses it:\n"
    "checks the set-up, starts listening, polls for presses, flips a toggled state\n"
    "at each press and drives it out on DTR, and stops listening at the end. On a\n"
    "console a status line shows the modem lines live; every press and release is\n"
    "printed with its time, and a summary closes the test.\n"
    "\n"
    "  PARAMETERS      the parameter text for ZelbinStartListen: COM1 to COM4, or\n"
    "                  \"NAME;ADDRh\" for another device and UART base (\"COM9;2E8h\").\n"
    "                  Without it the library picks its default, COM1 at 3F8h.\n"
    "  --dll PATH      the Zelbin_Serial.dll to load (default: the one beside this\n"
    "                  program)\n"
    "  --io PATH       load this io.dll first, such as C:\\keys\\io.dll; the file\n"
    "                  must be called io.dll (default: the one Windows finds for\n"
    "                  Zelbin_Serial.dll)\n"
    "  --interval MS   poll every MS milliseconds, 1 to 10000 (default 10)\n"
    "  --chatter MS    flag a press that comes less than MS milliseconds after the\n"
    "                  previous release as chatter, 1 to 10000 (default 30)\n"
    "  --presses N     end after N presses\n"
    "  --seconds S     end after S seconds, above 0 and up to 1000000 (fractions\n"
    "                  allowed: 0.5)\n"
    "  --dtr on|off    hold DTR on or off for the whole test, to check the output\n"
    "                  device without the key (presses are counted, not toggled)\n"
    "  --log FILE      write every event to FILE as CSV, with wall-clock times\n"
    "  --vcd FILE      write a trace of CTS, DTR, RTS and the library's press\n"
    "                  answers to FILE (Value Change Dump, for PulseView or GTKWave)\n"
    "  --ports         list the serial ports Windows has: name, device, USB\n"
    "                  identity, whether each opens now, and the line of\n"
    "                  io-ports.txt that maps it\n"
    "  --find          find the key: watches CTS, DSR, DCD and RI on every free port\n"
    "                  while you press the key, then names its port, line and\n"
    "                  polarity; ends a second after the 3rd press, or after 30 s\n"
    "                  (--presses, --seconds)\n"
    "  --write-map     with --find: write the finding to io-ports.txt beside the\n"
    "                  comm-port io.dll (--io, else the one beside the DLL), keeping\n"
    "                  its other lines, and the old file as io-ports.txt.bak. With\n"
    "                  a second key, the host's PARAMETERS for it (\"COM5;2F8h\")\n"
    "                  say which UART its line is for\n"
    "  --help          show this text\n"
    "\n"
    "Options take their value after a space or an equals sign (--seconds=30);\n"
    "--ports, --find, --write-map and --help take none.\n"
    "Ctrl+C also ends the test; listening is always stopped before the tester\n"
    "exits, with DTR off unless --dtr on holds it.\n"
    "\n"
    "Exit status:\n"
    "  0  the test ran and ended cleanly (time up, presses reached or Ctrl+C)\n"
    "  1  the test could not run: Zelbin_Serial.dll, io.dll or an export is\n"
    "     missing or can't be loaded, or a --log or --vcd file, or the map of\n"
    "     --write-map, can't be written\n"
    "  2  bad command line\n"
    "  3  --presses N was given and fewer than N presses came before the end\n"
    "  4  nothing could be tested: the library refused the base, no UART answered\n"
    "     there, or the driver never answered (with the comm-port io.dll: it held\n"
    "     no device)\n"
    "  5  --find found no key, or lines changed on several ports; or, with\n"
    "     --write-map, Ctrl+C stopped the search and no map was written\n";

namespace {

std::string Quoted(const std::string &text) { return "'" + text + "'"; }

// The complaint about a missing or bad value: the option's need, and the
// value given, if any.
std::string Needs(const std::string &need, bool given, const std::string &value)
{
    return given ? need + ", not " + Quoted(value) : need;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The switches: given or not, they take no value.
struct Switch {
    const char *name;
    bool KeyTestOptions::*set;
};
const Switch kSwitches[] = {
    {"--help", &KeyTestOptions::help},      {"-h", &KeyTestOptions::help},
    {"/?", &KeyTestOptions::help},          {"--ports", &KeyTestOptions::listPorts},
    {"--find", &KeyTestOptions::find},      {"--write-map", &KeyTestOptions::writeMap},
};

const Switch *SwitchNamed(const std::string &arg)
{
    for (const Switch &each : kSwitches)
        if (arg == each.name)
            return &each;
    return nullptr;
}

// The options given, taken together: those that exclude each other, and
// the io.dll's path.
std::string CheckCombination(const KeyTestOptions &options, IsFolderFn isFolder)
{
    if (!options.logPath.empty() && options.logPath == options.vcdPath)
        return "--log and --vcd need different files";
    if (options.writeMap && !options.find)
        return "--write-map writes what --find finds: give both";
    if (options.listPorts && options.find)
        return "--ports or --find, one at a time";
    if ((options.listPorts || options.find) &&
        ((options.hasParameters && !options.writeMap) || options.dtr != DtrHold::None || !options.logPath.empty() ||
         !options.vcdPath.empty()))
        return std::string(options.find ? "--find" : "--ports") +
               " opens the ports itself: it takes no --dtr, --log or --vcd, and a parameter text only with "
               "--write-map (the host's, for the key to map)";
    if (options.writeMap && options.hasParameters && !options.parameters.empty() && !MapBaseFor(options.parameters))
        return "--write-map maps the key for the UART the parameters select, and the library refuses the base "
               "of " + Quoted(options.parameters) + ": give the host's parameters, such as \"COM5;2F8h\"";
    if (!options.ioPath.empty())
        return CheckIoPath(options.ioPath,
                           IsSeparator(options.ioPath.back()) || (isFolder && isFolder(options.ioPath)));
    return {};
}

} // namespace

// The switches from their table, then one flat chain of the options that
// take a value, in the order of the usage text, so that what each one takes
// is read in one place.
std::string ParseKeyTestOptions(const std::vector<std::string> &args, KeyTestOptions &options, IsFolderFn isFolder)
{
    ArgCursor cursor(args);
    while (!cursor.Done()) {
        std::string arg = cursor.Next();
        // "--seconds=1" is "--seconds 1", its value taken as written, even
        // one that starts with "--".
        std::string inlineValue;
        bool hasInline = false;
        const std::size_t equals = arg.find('=');
        if (IsOption(arg) && equals != std::string::npos) {
            inlineValue = arg.substr(equals + 1);
            hasInline = true;
            arg.erase(equals);
        }
        std::string text;
        bool given = false;
        const auto value = [&](std::string &into) {
            given = hasInline || cursor.Value(into);
            if (hasInline)
                into = inlineValue;
            return given;
        };
        if (const Switch *flag = SwitchNamed(arg)) {
            if (hasInline)
                return arg + " takes no value";
            options.*flag->set = true;
        } else if (arg == "--dll") {
            if (!value(options.dllPath) || options.dllPath.empty())
                return "--dll needs a path";
        } else if (arg == "--io") {
            if (!value(options.ioPath) || options.ioPath.empty())
                return "--io needs a path";
        } else if (arg == "--log") {
            if (!value(options.logPath) || options.logPath.empty())
                return "--log needs a file name";
        } else if (arg == "--vcd") {
            if (!value(options.vcdPath) || options.vcdPath.empty())
                return "--vcd needs a file name";
        } else if (arg == "--interval") {
            if (!value(text) || !ParseUnsigned(text, 1, 10000, options.intervalMs))
                return Needs("--interval needs milliseconds from 1 to 10000", given, text);
        } else if (arg == "--chatter") {
            if (!value(text) || !ParseUnsigned(text, 1, 10000, options.chatterMs))
                return Needs("--chatter needs milliseconds from 1 to 10000", given, text);
        } else if (arg == "--presses") {
            if (!value(text) || !ParseUnsigned(text, 1, 999999999, options.presses))
                return Needs("--presses needs a count from 1 to 999999999", given, text);
        } else if (arg == "--seconds") {
            if (!value(text) || !ParseSeconds(text, options.seconds))
                return Needs("--seconds needs a number of seconds above 0 and at most 1000000, in digits with "
                             "an optional fraction (30, 0.5)",
                             given, text);
        } else if (arg == "--dtr") {
            if (!value(text) || (text != "on" && text != "off"))
                return Needs("--dtr needs on or off", given, text);
            options.dtr = text == "on" ? DtrHold::On : DtrHold::Off;
        } else if (IsOption(arg)) {
            return "unknown option " + arg;
        } else if (options.hasParameters) {
            return "only one parameter text, please (quote it if it has spaces): " + arg;
        } else {
            options.hasParameters = true;
            options.parameters = arg;
        }
    }
    return CheckCombination(options, isFolder);
}

std::string CheckIoPath(const std::string &path, bool isFolder)
{
    std::size_t nameAt = path.size();
    while (nameAt > 0 && !IsSeparator(path[nameAt - 1]))
        --nameAt;
    if (isFolder) {
        std::string folder = path;
        while (!folder.empty() && IsSeparator(folder.back()))
            folder.pop_back();
        const bool slashes = path.find('/') != std::string::npos && path.find('\\') == std::string::npos;
        return "--io names a folder, " + Quoted(path) + ": name the io.dll in it, such as " +
               Quoted(folder + (slashes ? "/" : "\\") + "io.dll");
    }
    std::string name = path.substr(nameAt);
    for (char &c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Windows binds Zelbin_Serial.dll's imports by module name: a library
    // loaded under any other name would be passed over for another io.dll.
    if (name != "io.dll")
        return "--io must name a file called io.dll (Zelbin_Serial.dll imports it by that name), not " +
               Quoted(path.substr(nameAt));
    return {};
}

} // namespace keytest
