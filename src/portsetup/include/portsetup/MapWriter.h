// Writing what --find found into io-ports.txt, the comm-port io.dll's port
// map, so that the next start of the host uses the key as found.
#pragma once

#include <string>

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

// The whole file for a finding of Finding::Kind::Found.
std::string PortMapText(const Finding &finding);

struct MapWriteResult {
    bool done = false;
    bool keptBackup = false; // the file that was there is now `path`.bak
    std::string message;     // what happened, for the technician
};

// Writes the map for `finding` to `path` (".../io-ports.txt"): the new text
// goes to a file beside it first, an existing map becomes `path`.bak, and
// the new one takes its place. It is then read back once through the
// io.dll's own parser; if that refuses it, or it doesn't read back as the
// mapping written, on the port found, the previous state is put back and
// the message says why.
MapWriteResult WritePortMapFile(const std::string &path, const Finding &finding);

} // namespace portsetup
