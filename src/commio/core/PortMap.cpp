#include "commio/PortMap.h"

#include <algorithm>

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

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
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

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "3F8", "3f8h", "D040H": 1 to 4 hex digits and an optional h.
bool ParseBase(std::string_view key, std::uint32_t &base)
{
    if (!key.empty() && (key.back() == 'h' || key.back() == 'H'))
        key.remove_suffix(1);
    if (key.empty() || key.size() > 4)
        return false;
    base = 0;
    for (char c : key) {
        const int digit = HexValue(c);
        if (digit < 0)
            return false;
        base = base * 16 + static_cast<std::uint32_t>(digit);
    }
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
    if (device.size() < 4 || device.size() > 6 || !EqualsNoCase(device.substr(0, 3), "COM") || device[3] == '0')
        return false;
    unsigned number = 0;
    for (char c : device.substr(3)) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    if (number < 1 || number > 256)
        return false;
    path = "\\\\.\\COM" + std::to_string(number);
    return true;
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
    const std::string_view device = Trim(content.substr(equals + 1));
    if (key.empty()) {
        error = "nothing before '='; the key is 'any' or a UART base such as 3F8";
        return mapping;
    }
    if (device.empty()) {
        error = "no device after '='; name one such as COM3";
        return mapping;
    }
    if (EqualsNoCase(key, "any")) {
        mapping.any = true;
    } else {
        std::uint32_t base = 0;
        if (!ParseBase(key, base)) {
            error = "unknown key " + Quoted(key) + "; the key is 'any' or a UART base such as 3F8";
            return mapping;
        }
        if (base < 0x0100 || base > 0xFFF8) {
            error = "UART base " + Quoted(key) + " out of range; bases run from 100 to FFF8";
            return mapping;
        }
        mapping.base = static_cast<std::uint16_t>(base);
    }
    for (char c : device)
        if (IsBlank(c) || c == '=') {
            error = "one device per line, not " + Quoted(device);
            return mapping;
        }
    if (!DevicePath(device, mapping.path)) {
        error = "unknown device " + Quoted(device) + "; use COM1 to COM256 or a \\\\.\\ name";
        return mapping;
    }
    mapping.device = std::string(device);
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
        if (EqualsNoCase(earlier.path, next.path))
            return "device " + Quoted(next.device) + " already carries another UART" + where;
    }
    if (uarts.size() == MaxMappedUarts)
        return "more than " + std::to_string(MaxMappedUarts) + " UARTs";
    return {};
}

} // namespace

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
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto byte = static_cast<unsigned char>(line[i]);
            if ((byte < 0x20 && byte != '\t') || byte > 0x7E) {
                static const char hex[] = "0123456789ABCDEF";
                return fail(lineNumber, std::string("byte ") + hex[byte >> 4] + hex[byte & 15] + "h at column " +
                                            std::to_string(i + 1) + " is not plain ASCII text");
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
    if (result.uarts.empty())
        return fail(0, "names no COM device; add a line such as 'any = COM3'");
    // `any` goes last: explicit bases are looked up first.
    std::stable_partition(result.uarts.begin(), result.uarts.end(), [](const PortMapping &m) { return !m.any; });
    return result;
}

} // namespace commio
