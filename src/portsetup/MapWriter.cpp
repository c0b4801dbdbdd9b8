#include "portsetup/MapWriter.h"

#include <algorithm>
#include <cstdio>

#include "commio/PortMap.h"

namespace portsetup {

namespace {

bool ReadWhole(const std::string &path, std::string &text)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    text.clear();
    char buffer[4096];
    std::size_t got = 0;
    // One byte past the io.dll's limit is enough to tell a file too long.
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() <= commio::MaxPortMapBytes)
        text.append(buffer, got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

bool WriteWhole(const std::string &path, const std::string &text)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

bool Exists(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file)
        std::fclose(file);
    return file != nullptr;
}

// A comment line the io.dll's parser takes: Windows' device names may be in
// any language, but the map is plain ASCII, and its lines are short.
std::string Comment(std::string text)
{
    for (char &c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E)
            c = '?';
    }
    text = "# " + text;
    if (text.size() > commio::MaxPortMapLine)
        text.resize(commio::MaxPortMapLine);
    return text + "\n";
}

} // namespace

std::string ReadPortMapFile(const std::string &path, commio::PortMapResult &map)
{
    map = commio::PortMapResult{};
    std::string text;
    if (!ReadWhole(path, text))
        return Exists(path) ? "can't be read" : "not there: without it the comm-port io.dll holds no port";
    map = commio::ParsePortMap(text);
    if (map.error.empty())
        return {};
    return (map.errorLine ? "line " + std::to_string(map.errorLine) + ": " : std::string()) + std::string(map.error) +
           " (the comm-port io.dll holds no port with it)";
}

namespace {

// The one form a finding takes on its way into the map.
commio::PortMapping FoundMapping(const Finding &finding)
{
    commio::PortMapping mapping;
    mapping.any = true;
    mapping.device = finding.port;
    mapping.input = finding.line;
    mapping.invert = finding.opensWhenPressed;
    mapping.hasUsb = finding.usb.Known();
    mapping.usb = finding.usb;
    if (!commio::FitsMapSerial(mapping.usb.serial))
        mapping.usb.serial.clear();
    return mapping;
}

// The whole file, around the mapping's line.
std::string MapText(const Finding &finding, const std::string &mappingLine)
{
    const std::string device = DeviceDescription(finding.friendlyName, finding.port);
    std::string text = "# Which COM port carries the serial key, written by zelbin-keytest --find --write-map.\n"
                       "# The file that was here before, if any, is io-ports.txt.bak.\n"
                       "#\n";
    text += Comment("The key: " + finding.port + (device.empty() ? "" : ", " + device) + ", line " +
                    finding.line.Name() + ", " + (finding.opensWhenPressed ? "opens" : "closes") + " when pressed.");
    if (finding.usb.Known())
        text += Comment("The adapter: " + IdentityText(finding.usb) + ".");
    return text + mappingLine + "\n";
}

// Why the map at `path` is not the one meant: it doesn't read back as
// `text`, or the port map reader refuses it, or what the reader makes of it
// is not the mapping `line` wrote, on the port found. Empty when it is.
std::string ReadBackRefusal(const std::string &path, const std::string &text, const std::string &line,
                            const std::string &port)
{
    std::string readBack;
    if (!ReadWhole(path, readBack) || readBack != text)
        return path + " doesn't read back as written; the previous state is back";
    const commio::PortMapResult map = commio::ParsePortMap(readBack);
    const bool asWritten = std::any_of(map.uarts.begin(), map.uarts.end(), [&](const commio::PortMapping &m) {
        return commio::FormatMapping(m) == line && ComName(m.path) == port;
    });
    if (map.error.empty() && asWritten)
        return {};
    return "the port map reader would refuse the new map (" +
           (map.error.empty() ? "it doesn't carry " + port
                              : "line " + std::to_string(map.errorLine) + ": " + std::string(map.error)) +
           "), so the previous state is back. The line was '" + line + "'.";
}

} // namespace

std::string MapLineFor(const Finding &finding) { return commio::FormatMapping(FoundMapping(finding)); }

std::string PortMapText(const Finding &finding) { return MapText(finding, MapLineFor(finding)); }

MapWriteResult WritePortMapFile(const std::string &path, const Finding &finding)
{
    MapWriteResult result;
    const std::string fresh = path + ".new", backup = path + ".bak", older = path + ".bak.old";
    const std::string line = MapLineFor(finding);
    const std::string text = MapText(finding, line);
    if (!WriteWhole(fresh, text)) {
        std::remove(fresh.c_str());
        result.message = "can't write " + fresh + ": is the folder read-only, or the disk full?";
        return result;
    }
    // The .bak already there stays until the new map is kept: a map the
    // reader refuses puts back the old map and the old .bak alike. (Renaming
    // onto a file fails on Windows, so it moves aside rather than being
    // overwritten.)
    std::remove(older.c_str()); // left by a write that was cut off
    const bool hadBackup = Exists(backup);
    if (hadBackup && std::rename(backup.c_str(), older.c_str()) != 0) {
        std::remove(fresh.c_str());
        result.message = "can't move the earlier " + backup + " aside; nothing was changed";
        return result;
    }
    if (Exists(path)) {
        if (std::rename(path.c_str(), backup.c_str()) != 0) {
            std::remove(fresh.c_str());
            if (hadBackup)
                std::rename(older.c_str(), backup.c_str());
            result.message = "can't keep the present " + path + " as " + backup + "; nothing was changed";
            return result;
        }
        result.keptBackup = true;
    }
    // Puts back what was there before this call.
    const auto undo = [&] {
        std::remove(path.c_str());
        if (result.keptBackup)
            std::rename(backup.c_str(), path.c_str());
        if (hadBackup)
            std::rename(older.c_str(), backup.c_str());
        result.keptBackup = false;
    };
    if (std::rename(fresh.c_str(), path.c_str()) != 0) {
        std::remove(fresh.c_str());
        undo();
        result.message = "can't put the new map in place as " + path + "; nothing was changed";
        return result;
    }

    result.message = ReadBackRefusal(path, text, line, finding.port);
    if (!result.message.empty()) {
        undo();
        return result;
    }
    std::remove(older.c_str());
    result.done = true;
    result.message = "Wrote " + path + (result.keptBackup ? " (the previous one is " + backup + ")" : "") +
                     " and read it back as the comm-port io.dll reads it: " + finding.port + " carries the key.";
    return result;
}

} // namespace portsetup
