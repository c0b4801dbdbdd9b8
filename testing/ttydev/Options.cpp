#include "ttydev/Options.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cmdline/OptionValues.h"

namespace ttydev {

const char *const Usage =
    "Usage: zelbin-ttydev run --prefix DIR --port COMn --record FILE [--script TEXT | --script-file FILE]\n"
    "                         [--behaviour uart|stale|cdc|slow] [--line CTS|DSR|DCD|RI] [--dsr-follows-dtr]\n"
    "                         [--start-on TEXT] [--timeout SECONDS] [--library DIR] -- PROGRAM [ARGS...]\n"
    "       zelbin-ttydev random --seed N --presses N --poll MS [--removals N]\n"
    "                            [--line CTS|DSR|DCD|RI] [--activity KIND[,KIND...]]\n"
    "       zelbin-ttydev judge --record FILE --polls FILE [--unseen] [--latencies FILE]\n"
    "                           [--quiet-from MS]\n"
    "\n"
    "run: makes a modem-line device (a pseudo-terminal) that Wine's serial driver\n"
    "serves as COMn in the Wine prefix DIR, runs PROGRAM with the device's\n"
    "library preloaded, works its lines by the script, and writes what happened\n"
    "to FILE when PROGRAM ends. The script counts milliseconds from the start,\n"
    "or from the first line of PROGRAM's output that begins with --start-on's\n"
    "TEXT; its words are the virtual key's (press@MS, release@MS, tap@MS,\n"
    "bounce@MS[/STEP]), unplug@MS, replug@MS[/COMn], and for each other input\n"
    "line (cts, dsr, dcd, ri) LINE-on@MS, LINE-off@MS and LINE-pulse@MS[/LEN]\n"
    "(LEN ms, 1 unless given, to the microsecond: dsr-pulse@250/0.5). A long\n"
    "script can be read from a file (--script-file). The key is wired to\n"
    "--line (CTS); --dsr-follows-dtr loops DTR back to DSR, as many cables and\n"
    "keys do (not with the key on DSR); --behaviour says how the adapter's\n"
    "driver answers:\n"
    "  uart   every status read is current\n"
    "  stale  a read outside a completed wait answers the lines of the last one\n"
    "  cdc    CTS is never reported; DSR, DCD and RI are\n"
    "  slow   each status read takes 2 ms\n"
    "COMn is COM5 to COM256 (COM1 to COM4 are the prefix's own) and must be\n"
    "free. PROGRAM is stopped after --timeout seconds (600). The device's library\n"
    "is taken from DIR/lib/x86_64-linux-gnu and DIR/lib/i386-linux-gnu, DIR being\n"
    "--library's or this program's folder.\n"
    "\n"
    "random: prints a script of N presses of 2 to 50 ms at random times, for a\n"
    "host that polls every MS, from the seed N; --removals unplugs and replugs\n"
    "the device that many times. --activity adds the other lines' activity,\n"
    "each kind on a line of its own, never the key's (--line, CTS):\n"
    "  pulses           a pulse of 0.5 to 3 ms falling 0 to 6 ms before each key\n"
    "                   edge, on DSR (else DCD, else RI)\n"
    "  dsr-follows-dtr  takes DSR; no words (run's --dsr-follows-dtr does it)\n"
    "  ring             RI rings: bursts of 0.8 to 2 s at 20 Hz, 2 to 4 s apart\n"
    "  flap             DCD (else DSR) flaps: bursts of 2 to 12 changes 1 to\n"
    "                   20 ms apart, 100 to 600 ms apart\n"
    "The key's presses are the same for a seed whatever the activity.\n"
    "\n"
    "judge: judges a host's poll log against a run's record (each press\n"
    "reported once, nothing invented, DTR as the host set it) and prints the\n"
    "counts; --unseen: the device never reports the key's line, so any report\n"
    "is invented. --latencies writes each reported press's latency (ms);\n"
    "--quiet-from counts the program's device calls per poll from MS on.\n"
    "\n"
    "Exit status: run: PROGRAM's, or 3 when the device could not be made or\n"
    "PROGRAM timed out; judge: 0 passed, 1 failed; 2 bad command line.\n";

const char *BehaviourName(Behaviour behaviour)
{
    switch (behaviour) {
    case Behaviour::Uart: return "uart";
    case Behaviour::Stale: return "stale";
    case Behaviour::Cdc: return "cdc";
    case Behaviour::Slow: return "slow";
    }
    return "?";
}

bool TakeLine(const std::string &text, std::uint32_t &line)
{
    std::string upper = text;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::uint32_t l : {LineCts, LineDsr, LineDcd, LineRi})
        if (upper == LineName(l)) {
            line = l;
            return true;
        }
    return false;
}

namespace {

bool TakeBehaviour(const std::string &text, Behaviour &behaviour)
{
    for (const Behaviour b : {Behaviour::Uart, Behaviour::Stale, Behaviour::Cdc, Behaviour::Slow})
        if (text == BehaviourName(b)) {
            behaviour = b;
            return true;
        }
    return false;
}

// A device's COM name: one of the prefix's own would overwrite its link
// to /dev/null.
std::string CheckPort(const std::string &name, const char *what)
{
    const unsigned number = ComNumber(name);
    if (!number)
        return std::string(what) + " '" + name + "' is not a COM name (COM5 to COM256)";
    if (number < 5)
        return std::string(what) + " '" + name + "': COM1 to COM4 are the prefix's own; use COM5 to COM256";
    return "";
}

std::string ParseRun(ArgCursor &cursor, Options &o)
{
    std::string value;
    double seconds = 0;
    bool scriptGiven = false;
    while (!cursor.Done()) {
        const std::string option = cursor.Next();
        if (option == "--") {
            while (!cursor.Done())
                o.program.push_back(cursor.Next());
            break;
        }
        if (option == "--dsr-follows-dtr") {
            o.dsrFollowsDtr = true;
            continue;
        }
        if ((option == "--script" && !o.scriptFile.empty()) || (option == "--script-file" && scriptGiven))
            return "--script and --script-file: one script only";
        scriptGiven = scriptGiven || option == "--script";
        std::string *text = option == "--prefix"        ? &o.prefix
                            : option == "--port"        ? &o.port
                            : option == "--record"      ? &o.record
                            : option == "--library"     ? &o.library
                            : option == "--start-on"    ? &o.startOn
                            : option == "--script"      ? &o.scriptText
                            : option == "--script-file" ? &o.scriptFile
                                                        : nullptr;
        const bool known = text || option == "--behaviour" || option == "--line" || option == "--timeout";
        if (!known)
            return "unknown option '" + option + "'";
        if (!cursor.Value(value))
            return option + " needs a value";
        if (text)
            *text = value;
        else if (option == "--behaviour" && !TakeBehaviour(value, o.behaviour))
            return "behaviour '" + value + "' unknown; use uart, stale, cdc or slow";
        else if (option == "--line" && !TakeLine(value, o.keyLine))
            return "line '" + value + "' unknown; use CTS, DSR, DCD or RI";
        else if (option == "--timeout") {
            if (!ParseSeconds(value, seconds))
                return "--timeout '" + value + "' is not a number of seconds";
            o.timeoutSeconds = seconds;
        }
    }
    if (o.prefix.empty() || o.port.empty() || o.record.empty())
        return "run needs --prefix, --port and --record";
    if (o.program.empty())
        return "run needs a program to run, after --";
    if (std::string error = CheckPort(o.port, "--port"); !error.empty())
        return error;
    if (o.dsrFollowsDtr && o.keyLine == LineDsr)
        return "--line DSR with --dsr-follows-dtr: DSR can't carry the key and DTR looped back at once; "
               "wire the key to CTS, DCD or RI, or drop --dsr-follows-dtr";
    if (!o.scriptFile.empty()) {
        std::ifstream file(o.scriptFile);
        std::ostringstream text;
        text << file.rdbuf();
        if (!file || !text)
            return "--script-file: can't read '" + o.scriptFile + "'";
        // A word a line, or several.
        o.scriptText = text.str();
        for (char &c : o.scriptText)
            c = c == '\n' || c == '\r' ? ' ' : c;
    }
    std::string error;
    if (!ParseDeviceScript(o.scriptText, o.script, error))
        return "script: " + error;
    if (std::string bad = CheckLines(o.script, o.keyLine, o.dsrFollowsDtr); !bad.empty())
        return "script: " + bad;
    for (const PlugEvent &event : o.script.plugs)
        if (!event.port.empty())
            if (std::string bad = CheckPort(event.port, "replug's name"); !bad.empty())
                return "script: " + bad;
    return "";
}

std::string ParseRandom(ArgCursor &cursor, Options &o)
{
    bool seed = false, presses = false, poll = false;
    std::string value;
    while (!cursor.Done()) {
        const std::string option = cursor.Next();
        if (option == "--line" || option == "--activity") {
            if (!cursor.Value(value))
                return option + " needs a value";
            if (option == "--line" && !TakeLine(value, o.plan.keyLine))
                return "line '" + value + "' unknown; use CTS, DSR, DCD or RI";
            if (option == "--activity" && !ParseActivity(value, o.plan.activity))
                return "activity '" + value + "' unknown; use pulses, dsr-follows-dtr, ring or flap, "
                       "several with commas, or none";
            continue;
        }
        std::uint32_t *number = option == "--seed"       ? &o.plan.seed
                                : option == "--presses"  ? &o.plan.presses
                                : option == "--poll"     ? &o.plan.pollMs
                                : option == "--removals" ? &o.plan.removals
                                                         : nullptr;
        if (!number)
            return "unknown option '" + option + "'";
        const std::uint32_t high = option == "--seed" ? 999999999 : option == "--poll" ? 10000 : 30000;
        const std::uint32_t low = option == "--seed" || option == "--removals" ? 0 : 1;
        if (!cursor.Value(value) || !ParseUnsigned(value, low, high, *number))
            return option + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high);
        seed = seed || option == "--seed";
        presses = presses || option == "--presses";
        poll = poll || option == "--poll";
    }
    if (!seed || !presses || !poll)
        return "random needs --seed, --presses and --poll";
    if (o.plan.removals >= MaxPlugs || o.plan.removals >= o.plan.presses)
        return "--removals must be fewer than the presses and than " + std::to_string(MaxPlugs);
    ActivityLines lines;
    if (std::string error = LinesOf(o.plan, lines); !error.empty())
        return "--activity " + error;
    return "";
}

std::string ParseJudge(ArgCursor &cursor, Options &o)
{
    std::string value;
    while (!cursor.Done()) {
        const std::string option = cursor.Next();
        if (option == "--unseen") {
            o.keySeen = false;
            continue;
        }
        std::string *text = option == "--record"      ? &o.record
                            : option == "--polls"     ? &o.polls
                            : option == "--latencies" ? &o.latencies
                                                      : nullptr;
        if (!text && option != "--quiet-from")
            return "unknown option '" + option + "'";
        if (!cursor.Value(value))
            return option + " needs a value";
        if (text)
            *text = value;
        else if (!ParseUnsigned(value, 0, 999999999, o.quietFromMs))
            return "--quiet-from '" + value + "' is not a number of milliseconds";
        else
            o.quiet = true;
    }
    if (o.record.empty() || o.polls.empty())
        return "judge needs --record and --polls";
    return "";
}

} // namespace

std::string ParseOptions(const std::vector<std::string> &args, Options &options)
{
    options = Options{};
    if (args.empty())
        return "a command is needed: run, random or judge";
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    ArgCursor cursor(rest);
    const std::string &command = args[0];
    if (command == "run") {
        options.command = Command::Run;
        return ParseRun(cursor, options);
    }
    if (command == "random") {
        options.command = Command::Random;
        return ParseRandom(cursor, options);
    }
    if (command == "judge") {
        options.command = Command::Judge;
        return ParseJudge(cursor, options);
    }
    if (command == "--help" || command == "-h" || command == "help")
        return "";
    return "unknown command '" + command + "'; use run, random or judge";
}

} // namespace ttydev
