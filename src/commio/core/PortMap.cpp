#include "commio/PortMap.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace commio {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// User text inside a message: short enough to read, in quotes.
std::string Quoted(std::string_view text)
{
    constexpr std::size_t shown = 24;
    std::string out = "'";
    out += text.substr(0, shown);
    if (text.size() > shown)
        out += "...";
    return out + "'";
}

// All of `text` as a number in `base`: 1 to `digits` digits of it, and no
// sign, prefix or blank.
bool Whole(std::string_view text, std::size_t digits, int base, unsigned &number)
{
    const char *end = text.data() + text.size();
    const auto read = std::from_chars(text.data(), end, number, base);
    return text.size() <= digits && read.ec == std::errc() && read.ptr == end;
}

// 1 to 4 hex digits.
bool ParseHex16(std::string_view text, std::uint16_t &value)
{
    unsigned number = 0;
    if (!Whole(text, 4, 16, number))
        return false;
    value = static_cast<std::uint16_t>(number);
    return true;
}

// COM1..COM256 (any case, no leading zero) opens as \\.\COMn, which also
// reaches ports past COM9; a \\.\ name is opened as written.
bool DevicePath(std::string_view device, std::string &path)
{
    if (device.size() > 4 && device.substr(0, 4) == "\\\\.\\") {
        for (char c : device.substr(4))
            if (c == '\\' || c == '/' || c == '"')
                return false;
        path = std::string(device);
        return true;
    }
    const unsigned number = ComNumber(device);
    if (number == 0)
        return false;
    path = "\\\\.\\COM" + std::to_string(number);
    return true;
}

bool IsSerialCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '-' ||
           c == '.';
}

// "0403:6001:A1B2C3" or "0403:6001".
bool ParseUsb(std::string_view text, UsbIdentity &usb)
{
    const std::size_t first = text.find(':');
    if (first == std::string_view::npos || !ParseHex16(text.substr(0, first), usb.vendor))
        return false;
    text.remove_prefix(first + 1);
    const std::size_t second = text.find(':');
    if (!ParseHex16(text.substr(0, second), usb.product))
        return false;
    if (second == std::string_view::npos)
        return true;
    const std::string_view serial = text.substr(second + 1);
    if (!FitsMapSerial(serial))
        return false;
    usb.serial = std::string(serial);
    return true;
}

// 0 to 250, an optional "ms" after the number.
bool ParseDebounce(std::string_view text, std::uint8_t &ms)
{
    if (text.size() > 2 && EqualsNoCase(text.substr(text.size() - 2), "ms"))
        text.remove_suffix(2);
    unsigned number = 0;
    if (!Whole(text, 3, 10, number) || number > MaxDebounceMs)
        return false;
    ms = static_cast<std::uint8_t>(number);
    return true;
}

// A status line by its name, in any case.
bool ParseKeyLine(std::string_view text, uart::ModemLine &line)
{
    for (const uart::ModemLine each : uart::InputLines)
        if (EqualsNoCase(text, each.Name())) {
            line = each;
            return true;
        }
    return false;
}

const char *const kOptions = "line=CTS|DSR|DCD|RI, invert, debounce=MS, usb=VID:PID:SERIAL";
// The options' names, those that take a value first.
const char *const kValued[] = {"line", "debounce", "usb"};

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// How many letters to change, add or drop to make one word the other, in
// any case; words of up to 15 letters, more counts as far.
std::size_t Distance(std::string_view a, std::string_view b)
{
    if (a.size() > 15 || b.size() > 15)
        return 99;
    std::size_t row[16];
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// What a word that is no device and no option was most likely meant to be,
// written as the map takes it: "invert" for "inverted", "line=DSR" for
// "dsr", "line:DSR" or "linr=DSR"; empty when nothing is near.
std::string NearestOption(std::string_view word)
{
    uart::ModemLine line = uart::ModemLine::Cts;
    if (ParseKeyLine(word, line))
        return std::string("line=") + line.Name();
    const std::size_t split = std::min(word.find('='), word.find(':'));
    if (split != std::string_view::npos) {
        const std::string_view name = word.substr(0, split), value = word.substr(split + 1);
        for (const char *valued : kValued)
            if (Distance(name, valued) <= (name.size() > 3 ? 2u : 1u)) {
                std::string fixed = std::string(valued) + "=" + std::string(value);
                if (EqualsNoCase(valued, "line") && ParseKeyLine(value, line))
                    fixed = std::string("line=") + line.Name();
                return fixed;
            }
        return {};
    }
    if (Distance(word, "invert") <= 2 || (word.size() > 6 && EqualsNoCase(word.substr(0, 6), "invert")))
        return "invert";
    return {};
}

// The complaint about a word that is no option, with the one it was most
// likely meant to be.
std::string UnknownOption(std::string_view word)
{
    const std::string nearest = NearestOption(word);
    return "unknown option " + Quoted(word) + (nearest.empty() ? "; the options are " : "; did you mean '" + nearest +
                                                                                            "'? The options are ") +
           kOptions;
}

// One word after '=': the device, or an option. Returns an error, or empty.
std::string ParseWord(std::string_view word, std::string_view rest, PortMapping &mapping, unsigned &seen)
{
    enum : unsigned { SeenDevice = 1, SeenLine = 2, SeenInvert = 4, SeenDebounce = 8, SeenUsb = 16 };
    auto once = [&seen](unsigned flag, const char *name) -> std::string {
        if (seen & flag)
            return std::string("option '") + name + "' given twice";
        seen |= flag;
        return {};
    };
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos) {
        if (EqualsNoCase(word, "invert")) {
            mapping.invert = true;
            return once(SeenInvert, "invert");
        }
        std::string path;
        const bool device = DevicePath(word, path);
        // A word that is no device, after the device or near an option's
        // name, is a mistyped option, not a second device.
        if (!device && ((seen & SeenDevice) || !NearestOption(word).empty()))
            return UnknownOption(word);
        if (seen & SeenDevice)
            return "one device per line, not " + Quoted(rest);
        seen |= SeenDevice;
        if (!device)
            return "unknown device " + Quoted(word) + "; use COM1 to COM256 or a \\\\.\\ name";
        mapping.path = path;
        mapping.device = std::string(word);
        return {};
    }
    const std::string_view name = word.substr(0, equals);
    const std::string_view value = word.substr(equals + 1);
    if (EqualsNoCase(name, "line")) {
        if (!ParseKeyLine(value, mapping.input))
            return "input line " + Quoted(value) + " unknown; use line=CTS, DSR, DCD or RI";
        return once(SeenLine, "line");
    }
    if (EqualsNoCase(name, "debounce")) {
        if (!ParseDebounce(value, mapping.debounceMs))
            return "debounce " + Quoted(value) + " is not 0 to " + std::to_string(MaxDebounceMs) + " milliseconds";
        return once(SeenDebounce, "debounce");
    }
    if (EqualsNoCase(name, "usb")) {
        if (!ParseUsb(value, mapping.usb))
            return "USB identity " + Quoted(value) +
                   " unreadable; write usb=VID:PID:SERIAL in hexadecimal IDs, such as usb=0403:6001:A1B2C3";
        mapping.hasUsb = true;
        return once(SeenUsb, "usb");
    }
    if (EqualsNoCase(name, "invert"))
        return "'invert' takes no value";
    // A second '=' after a device ("COM3=COM4", "COM3 = COM4") is a second
    // device, not an option.
    std::string path;
    if (name.empty() || DevicePath(name, path))
        return "one device per line, not " + Quoted(rest);
    return UnknownOption(word);
}

// An option's name with blanks around its '=' ("line = DSR", "line= DSR",
// "line =DSR"): the words that follow `word` are `after`. Empty when that is
// not so.
std::string BlanksAroundEquals(std::string_view word, std::string_view after)
{
    std::string_view name = word;
    const bool trailing = !name.empty() && name.back() == '=';
    if (trailing)
        name.remove_suffix(1);
    const bool valued = std::any_of(std::begin(kValued), std::end(kValued),
                                    [name](const char *each) { return EqualsNoCase(name, each); });
    if (!valued || after.empty() || (!trailing && after.front() != '='))
        return {};
    if (!trailing)
        after = Trim(after.substr(1));
    const std::string_view value = after.substr(0, std::min(after.find(' '), after.find('\t')));
    return "blanks around '=' split the option " + Quoted(std::string(name) + " = " + std::string(value)) +
           "; write it as one word: " + std::string(name) + "=" + std::string(value);
}

// One mapping line, comments and blanks already gone.
PortMapping ParseLine(std::string_view content, int lineNumber, std::string &error)
{
    PortMapping mapping{};
    mapping.line = lineNumber;
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        error = "expected 'KEY = DEVICE', such as 'any = COM3', not " + Quoted(content);
        return mapping;
    }
    const std::string_view key = Trim(content.substr(0, equals));
    const std::string_view rest = Trim(content.substr(equals + 1));
    if (key.empty()) {
        error = "nothing before '='; the key is 'any' or a UART base such as 3F8";
        return mapping;
    }
    if (rest.empty()) {
        error = "no device after '='; name one such as COM3";
        return mapping;
    }
    if (EqualsNoCase(key, "any")) {
        mapping.any = true;
    } else {
        // "3F8", "3f8h", "D040H": 1 to 4 hex digits and an optional h.
        const bool h = key.back() == 'h' || key.back() == 'H';
        if (!ParseHex16(key.substr(0, key.size() - h), mapping.base)) {
            error = "unknown key " + Quoted(key) + "; the key is 'any' or a UART base such as 3F8";
            return mapping;
        }
        if (mapping.base < LowestMappedBase || mapping.base > HighestMappedBase) {
            char range[32];
            std::snprintf(range, sizeof range, "%X to %X", LowestMappedBase, HighestMappedBase);
            error = "UART base " + Quoted(key) + " out of range; bases run from " + range;
            return mapping;
        }
    }
    // The device and the options, in any order.
    unsigned seen = 0;
    std::string_view words = rest;
    while (!words.empty()) {
        std::size_t end = 0;
        while (end < words.size() && !IsBlank(words[end]))
            ++end;
        const std::string_view word = words.substr(0, end);
        error = BlanksAroundEquals(word, Trim(words.substr(end)));
        if (error.empty())
            error = ParseWord(word, rest, mapping, seen);
        if (!error.empty())
            return mapping;
        words = Trim(words.substr(end));
    }
    if (mapping.path.empty() && !mapping.hasUsb)
        error = "no device among the options; name one such as COM3, or an adapter as usb=VID:PID:SERIAL";
    return mapping;
}

// Checks a new mapping against those already read.
std::string Conflict(const std::vector<PortMapping> &uarts, const PortMapping &next)
{
    for (const PortMapping &earlier : uarts) {
        const std::string where = " (line " + std::to_string(earlier.line) + ")";
        if (earlier.any && next.any)
            return "a second 'any'" + where;
        if (!earlier.any && !next.any) {
            const int distance = earlier.base > next.base ? earlier.base - next.base : next.base - earlier.base;
            if (distance == 0)
                return "UART base given twice" + where;
            if (distance < 8)
                return "UART registers overlap the base on line " + std::to_string(earlier.line);
        }
        if (!next.path.empty() && EqualsNoCase(earlier.path, next.path))
            return "device " + Quoted(next.device) + " already carries another UART" + where;
        if (earlier.hasUsb && next.hasUsb && earlier.usb.vendor == next.usb.vendor &&
            earlier.usb.product == next.usb.product && EqualsNoCase(earlier.usb.serial, next.usb.serial))
            return "adapter usb=" + FormatUsbIdentity(next.usb) + " already carries another UART" + where;
    }
    if (uarts.size() == MaxMappedUarts)
        return "more than " + std::to_string(MaxMappedUarts) + " UARTs";
    return {};
}

} // namespace

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

bool FitsMapSerial(std::string_view serial)
{
    return !serial.empty() && serial.size() <= MaxUsbSerial &&
           std::all_of(serial.begin(), serial.end(), IsSerialCharacter);
}

std::string FormatUsbIdentity(const UsbIdentity &usb)
{
    char ids[12];
    std::snprintf(ids, sizeof ids, "%04X:%04X", usb.vendor, usb.product);
    return usb.serial.empty() ? std::string(ids) : ids + (":" + usb.serial);
}

std::string FormatMapping(const PortMapping &mapping)
{
    char key[8] = "any";
    if (!mapping.any)
        std::snprintf(key, sizeof key, "%X", mapping.base);
    std::string line = std::string(key) + " =";
    if (!mapping.device.empty())
        line += " " + mapping.device;
    if (mapping.hasUsb) // beside the device it finds again
        line += " usb=" + FormatUsbIdentity(mapping.usb);
    if (mapping.input != uart::ModemLine::Cts)
        line += std::string(" line=") + mapping.input.Name();
    if (mapping.invert)
        line += " invert";
    if (mapping.debounceMs)
        line += " debounce=" + std::to_string(mapping.debounceMs);
    return line;
}

bool ReadInstanceId(std::string_view id, InstanceIdParts &parts)
{
    parts = InstanceIdParts{};
    // "VID_hhhh" then '&' or '+', then "PID_hhhh".
    std::size_t at = 0;
    while (at + 4 <= id.size() && !EqualsNoCase(id.substr(at, 4), "VID_"))
        ++at;
    if (at + 17 > id.size() || !ParseHex16(id.substr(at + 4, 4), parts.vendor) ||
        (id[at + 8] != '&' && id[at + 8] != '+') || !EqualsNoCase(id.substr(at + 9, 4), "PID_") ||
        !ParseHex16(id.substr(at + 13, 4), parts.product)) {
        parts = InstanceIdParts{};
        return false;
    }
    std::string_view tail = id.substr(at + 17);
    if (tail.empty())
        return true;
    const char mark = tail[0];
    tail.remove_prefix(1);
    const std::string_view part = tail.substr(0, tail.find('\\'));
    if (mark == '+' && part.find('&') == std::string_view::npos) {
        parts.serial = part;
        parts.portLetter = !part.empty();
    } else if (mark == '\\' && at == 4 && EqualsNoCase(id.substr(0, 4), "USB\\") &&
               part.find('&') == std::string_view::npos) {
        parts.serial = part;
    }
    return true;
}

bool InstanceIdMatches(std::string_view id, const UsbIdentity &usb)
{
    InstanceIdParts parts;
    if (!ReadInstanceId(id, parts) || parts.vendor != usb.vendor || parts.product != usb.product)
        return false;
    if (usb.serial.empty())
        return true;
    if (EqualsNoCase(parts.serial, usb.serial))
        return true;
    const std::string_view serial = parts.serial;
    const char letter = serial.empty() ? '\0' : serial.back();
    return parts.portLetter && serial.size() == usb.serial.size() + 1 &&
           ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) &&
           EqualsNoCase(serial.substr(0, usb.serial.size()), usb.serial);
}

unsigned ComNumber(std::string_view name)
{
    if (name.substr(0, 4) == "\\\\.\\")
        name.remove_prefix(4);
    unsigned number = 0;
    if (name.size() < 4 || !EqualsNoCase(name.substr(0, 3), "COM") || name[3] == '0' ||
        !Whole(name.substr(3), 3, 10, number))
        return 0;
    return number <= 256 ? number : 0;
}

PortMapResult ParsePortMap(std::string_view text)
{
    PortMapResult result;
    auto fail = [&result](int line, std::string why) {
        result.uarts.clear();
        result.errorLine = line;
        result.error = std::move(why);
        return result;
    };
    if (text.size() > MaxPortMapBytes)
        return fail(0, "longer than " + std::to_string(MaxPortMapBytes) + " bytes");
    if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF')))
        return fail(0, "saved as UTF-16; save it as ANSI or UTF-8");
    if (text.substr(0, 3) == "\xEF\xBB\xBF") // a UTF-8 mark some editors put first
        text.remove_prefix(3);

    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > MaxPortMapLine)
            return fail(lineNumber, "longer than " + std::to_string(MaxPortMapLine) + " characters");
        // A comment may hold any text (a technician's own language, in
        // UTF-8 or the PC's code page); what is read is plain ASCII. No
        // control byte anywhere: that is no text file.
        const std::size_t comment = std::min(line.find('#'), line.size());
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto byte = static_cast<unsigned char>(line[i]);
            if ((byte < 0x20 && byte != '\t') || byte == 0x7F || (byte > 0x7F && i < comment)) {
                static const char hex[] = "0123456789ABCDEF";
                return fail(lineNumber, std::string("byte ") + hex[byte >> 4] + hex[byte & 15] + "h at column " +
                                            std::to_string(i + 1) + " is not plain ASCII text" +
                                            (byte > 0x7F ? " (only a comment, after #, may hold other text)" : ""));
            }
        }
        const std::string_view content = Trim(line.substr(0, line.find('#')));
        if (content.empty())
            continue;
        std::string error;
        PortMapping mapping = ParseLine(content, lineNumber, error);
        if (error.empty())
            error = Conflict(result.uarts, mapping);
        if (!error.empty())
            return fail(lineNumber, error);
        result.uarts.push_back(std::move(mapping));
    }
    if (result.uarts.empty()) {
        fail(0, "names no COM device; add a line such as 'any = COM3'");
        result.namesNone = true;
        return result;
    }
    // `any` goes last: explicit bases are looked up first.
    std::stable_partition(result.uarts.begin(), result.uarts.end(), [](const PortMapping &m) { return !m.any; });
    return result;
}

} // namespace commio
