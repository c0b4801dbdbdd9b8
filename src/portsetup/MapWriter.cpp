#include "portsetup/MapWriter.h"

#include <cstdio>

#include "commio/PortMap.h"
#include "uart/ModemLines.h"

namespace portsetup {

using namespace uart; // the modem lines, by the names the UART model gives them
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
    return (map.errorLine ? "line " + std::to_string(map.errorLine) + ": " : std::string()) + map.error +
           " (the comm-port io.dll holds no port with it)";
}

namespace {

// The key's line as the map names it.
commio::KeyLine MapKeyLine(int line)
{
    return line >= 0 && line < InputLineCount ? static_cast<commio::KeyLine>(InputLineMask(line))
                                              : commio::KeyLine::Cts;
}

} // namespace

// The map line for what was found, written by the map's own module. The
// adapter's identity goes in, so that the io.dll finds it again when
// Windows gives it another COM number: with its serial number where the
// map can hold that, else by vendor and product ID alone.
std::string MapLineFor(const Finding &finding)
{
    commio::PortMapping mapping;
    mapping.any = true;
    mapping.device = finding.port;
    mapping.input = MapKeyLine(finding.line);
    mapping.invert = finding.opensWhenPressed;
    mapping.hasUsb = finding.usb.Known();
    mapping.usb = finding.usb;
    if (mapping.hasUsb && !mapping.usb.serial.empty() &&
        !commio::ParsePortMap(commio::FormatMapping(mapping)).error.empty())
        mapping.usb.serial.clear();
    return commio::FormatMapping(mapping);
}

std::string PortMapText(const Finding &finding)
{
    const std::string device = DeviceDescription(finding.friendlyName, finding.port);
    std::string text = "# Which COM port carries the serial key, written by zelbin-keytest --find --write-map.\n"
                       "# The file that was here before, if any, is io-ports.txt.bak.\n"
                       "#\n";
    text += Comment("The key: " + finding.port + (device.empty() ? "" : ", " + device) + ", line " +
                    LineName(finding.line) + ", " + (finding.opensWhenPressed ? "opens" : "closes") +
                    " when pressed.");
    if (finding.usb.Known())
        text += Comment("The adapter: " + IdentityText(finding.usb) + ".");
    text += MapLineFor(finding) + "\n";
    return text;
}

namespace {

// Why the map at `path` is not the one meant: it doesn't read back as
// `text`, or the port map reader refuses it or finds no key port in it.
// Empty when it is.
std::string ReadBackRefusal(const std::string &path, const std::string &text, const Finding &finding)
{
    std::string readBack;
    if (!ReadWhole(path, readBack) || readBack != text)
        return path + " doesn't read back as written; the previous state is back";
    const commio::PortMapResult map = commio::ParsePortMap(readBack);
    bool mapsThePort = false;
    for (const commio::PortMapping &mapping : map.uarts)
        mapsThePort = mapsThePort || (mapping.any && ComName(mapping.path) == finding.port);
    if (map.error.empty() && mapsThePort)
        return {};
    return "the port map reader would refuse the new map (" +
           (map.error.empty() ? std::string("it doesn't carry ") + finding.port
                              : "line " + std::to_string(map.errorLine) + ": " + map.error) +
           "), so the previous state is back. The line was '" + MapLineFor(finding) + "'.";
}

} // namespace

MapWriteResult WritePortMapFile(const std::string &path, const Finding &finding)
{
    MapWriteResult result;
    const std::string fresh = path + ".new", backup = path + ".bak", older = path + ".bak.old";
    const std::string text = PortMapText(finding);
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

    result.message = ReadBackRefusal(path, text, finding);
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
