// Writing what --find found into io-ports.txt, the comm-port io.dll's port
// map, so that the next start of the host uses the key as found, and every
// other key the map carries as it did.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commio/PortMap.h"
#include "portsetup/KeyFinder.h"

namespace portsetup {

// Reads the port map at `path` through the io.dll's parser into `map`.
// Returns an empty text when it was read, else why not, for the --ports
// report: "not there", or the parser's complaint with its line.
std::string ReadPortMapFile(const std::string &path, commio::PortMapResult &map);

// The map's line for a finding of Finding::Kind::Found, formatted by the
// map's own module: every UART on the port found, the line found as the key
// line, inverted for a key that opens when pressed, and the adapter's
// identity, so that the io.dll finds it again when Windows gives it another
// COM number (with its serial number where the map can hold that, else by
// vendor and product ID alone): "any = COM5 usb=1A86:7523:A50285BI line=DSR
// invert".
std::string MapLineFor(const Finding &finding);

// Where a key found goes in the map there is. Every line it isn't asked to
// change stays as it is, comments included:
// - a line that names the port or the adapter found is replaced, keeping
//   its key (the UART it carries) and its debounce;
// - else, with the UART's base from the host's parameters, the line for
//   that base is replaced, or one is added for it;
// - else, in a map that names no device yet, an `any` line is added;
// - else nothing is written: the technician is asked which UART of the host
//   the key is for (the other keys' lines stay as they are).
// The file is written with CR LF line ends, for Windows' editors.
struct MapPlan {
    bool ok = false;
    std::string why;    // !ok: why nothing can be written, and what to do
    std::string text;   // the whole new file
    std::string line;   // the mapping written
    int lineNumber = 0; // its line in the new file
    std::string replaced; // the mapping it replaces, as it was; empty: added
    std::vector<std::string> kept; // the other mappings, "line 1 (3F8 = COM5)"
    std::string port;   // the port found
    bool existed = false; // there was a map before
    bool any = true;    // the line carries any UART; else `base`
    std::uint16_t base = 0;
    // What changes, in words: "line 3 added, '2F8 = COM12'; kept as they
    // were: line 1 (3F8 = COM5)".
    std::string Change() const;
};

// `existing`: the map's text, or none where there is no file. `base`: the
// UART the key is for, as the host's parameters select it; none where no
// parameters were given.
MapPlan PlanMapWrite(const std::optional<std::string> &existing, const Finding &finding,
                     std::optional<std::uint16_t> base);

// The same for the map at `path` as it is now (none there: a new file).
MapPlan PlanMapFile(const std::string &path, const Finding &finding, std::optional<std::uint16_t> base);

struct MapWriteResult {
    bool done = false;
    bool keptBackup = false; // the file that was there is now `path`.bak
    std::string message;     // what happened, for the technician
};

// Writes the map for `finding` to `path` (".../io-ports.txt") as
// PlanMapWrite plans it: the new text goes to a file beside it first, an
// existing map becomes `path`.bak, and the new one takes its place. It is
// then read back once through the io.dll's own parser; if that refuses it,
// or it doesn't read back as planned (the mapping written, on the port
// found, and every other one kept), the previous state is put back and the
// message says why.
MapWriteResult WritePortMapFile(const std::string &path, const Finding &finding,
                                std::optional<std::uint16_t> base = std::nullopt);

// Why the folder can't take a file, for the message: "no right to write in
// it (...)" for a refusal (errno EACCES or EPERM), else "is the folder
// read-only, or the disk full?".
std::string WhyNotWritten(int error);

} // namespace portsetup
