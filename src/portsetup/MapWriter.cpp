#include "portsetup/MapWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "commio/PortMap.h"
#include "portsetup/TextFile.h"

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

// 0, or errno where the file can't be written whole.
int WriteWhole(const std::string &path, const std::string &text)
{
    errno = 0;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return errno ? errno : EIO;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int error = errno;
    if (std::fclose(file) != 0 || !written)
        return error ? error : EIO;
    return 0;
}

bool Exists(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file)
        std::fclose(file);
    return file != nullptr;
}

// A comment line the io.dll's parser takes: Windows' device names may be in
// any language and code page, so they are kept to plain ASCII, and a line
// is short.
std::string Comment(std::string text)
{
    for (char &c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E)
            c = '?';
    }
    if (text.size() > commio::MaxPortMapLine)
        text.resize(commio::MaxPortMapLine);
    return text;
}

} // namespace

std::string ReadPortMapFile(const std::string &path, commio::PortMapResult &map)
{
    map = commio::PortMapResult{};
    std::string text;
    if (!ReadWhole(path, text)) {
        if (Exists(path))
            return "can't be read";
        const std::string folder = path.substr(0, path.find_last_of("\\/") + 1);
        if (Exists(folder + commio::PortMapNamedTwice))
            return std::string("not there, but ") + commio::PortMapNamedTwiceAdvice;
        return "not there: without it the comm-port io.dll holds no port";
    }
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

// The lines of a text, without their ends (LF or CR LF).
std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        std::string line = text.substr(from, end - from);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        from = end + 1;
    }
    return lines;
}

// The comments written above a key's line, which a later write for the same
// line replaces.
const char *const kKeyComment = "# The key: ";
const char *const kAdapterComment = "# The adapter: ";

bool OurComment(const std::string &line)
{
    return line.rfind(kKeyComment, 0) == 0 || line.rfind(kAdapterComment, 0) == 0;
}

std::vector<std::string> FoundComments(const Finding &finding)
{
    const std::string device = DeviceDescription(finding.friendlyName, finding.port);
    std::vector<std::string> lines = {Comment(kKeyComment + finding.port + (device.empty() ? "" : ", " + device) +
                                              ", line " + finding.line.Name() + ", " +
                                              (finding.opensWhenPressed ? "opens" : "closes") + " when pressed.")};
    if (finding.usb.Known())
        lines.push_back(Comment(kAdapterComment + IdentityText(finding.usb) + "."));
    return lines;
}

// Whether a mapping names the port found, or its adapter.
bool NamesFound(const commio::PortMapping &mapping, const Finding &finding)
{
    if (!mapping.path.empty() && ComName(mapping.path) == finding.port)
        return true;
    return mapping.hasUsb && finding.usb.Known() && mapping.usb.vendor == finding.usb.vendor &&
           mapping.usb.product == finding.usb.product &&
           (mapping.usb.serial.empty() || commio::EqualsNoCase(mapping.usb.serial, finding.usb.serial));
}

std::string Hex(std::uint16_t base)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04Xh", base);
    return text;
}

// What a map's lines carry, for a question: "3F8h on COM5 (line 1), any
// UART on COM6 (line 2)".
std::string Carried(const commio::PortMapResult &map)
{
    std::vector<const commio::PortMapping *> byLine;
    for (const commio::PortMapping &m : map.uarts)
        byLine.push_back(&m);
    std::sort(byLine.begin(), byLine.end(), [](auto a, auto b) { return a->line < b->line; });
    std::string text;
    for (const commio::PortMapping *m : byLine) {
        const std::string device = !m->device.empty() ? std::string(m->device) : "usb=" + commio::FormatUsbIdentity(m->usb);
        text += (text.empty() ? "" : ", ") + (m->any ? std::string("any UART") : Hex(m->base)) + " on " + device +
                " (line " + std::to_string(m->line) + ")";
    }
    return text;
}

// Why the new map isn't the one planned: it doesn't read back as `text`, or
// the port map reader refuses it, or what the reader makes of it is not the
// mapping planned, on the port found, beside every one kept. Empty when it
// is.
std::string ReadBackRefusal(const std::string &path, const std::string &text, const MapPlan &plan)
{
    std::string readBack;
    if (!ReadWhole(path, readBack) || readBack != text)
        return path + " doesn't read back as written; the previous state is back";
    const commio::PortMapResult map = commio::ParsePortMap(readBack);
    const bool asWritten = std::any_of(map.uarts.begin(), map.uarts.end(), [&](const commio::PortMapping &m) {
        return commio::FormatMapping(m) == plan.line && ComName(m.path) == plan.port;
    });
    if (map.error.empty() && asWritten && map.uarts.size() == plan.kept.size() + 1)
        return {};
    return "the port map reader would refuse the new map (" +
           (!map.error.empty() ? "line " + std::to_string(map.errorLine) + ": " + std::string(map.error)
            : asWritten        ? "it doesn't keep the other lines"
                               : "it doesn't carry " + plan.port) +
           "), so the previous state is back. The line was '" + plan.line + "'.";
}

} // namespace

std::string MapLineFor(const Finding &finding) { return commio::FormatMapping(FoundMapping(finding)); }

std::string MapPlan::Change() const
{
    std::string said = "line " + std::to_string(lineNumber) +
                       (replaced.empty() ? " added, '" + line + "'" : ", '" + replaced + "', replaced by '" + line + "'");
    said += ": " + port + " carries the key" + (any ? "" : " for the UART at " + Hex(base));
    for (std::size_t i = 0; i < kept.size(); ++i)
        said += (i == 0 ? "; kept as they were: " : ", ") + kept[i];
    return said;
}

MapPlan PlanMapWrite(const std::optional<std::string> &existing, const Finding &finding,
                     std::optional<std::uint16_t> base)
{
    MapPlan plan;
    plan.port = finding.port;
    plan.existed = existing.has_value();
    commio::PortMapping mapping = FoundMapping(finding);
    commio::PortMapResult map;
    std::vector<std::string> lines;
    bool namesNone = true;
    if (existing) {
        map = commio::ParsePortMap(*existing);
        if (!map.error.empty() && !map.namesNone) {
            plan.why = std::string("the ") + commio::PortMapFileName + " there can't be read as a port map (" +
                       (map.errorLine ? "line " + std::to_string(map.errorLine) + ": " : std::string()) + std::string(map.error) +
                       "), so nothing was written: correct that line or take it out, then search again";
            return plan;
        }
        namesNone = map.namesNone;
        lines = SplitLines(*existing);
    }
    // The line to replace: the one for the port or adapter found, keeping
    // the UART it carries and its debounce; else the one for the base asked.
    const commio::PortMapping *replacing = nullptr;
    for (const commio::PortMapping &m : map.uarts)
        if (!replacing && NamesFound(m, finding))
            replacing = &m;
    if (replacing) {
        mapping.any = replacing->any;
        mapping.base = replacing->base;
        mapping.debounceMs = replacing->debounceMs;
    } else if (base && !namesNone) {
        for (const commio::PortMapping &m : map.uarts)
            if (!m.any && m.base == *base)
                replacing = &m;
        mapping.any = false;
        mapping.base = *base;
    } else if (!namesNone) {
        plan.why = std::string(commio::PortMapFileName) + " carries " + Carried(map) + ", and not " + finding.port +
                   ". Which UART of the host is this key for? Give the host's parameter text for it (such as \"" +
                   finding.port + ";2F8h\") with --find --write-map, or in the window's Parameters field, and search "
                   "again: a base that no line names gets a line of its own beside the others, the base of a line "
                   "there gets this key instead. Nothing was written.";
        return plan;
    }
    plan.any = mapping.any;
    plan.base = mapping.base;
    plan.line = commio::FormatMapping(mapping);
    if (replacing)
        plan.replaced = commio::FormatMapping(*replacing);

    std::vector<std::string> out;
    std::vector<int> renumbered(lines.size() + 1, 0); // a line of the old map -> its line in the new one
    // The key's comments and line; a replaced line's own comment stays on
    // it where the line keeps within the reader's length.
    const auto place = [&](const std::string &was) {
        while (!out.empty() && OurComment(out.back()))
            out.pop_back();
        for (const std::string &comment : FoundComments(finding))
            out.push_back(comment);
        const std::size_t hash = was.find('#');
        const std::string kept = hash == std::string::npos ? "" : "  " + was.substr(hash);
        out.push_back(plan.line + (plan.line.size() + kept.size() <= commio::MaxPortMapLine ? kept : ""));
        plan.lineNumber = static_cast<int>(out.size());
    };
    if (!existing) {
        out = {"# Which COM port carries the serial key, written by zelbin-keytest --find --write-map.",
               "# The file that was here before, if any, is io-ports.txt.bak.", "#"};
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (replacing && replacing->line == static_cast<int>(i + 1)) {
            place(lines[i]);
        } else {
            out.push_back(lines[i]);
            renumbered[i + 1] = static_cast<int>(out.size());
        }
    }
    if (!replacing) {
        if (existing && !out.empty() && !out.back().empty())
            out.push_back("");
        place("");
    }
    std::vector<const commio::PortMapping *> others;
    for (const commio::PortMapping &m : map.uarts)
        if (&m != replacing)
            others.push_back(&m);
    std::sort(others.begin(), others.end(), [](auto a, auto b) { return a->line < b->line; });
    for (const commio::PortMapping *m : others)
        plan.kept.push_back("line " + std::to_string(renumbered[static_cast<std::size_t>(m->line)]) + " (" +
                            commio::FormatMapping(*m) + ")");
    for (const std::string &line : out)
        plan.text += line + WindowsLineEnd;
    plan.ok = true;
    return plan;
}

std::string WhyNotWritten(int error)
{
    if (error == EACCES || error == EPERM)
        return "no right to write in that folder: under Program Files only an administrator may change files, so "
               "run the command prompt (or the tester) as administrator";
    return "is the folder read-only, or the disk full?";
}

MapPlan PlanMapFile(const std::string &path, const Finding &finding, std::optional<std::uint16_t> base)
{
    std::optional<std::string> existing;
    if (Exists(path)) {
        std::string text;
        if (!ReadWhole(path, text)) {
            MapPlan plan;
            plan.why = "can't read " + path + "; nothing was changed";
            return plan;
        }
        existing = text;
    }
    return PlanMapWrite(existing, finding, base);
}

MapWriteResult WritePortMapFile(const std::string &path, const Finding &finding, std::optional<std::uint16_t> base)
{
    MapWriteResult result;
    const std::string fresh = path + ".new", backup = path + ".bak", older = path + ".bak.old";
    const MapPlan plan = PlanMapFile(path, finding, base);
    if (!plan.ok) {
        result.message = plan.why;
        return result;
    }
    if (const int error = WriteWhole(fresh, plan.text)) {
        std::remove(fresh.c_str());
        result.message = "can't write " + fresh + ": " + WhyNotWritten(error);
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
    if (plan.existed) {
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

    result.message = ReadBackRefusal(path, plan.text, plan);
    if (!result.message.empty()) {
        undo();
        return result;
    }
    std::remove(older.c_str());
    result.done = true;
    result.message = "Wrote " + path + (result.keptBackup ? " (the previous one is " + backup + ")" : "") +
                     " and read it back as the comm-port io.dll reads it: " + plan.Change() + ".";
    return result;
}

} // namespace portsetup
