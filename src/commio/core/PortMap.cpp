#include "commio/PortMap.h"

namespace commio {
namespace {

// The part of `text` from `at`, at most `count` bytes: nothing where `at`
// lies past its end. std::string_view::substr would throw there, and the
// io.dll has no exceptions.
std::string_view Sub(std::string_view text, std::size_t at, std::size_t count = std::string_view::npos)
{
    if (at >= text.size())
        return std::string_view(text.data() + text.size(), 0);
    const std::size_t left = text.size() - at;
    return std::string_view(text.data() + at, count < left ? count : left);
}

using Error = FixedText<MaxPortMapError>;

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
FixedText<32> Quoted(std::string_view text)
{
    constexpr std::size_t shown = 24;
    FixedText<32> out;
    out.Append('\'').Append(Sub(text, 0, shown));
    if (text.size() > shown)
        out.Append("...");
    return out.Append('\'');
}

// The value of a digit in `base` (up to 16, either case), or -1.
int DigitValue(char c, unsigned base)
{
    const int value = c >= '0' && c <= '9' ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    return value >= 0 && static_cast<unsigned>(value) < base ? value : -1;
}

// All of `text` as a number in `base`: 1 to `digits` digits of it, and no
// sign, prefix or blank.
bool Whole(std::string_view text, std::size_t digits, unsigned base, unsigned &number)
{
    if (text.empty() || text.size() > digits)
        return false;
    unsigned value = 0;
    for (const char c : text) {
        const int digit = DigitValue(c, base);
        if (digit < 0)
            return false;
        value = value * base + static_cast<unsigned>(digit);
    }
    number = value;
    return true;
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
bool DevicePath(std::string_view device, DeviceText &path)
{
    if (device.size() > 4 && Sub(device, 0, 4) == "\\\\.\\") {
        for (char c : Sub(device, 4))
            if (c == '\\' || c == '/' || c == '"')
                return false;
        path = device;
        return true;
    }
    const unsigned number = ComNumber(device);
    if (number == 0)
        return false;
    path = "\\\\.\\COM";
    path.AppendDecimal(number);
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
    if (first == std::string_view::npos || !ParseHex16(Sub(text, 0, first), usb.vendor))
        return false;
    text.remove_prefix(first + 1);
    const std::size_t second = text.find(':');
    if (!ParseHex16(Sub(text, 0, second), usb.product))
        return false;
    if (second == std::string_view::npos)
        return true;
    const std::string_view serial = Sub(text, second + 1);
    if (!FitsMapSerial(serial))
        return false;
    usb.serial = serial;
    return true;
}

// 0 to 250, an optional "ms" after the number.
bool ParseDebounce(std::string_view text, std::uint8_t &ms)
{
    if (text.size() > 2 && EqualsNoCase(Sub(text, text.size() - 2), "ms"))
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

std::size_t Least(std::size_t a, std::size_t b) { return a < b ? a : b; }

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
            row[j] = Least(Least(row[j] + 1, row[j - 1] + 1),
                           diagonal + (Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1));
            diagonal = above;
        }
    }
    return row[b.size()];
}

// An option as the map takes it: a name, '=' and a value of one word, which
// is never longer than the line it is on.
using OptionText = FixedText<MaxPortMapLine + 16>;

// What a word that is no device and no option was most likely meant to be,
// written as the map takes it: "invert" for "inverted", "line=DSR" for
// "dsr", "line:DSR" or "linr=DSR"; empty when nothing is near.
OptionText NearestOption(std::string_view word)
{
    OptionText nearest;
    uart::ModemLine line = uart::ModemLine::Cts;
    if (ParseKeyLine(word, line))
        return nearest.Append("line=").Append(line.Name());
    const std::size_t split = Least(word.find('='), word.find(':'));
    if (split != std::string_view::npos) {
        const std::string_view name = Sub(word, 0, split), value = Sub(word, split + 1);
        for (const char *valued : kValued)
            if (Distance(name, valued) <= (name.size() > 3 ? 2u : 1u)) {
                if (EqualsNoCase(valued, "line") && ParseKeyLine(value, line))
                    return nearest.Append("line=").Append(line.Name());
                return nearest.Append(valued).Append('=').Append(value);
            }
        return nearest;
    }
    if (Distance(word, "invert") <= 2 || (word.size() > 6 && EqualsNoCase(Sub(word, 0, 6), "invert")))
        nearest = "invert";
    return nearest;
}

// The complaint about a word that is no option, with the one it was most
// likely meant to be.
Error UnknownOption(std::string_view word)
{
    const OptionText nearest = NearestOption(word);
    Error error;
    error.Append("unknown option ").Append(Quoted(word));
    if (nearest.empty())
        error.Append("; the options are ");
    else
        error.Append("; did you mean '").Append(nearest).Append("'? The options are ");
    return error.Append(kOptions);
}

// One word after '=': the device, or an option. Returns an error, or empty.
Error ParseWord(std::string_view word, std::string_view rest, PortMapping &mapping, unsigned &seen)
{
    enum : unsigned { SeenDevice = 1, SeenLine = 2, SeenInvert = 4, SeenDebounce = 8, SeenUsb = 16 };
    Error error;
    auto once = [&seen, &error](unsigned flag, const char *name) -> Error {
        if (seen & flag)
            error.Append("option '").Append(name).Append("' given twice");
        seen |= flag;
        return error;
    };
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos) {
        if (EqualsNoCase(word, "invert")) {
            mapping.invert = true;
            return once(SeenInvert, "invert");
        }
        DeviceText path;
        const bool device = DevicePath(word, path);
        // A word that is no device, after the device or near an option's
        // name, is a mistyped option, not a second device.
        if (!device && ((seen & SeenDevice) || !NearestOption(word).empty()))
            return UnknownOption(word);
        if (seen & SeenDevice)
            return error.Append("one device per line, not ").Append(Quoted(rest));
        seen |= SeenDevice;
        if (!device)
            return error.Append("unknown device ").Append(Quoted(word)).Append("; use COM1 to COM256 or a \\\\.\\ name");
        mapping.path = path;
        mapping.device = word;
        return error;
    }
    const std::string_view name = Sub(word, 0, equals);
    const std::string_view value = Sub(word, equals + 1);
    if (EqualsNoCase(name, "line")) {
        if (!ParseKeyLine(value, mapping.input))
            return error.Append("input line ").Append(Quoted(value)).Append(" unknown; use line=CTS, DSR, DCD or RI");
        return once(SeenLine, "line");
    }
    if (EqualsNoCase(name, "debounce")) {
        if (!ParseDebounce(value, mapping.debounceMs))
            return error.Append("debounce ").Append(Quoted(value)).Append(" is not 0 to ").AppendDecimal(MaxDebounceMs)
                .Append(" milliseconds");
        return once(SeenDebounce, "debounce");
    }
    if (EqualsNoCase(name, "usb")) {
        if (!ParseUsb(value, mapping.usb))
            return error.Append("USB identity ").Append(Quoted(value))
                .Append(" unreadable; write usb=VID:PID:SERIAL in hexadecimal IDs, such as usb=0403:6001:A1B2C3");
        mapping.hasUsb = true;
        return once(SeenUsb, "usb");
    }
    if (EqualsNoCase(name, "invert"))
        return error.Append("'invert' takes no value");
    // A second '=' after a device ("COM3=COM4", "COM3 = COM4") is a second
    // device, not an option.
    DeviceText path;
    if (name.empty() || DevicePath(name, path))
        return error.Append("one device per line, not ").Append(Quoted(rest));
    return UnknownOption(word);
}

// An option's name with blanks around its '=' ("line = DSR", "line= DSR",
// "line =DSR"): the words that follow `word` are `after`. Empty when that is
// not so.
Error BlanksAroundEquals(std::string_view word, std::string_view after)
{
    Error error;
    std::string_view name = word;
    const bool trailing = !name.empty() && name.back() == '=';
    if (trailing)
        name.remove_suffix(1);
    bool valued = false;
    for (const char *each : kValued)
        valued |= EqualsNoCase(name, each);
    if (!valued || after.empty() || (!trailing && after.front() != '='))
        return error;
    if (!trailing)
        after = Trim(Sub(after, 1));
    const std::string_view value = Sub(after, 0, Least(after.find(' '), after.find('\t')));
    const OptionText split = OptionText(name).Append(" = ").Append(value);
    return error.Append("blanks around '=' split the option ").Append(Quoted(split))
        .Append("; write it as one word: ").Append(name).Append('=').Append(value);
}

// One mapping line, comments and blanks already gone.
PortMapping ParseLine(std::string_view content, int lineNumber, Error &error)
{
    PortMapping mapping{};
    mapping.line = lineNumber;
    const std::size_t equals = content.find('=');
    if (equals == std::string_view::npos) {
        error.Append("expected 'KEY = DEVICE', such as 'any = COM3', not ").Append(Quoted(content));
        return mapping;
    }
    const std::string_view key = Trim(Sub(content, 0, equals));
    const std::string_view rest = Trim(Sub(content, equals + 1));
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
        if (!ParseHex16(Sub(key, 0, key.size() - h), mapping.base)) {
            error.Append("unknown key ").Append(Quoted(key)).Append("; the key is 'any' or a UART base such as 3F8");
            return mapping;
        }
        if (mapping.base < LowestMappedBase || mapping.base > HighestMappedBase) {
            error.Append("UART base ").Append(Quoted(key)).Append(" out of range; bases run from ")
                .AppendHex(LowestMappedBase).Append(" to ").AppendHex(HighestMappedBase);
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
        const std::string_view word = Sub(words, 0, end);
        error = BlanksAroundEquals(word, Trim(Sub(words, end)));
        if (error.empty())
            error = ParseWord(word, rest, mapping, seen);
        if (!error.empty())
            return mapping;
        words = Trim(Sub(words, end));
    }
    if (mapping.path.empty() && !mapping.hasUsb)
        error = "no device among the options; name one such as COM3, or an adapter as usb=VID:PID:SERIAL";
    return mapping;
}

// Checks a new mapping against those already read.
Error Conflict(const MappingList &uarts, const PortMapping &next)
{
    Error error;
    for (const PortMapping &earlier : uarts) {
        FixedText<24> where;
        where.Append(" (line ").AppendDecimal(static_cast<std::uint32_t>(earlier.line)).Append(')');
        if (earlier.any && next.any)
            return error.Append("a second 'any'").Append(where);
        if (!earlier.any && !next.any) {
            const int distance = earlier.base > next.base ? earlier.base - next.base : next.base - earlier.base;
            if (distance == 0)
                return error.Append("UART base given twice").Append(where);
            if (distance < 8)
                return error.Append("UART registers overlap the base on line ")
                    .AppendDecimal(static_cast<std::uint32_t>(earlier.line));
        }
        if (!next.path.empty() && EqualsNoCase(earlier.path, next.path))
            return error.Append("device ").Append(Quoted(next.device)).Append(" already carries another UART").Append(where);
        if (earlier.hasUsb && next.hasUsb && earlier.usb.vendor == next.usb.vendor &&
            earlier.usb.product == next.usb.product && EqualsNoCase(earlier.usb.serial, next.usb.serial))
            return error.Append("adapter usb=").Append(UsbText(next.usb)).Append(" already carries another UART")
                .Append(where);
    }
    if (uarts.size() == MaxMappedUarts)
        error.Append("more than ").AppendDecimal(MaxMappedUarts).Append(" UARTs");
    return error;
}

} // namespace

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i], y = b[i];
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y))
            return false;
    }
    return true;
}

bool FitsMapSerial(std::string_view serial)
{
    if (serial.empty() || serial.size() > MaxUsbSerial)
        return false;
    for (const char c : serial)
        if (!IsSerialCharacter(c))
            return false;
    return true;
}

UsbIdentityText UsbText(const UsbIdentity &usb)
{
    UsbIdentityText text;
    text.AppendHex(usb.vendor, 4).Append(':').AppendHex(usb.product, 4);
    if (!usb.serial.empty())
        text.Append(':').Append(usb.serial);
    return text;
}

bool ReadInstanceId(std::string_view id, InstanceIdParts &parts)
{
    parts = InstanceIdParts{};
    // "VID_hhhh" then '&' or '+', then "PID_hhhh".
    std::size_t at = 0;
    while (at + 4 <= id.size() && !EqualsNoCase(Sub(id, at, 4), "VID_"))
        ++at;
    if (at + 17 > id.size() || !ParseHex16(Sub(id, at + 4, 4), parts.vendor) ||
        (id[at + 8] != '&' && id[at + 8] != '+') || !EqualsNoCase(Sub(id, at + 9, 4), "PID_") ||
        !ParseHex16(Sub(id, at + 13, 4), parts.product)) {
        parts = InstanceIdParts{};
        return false;
    }
    std::string_view tail = Sub(id, at + 17);
    if (tail.empty())
        return true;
    const char mark = tail[0];
    tail.remove_prefix(1);
    const std::string_view part = Sub(tail, 0, tail.find('\\'));
    if (mark == '+' && part.find('&') == std::string_view::npos) {
        parts.serial = part;
        parts.portLetter = !part.empty();
    } else if (mark == '\\' && at == 4 && EqualsNoCase(Sub(id, 0, 4), "USB\\") &&
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
           EqualsNoCase(Sub(serial, 0, usb.serial.size()), usb.serial);
}

unsigned ComNumber(std::string_view name)
{
    if (Sub(name, 0, 4) == "\\\\.\\")
        name.remove_prefix(4);
    unsigned number = 0;
    if (name.size() < 4 || !EqualsNoCase(Sub(name, 0, 3), "COM") || name[3] == '0' ||
        !Whole(Sub(name, 3), 3, 10, number))
        return 0;
    return number <= 256 ? number : 0;
}

PortMapResult ParsePortMap(std::string_view text)
{
    PortMapResult result;
    auto fail = [&result](int line, const Error &why) -> PortMapResult & {
        result.uarts.clear();
        result.errorLine = line;
        result.error = why;
        return result;
    };
    Error why;
    if (text.size() > MaxPortMapBytes)
        return fail(0, why.Append("longer than ").AppendDecimal(MaxPortMapBytes).Append(" bytes"));
    if (text.size() >= 2 && ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF')))
        return fail(0, why.Append("saved as UTF-16; save it as ANSI or UTF-8"));
    if (Sub(text, 0, 3) == "\xEF\xBB\xBF") // a UTF-8 mark some editors put first
        text.remove_prefix(3);

    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t found = text.find('\n');
        const std::size_t end = found < text.size() ? found : text.size();
        std::string_view line = Sub(text, 0, end);
        text = Sub(text, end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > MaxPortMapLine)
            return fail(lineNumber, why.Append("longer than ").AppendDecimal(MaxPortMapLine).Append(" characters"));
        // A comment may hold any text (a technician's own language, in
        // UTF-8 or the PC's code page); what is read is plain ASCII. No
        // control byte anywhere: that is no text file.
        const std::size_t comment = Least(line.find('#'), line.size());
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto byte = static_cast<unsigned char>(line[i]);
            if ((byte < 0x20 && byte != '\t') || byte == 0x7F || (byte > 0x7F && i < comment))
                return fail(lineNumber, why.Append("byte ").AppendHex(byte, 2).Append("h at column ")
                                            .AppendDecimal(static_cast<std::uint32_t>(i + 1))
                                            .Append(" is not plain ASCII text")
                                            .Append(byte > 0x7F ? " (only a comment, after #, may hold other text)" : ""));
        }
        const std::string_view content = Trim(Sub(line, 0, line.find('#')));
        if (content.empty())
            continue;
        Error error;
        const PortMapping mapping = ParseLine(content, lineNumber, error);
        if (error.empty())
            error = Conflict(result.uarts, mapping);
        if (!error.empty())
            return fail(lineNumber, error);
        result.uarts.push_back(mapping); // Conflict saw that it has room
    }
    if (result.uarts.empty()) {
        fail(0, why.Append("names no COM device; add a line such as 'any = COM3'"));
        result.namesNone = true;
        return result;
    }
    // `any` goes last: explicit bases are looked up first. There is at most
    // one.
    for (std::size_t i = 0; i + 1 < result.uarts.size(); ++i)
        if (result.uarts[i].any) {
            const PortMapping any = result.uarts[i];
            for (std::size_t j = i; j + 1 < result.uarts.size(); ++j)
                result.uarts[j] = result.uarts[j + 1];
            result.uarts[result.uarts.size() - 1] = any;
            break;
        }
    return result;
}

} // namespace commio
