// The port map written for a key found: its text, and the file written
// beside the io.dll, read back by the io.dll's own parser, the map before it
// kept as io-ports.txt.bak, and nothing changed where the write can't go
// through; the map read back as the io.dll reads it.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "PortSetupTest.h"
#include "commio/PortMap.h"
#include "portsetup/MapWriter.h"

using namespace portsetup; // the port set-up's own names, unqualified as in its own code

namespace {

using portsetup::Finding;

// The lines of a text, without their ends; a line that ends in LF alone
// is marked, since every line written for Windows ends in CR LF.
std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        else
            line += "<LF alone>";
        lines.push_back(line);
    }
    return lines;
}

Finding Found(uart::ModemLine line, bool opens, const std::string &friendlyName = "USB Serial Port (COM5)")
{
    return FoundOnCom5(line, opens, 3, friendlyName);
}

// The map for a finding where there was none.
std::string FreshMap(const Finding &finding)
{
    return portsetup::PlanMapWrite(std::nullopt, finding, std::nullopt).text;
}

TEST(MapText, ItsCommentsSayThePolarityAndTheAdapter)
{
    Finding opens = Found(uart::ModemLine::Dsr, true);
    opens.usb = {0x1A86, 0x7523, "A50285BI"};
    EXPECT_EQ(FreshMap(opens),
              "# Which COM port carries the serial key, written by zelbin-keytest --find --write-map.\r\n"
              "# The file that was here before, if any, is io-ports.txt.bak.\r\n"
              "#\r\n"
              "# The key: COM5, USB Serial Port, line DSR, opens when pressed.\r\n"
              "# The adapter: USB 1A86:7523, serial A50285BI.\r\n"
              "any = COM5 usb=1A86:7523:A50285BI line=DSR invert\r\n");
    const std::vector<std::string> closes = Lines(FreshMap(Found(uart::ModemLine::Cts, false, "")));
    ASSERT_EQ(closes.size(), 5u) << "no adapter line without an adapter";
    EXPECT_EQ(closes[3], "# The key: COM5, line CTS, closes when pressed.");
    EXPECT_EQ(closes[4], "any = COM5");
}

// The io.dll's reader refuses a line longer than MaxPortMapLine: a device's
// name is cut to fit, and kept to plain ASCII, as its code page is unknown.
TEST(MapText, ACommentIsCutToTheLongestLineTheReaderTakesAndMaskedToAscii)
{
    const std::string before = "# The key: COM5, ", after = ", line CTS, closes when pressed.";
    const std::string fits(commio::MaxPortMapLine - before.size() - after.size(), 'x');
    const struct {
        std::string device;
        std::string comment;
    } cases[] = {
        {fits, before + fits + after},
        {fits + "y", (before + fits + "y" + after).substr(0, commio::MaxPortMapLine)},
        {fits + "yz", (before + fits + "yz" + after).substr(0, commio::MaxPortMapLine)},
        {"a\x1F b~\x7F\xC3\xA9\t", before + "a? b~????" + after},
    };
    for (const auto &c : cases) {
        const std::string text = FreshMap(Found(uart::ModemLine::Cts, false, c.device + " (COM5)"));
        const std::vector<std::string> lines = Lines(text);
        ASSERT_GE(lines.size(), 4u);
        EXPECT_EQ(lines[3], c.comment) << c.device.size();
        EXPECT_EQ(commio::ParsePortMap(text).error, "") << c.device.size();
    }
}

// A key found, into the map there is: every line it wasn't asked to change
// kept, comments and all; the line for its port or adapter replaced (its
// UART and debounce kept), else one for the base the host's parameters
// name, else, in a map with no device yet, an `any` line; and where none of
// that says which UART the key is for, nothing written and the technician
// asked.
TEST(MapPlan, KeepsEveryOtherLineAndSaysWhatChanged)
{
    Finding onCom12 = Found(uart::ModemLine::Dsr, false, "USB Serial Device (COM12)");
    onCom12.port = "COM12";
    Finding adapter = Found(uart::ModemLine::Dsr, false, "");
    adapter.port = "COM9";
    adapter.usb = {0x1A86, 0x7523, "A50285BI"};
    const std::string com12 = "# The key: COM12, USB Serial Device, line DSR, closes when pressed.";
    const std::string com5 = "# The key: COM5, USB Serial Port, line DSR, closes when pressed.";
    const struct {
        const char *name;
        std::optional<std::string> map;
        Finding finding;
        std::optional<std::uint16_t> base;
        std::vector<std::string> lines; // the new map; none: nothing written
        std::string said;               // the change, or why nothing was written
    } cases[] = {
        {"a second key on its own line's port", "3F8 = COM5\n2F8 = COM12\n", onCom12, std::nullopt,
         {"3F8 = COM5", com12, "2F8 = COM12 line=DSR"},
         "line 3, '2F8 = COM12', replaced by '2F8 = COM12 line=DSR': COM12 carries the key for the UART at 02F8h; "
         "kept as they were: line 1 (3F8 = COM5)"},
        {"a new port, for the base the host's parameters name", "3F8 = COM5   # key 1, at the desk\n", onCom12, 0x2F8,
         {"3F8 = COM5   # key 1, at the desk", "", com12, "2F8 = COM12 line=DSR"},
         "line 4 added, '2F8 = COM12 line=DSR': COM12 carries the key for the UART at 02F8h; kept as they were: "
         "line 1 (3F8 = COM5)"},
        {"a new port for the base of another line", "3F8 = COM5\nany = COM6\n", onCom12, 0x3F8,
         {com12, "3F8 = COM12 line=DSR", "any = COM6"},
         "line 2, '3F8 = COM5', replaced by '3F8 = COM12 line=DSR': COM12 carries the key for the UART at 03F8h; "
         "kept as they were: line 3 (any = COM6)"},
        {"a new port, and no word of its UART", "3F8 = COM5\n# the other\nany = usb=0403:6001:A1\n", onCom12,
         std::nullopt, {},
         "io-ports.txt carries 03F8h on COM5 (line 1), any UART on usb=0403:6001:A1 (line 3), and not COM12. Which "
         "UART of the host is this key for? Give the host's parameter text for it (such as \"COM12;2F8h\") with "
         "--find --write-map, or in the window's Parameters field, and search again: a base that no line names gets "
         "a line of its own beside the others, the base of a line there gets this key instead. Nothing was "
         "written."},
        {"the template, which names no device", "# Which COM port...\n#\n# any = COM3\n", Found(uart::ModemLine::Dsr, false),
         0x2F8, {"# Which COM port...", "#", "# any = COM3", "", com5, "any = COM5 line=DSR"},
         "line 6 added, 'any = COM5 line=DSR': COM5 carries the key"},
        {"an adapter named by its identity, on another port now",
         "any = usb=1A86:7523:A50285BI line=DSR debounce=20 # the pedal\n", adapter, std::nullopt,
         {"# The key: COM9, line DSR, closes when pressed.", "# The adapter: USB 1A86:7523, serial A50285BI.",
          "any = COM9 usb=1A86:7523:A50285BI line=DSR debounce=20  # the pedal"},
         "line 3, 'any = usb=1A86:7523:A50285BI line=DSR debounce=20', replaced by 'any = COM9 "
         "usb=1A86:7523:A50285BI line=DSR debounce=20': COM9 carries the key"},
        {"a byte order mark and CR LF kept, our old comment replaced",
         "\xEF\xBB\xBF# mine\r\n# The key: COM5, line CTS, closes when pressed.\r\nany = COM5\r\n",
         Found(uart::ModemLine::Dsr, false), std::nullopt, {"\xEF\xBB\xBF# mine", com5, "any = COM5 line=DSR"},
         "line 3, 'any = COM5', replaced by 'any = COM5 line=DSR': COM5 carries the key"},
        {"a map the reader refuses", "any = COM5\n3F8 = LPT1\n", Found(uart::ModemLine::Cts, false), std::nullopt,
         {},
         "the io-ports.txt there can't be read as a port map (line 2: unknown device 'LPT1'; use COM1 to COM256 or "
         "a \\\\.\\ name), so nothing was written: correct that line or take it out, then search again"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const portsetup::MapPlan plan = portsetup::PlanMapWrite(c.map, c.finding, c.base);
        EXPECT_EQ(plan.ok, !c.lines.empty());
        EXPECT_EQ(plan.ok ? plan.Change() : plan.why, c.said);
        if (!plan.ok)
            continue;
        EXPECT_EQ(Lines(plan.text), c.lines);
        const commio::PortMapResult map = commio::ParsePortMap(plan.text);
        EXPECT_EQ(map.error, "");
        EXPECT_EQ(map.uarts.size(), plan.kept.size() + 1);
    }
}

// A folder of a test's own for io-ports.txt and its companions (.bak,
// .new), made before each test and removed after it.
class MapFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/zelbin-map-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder_ = name;
        path_ = folder_ + "/io-ports.txt";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    static std::string Read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void Write(const std::string &path, const std::string &text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }
    static bool Exists(const std::string &path) { return std::filesystem::exists(path); }
    // Empties the folder, for the next row of a table.
    void Clear() const
    {
        for (const auto &entry : std::filesystem::directory_iterator(folder_))
            std::filesystem::remove_all(entry.path());
    }
    // The names in the folder, sorted.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // Everything below the folder: each file with its text, each folder
    // with a slash.
    std::map<std::string, std::string> Snapshot() const
    {
        std::map<std::string, std::string> all;
        for (const auto &entry : std::filesystem::recursive_directory_iterator(folder_)) {
            const std::string name = std::filesystem::relative(entry.path(), folder_).string();
            all[entry.is_directory() ? name + "/" : name] = entry.is_directory() ? "" : Read(entry.path().string());
        }
        return all;
    }

    std::string folder_, path_;
};

TEST_F(MapFile, AFreshMapIsReadBackByTheIoDllsParser)
{
    Finding finding = Found(uart::ModemLine::Cts, false);
    finding.usb = {0x1A86, 0x7523, "A50285BI"};
    const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, finding);
    EXPECT_TRUE(result.done) << result.message;
    EXPECT_FALSE(result.keptBackup);
    EXPECT_EQ(Files(), std::vector<std::string>{"io-ports.txt"});
    const std::string text = Read(path_);
    EXPECT_NE(text.find("# The adapter: USB 1A86:7523, serial A50285BI.\r\n"), std::string::npos) << text;
    const commio::PortMapResult map = commio::ParsePortMap(text);
    ASSERT_EQ(map.error, "");
    ASSERT_EQ(map.uarts.size(), 1u);
    EXPECT_TRUE(map.uarts[0].any);
    EXPECT_EQ(map.uarts[0].path, "\\\\.\\COM5");
    // The adapter is named on the mapping line itself, so the io.dll finds
    // it again after Windows gives it another COM number.
    ASSERT_TRUE(map.uarts[0].hasUsb);
    EXPECT_EQ(commio::FormatUsbIdentity(map.uarts[0].usb), "1A86:7523:A50285BI");
}

TEST_F(MapFile, DeviceNamesInAnyLanguageStillGiveAMapTheParserReads)
{
    // Windows names devices in the user's language and code page; a long
    // name or a serial with odd bytes must not make the map unreadable.
    const std::string names[] = {"P\xC3\xA9riph\xC3\xA9rique s\xC3\xA9rie USB (COM5)",
                                 "Serieller USB-Anschlu\xDF (COM5)", std::string(300, 'x'), "tab\tand\rreturn"};
    for (const std::string &name : names) {
        Finding finding = Found(uart::ModemLine::Cts, false);
        finding.friendlyName = name;
        finding.usb = {0x1A86, 0x7523, "\x01\xFF"};
        const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, finding);
        EXPECT_TRUE(result.done) << name << ": " << result.message;
        const commio::PortMapResult map = commio::ParsePortMap(Read(path_));
        ASSERT_EQ(map.error, "") << name;
        // A serial the map can't hold is left out; the IDs still find the adapter.
        ASSERT_EQ(map.uarts.size(), 1u);
        EXPECT_TRUE(map.uarts[0].hasUsb);
        EXPECT_EQ(map.uarts[0].usb.serial, "");
    }
}

TEST_F(MapFile, AWiringOptionIsWrittenOnlyWhereTheParserTakesIt)
{
    // The finding for a key on DSR needs an option on the line; the map is
    // left in place exactly when the io.dll's parser reads that line.
    const Finding finding = Found(uart::ModemLine::Dsr, true);
    const bool parserTakesIt = commio::ParsePortMap(portsetup::MapLineFor(finding)).error.empty();
    const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, finding);
    EXPECT_EQ(result.done, parserTakesIt) << result.message;
    EXPECT_EQ(Exists(path_), parserTakesIt);
    if (parserTakesIt) {
        EXPECT_NE(Read(path_).find("\r\nany = COM5 line=DSR invert\r\n"), std::string::npos);
    }
    EXPECT_FALSE(Exists(path_ + ".new"));
}

// A map written over what was there: the map before kept as .bak, an older
// .bak given up for it; where there was none, nothing else in the folder.
// An older .bak makes way by being removed first, as renaming onto it fails
// on Windows: here renaming onto a file works, so an empty folder of that
// name stands in for it.
TEST_F(MapFile, AWriteKeepsTheMapBeforeItAsBak)
{
    const struct {
        const char *name;
        const char *map, *backup; // before the write; null: none
        bool backupFolder;        // the .bak a folder
        const char *message;      // "MAP" for the map's path
        std::vector<std::string> files;
    } cases[] = {
        {"fresh", nullptr, nullptr, false,
         "Wrote MAP and read it back as the comm-port io.dll reads it: line 5 added, 'any = COM5 invert': COM5 "
         "carries the key.",
         {"io-ports.txt"}},
        {"over a map", "3F8 = COM5\n", nullptr, false,
         "Wrote MAP (the previous one is MAP.bak) and read it back as the comm-port io.dll reads it: line 2, "
         "'3F8 = COM5', replaced by '3F8 = COM5 invert': COM5 carries the key for the UART at 03F8h.",
         {"io-ports.txt", "io-ports.txt.bak"}},
        {"over a map and an older backup", "3F8 = COM5\n", "an older backup\n", false,
         "Wrote MAP (the previous one is MAP.bak) and read it back as the comm-port io.dll reads it: line 2, "
         "'3F8 = COM5', replaced by '3F8 = COM5 invert': COM5 carries the key for the UART at 03F8h.",
         {"io-ports.txt", "io-ports.txt.bak"}},
        {"over a map and an older backup in the way", "3F8 = COM5\n", nullptr, true,
         "Wrote MAP (the previous one is MAP.bak) and read it back as the comm-port io.dll reads it: line 2, "
         "'3F8 = COM5', replaced by '3F8 = COM5 invert': COM5 carries the key for the UART at 03F8h.",
         {"io-ports.txt", "io-ports.txt.bak"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Clear();
        if (c.map)
            Write(path_, c.map);
        if (c.backup)
            Write(path_ + ".bak", c.backup);
        if (c.backupFolder)
            std::filesystem::create_directory(path_ + ".bak");
        const portsetup::MapWriteResult result = portsetup::WritePortMapFile(path_, Found(uart::ModemLine::Cts, true));
        EXPECT_TRUE(result.done);
        EXPECT_EQ(result.keptBackup, c.map != nullptr);
        std::string message = c.message;
        for (std::size_t at; (at = message.find("MAP")) != std::string::npos;)
            message.replace(at, 3, path_);
        EXPECT_EQ(result.message, message);
        EXPECT_EQ(Files(), c.files);
        EXPECT_EQ(Lines(Read(path_)).back(), c.map ? "3F8 = COM5 invert" : "any = COM5 invert");
        if (c.map) {
            EXPECT_EQ(Read(path_ + ".bak"), c.map);
        }
    }
}

// A write that can't go through leaves the folder as it was, the map and
// any backup of an earlier map included, and says why. A map the io.dll's
// reader would refuse, or that names the port otherwise than the finding,
// is taken back; an earlier backup that can't be moved aside (here: its
// place is taken by a folder that can't be removed) stops the write before
// anything changes, so it is never overwritten by the present map.
TEST_F(MapFile, AWriteThatCantGoThroughChangesNothing)
{
    const struct {
        const char *name;
        std::map<std::string, std::string> before; // a name ending in / is a folder
        const char *port;
        const char *path;    // where the map goes; "MAP": into the folder
        const char *message; // "MAP" for that path
    } cases[] = {
        {"a port the reader can't open", {}, "COM300", "MAP",
         "the port map reader would refuse the new map (line 5: unknown device 'COM300'; use COM1 to COM256 or a "
         "\\\\.\\ name), so the previous state is back. The line was 'any = COM300'."},
        {"a port the reader can't open, over a map", {{"io-ports.txt", "# by hand\n"}}, "COM300", "MAP",
         "the port map reader would refuse the new map (line 4: unknown device 'COM300'; use COM1 to COM256 or a "
         "\\\\.\\ name), so the previous state is back. The line was 'any = COM300'."},
        {"a port the reader can't open, over a map and its backup",
         {{"io-ports.txt", "# by hand\n"}, {"io-ports.txt.bak", "any = COM2  # the map before\n"}},
         "COM300", "MAP",
         "the port map reader would refuse the new map (line 4: unknown device 'COM300'; use COM1 to COM256 or a "
         "\\\\.\\ name), so the previous state is back. The line was 'any = COM300'."},
        {"a ninth UART", {{"io-ports.txt", "100=COM1\n108=COM2\n110=COM3\n118=COM4\n120=COM6\n128=COM7\n130=COM8\n"
                                            "138=COM9\n"}},
         "COM5", "MAP",
         "the port map reader would refuse the new map (line 11: more than 8 UARTs), so the previous state is back. "
         "The line was '2F8 = COM5'."},
        {"a port the reader names otherwise", {}, "com5", "MAP",
         "the port map reader would refuse the new map (it doesn't carry com5), so the previous state is back. The "
         "line was 'any = com5'."},
        {"an earlier backup that can't be moved aside",
         {{"io-ports.txt", "3F8 = COM3\n"}, {"io-ports.txt.bak", "any = COM2\n"}, {"io-ports.txt.bak.old/", ""},
          {"io-ports.txt.bak.old/kept/", ""}},
         "COM5", "MAP", "can't move the earlier MAP.bak aside; nothing was changed"},
        {"a folder that isn't there", {}, "COM5", "FOLDER/no-such-folder/io-ports.txt",
         "can't write FOLDER/no-such-folder/io-ports.txt.new: is the folder read-only, or the disk full?"},
        {"a map whose other line the reader refuses", {{"io-ports.txt", "3F8 = COM5\nany = COM6 pull=up\n"}}, "COM5",
         "MAP",
         "the io-ports.txt there can't be read as a port map (line 2: unknown option 'pull=up'; the options are "
         "line=CTS|DSR|DCD|RI, invert, debounce=MS, usb=VID:PID:SERIAL), so nothing was written: correct that line "
         "or take it out, then search again"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Clear();
        for (const auto &[name, text] : c.before) {
            if (name.back() == '/')
                std::filesystem::create_directories(folder_ + "/" + name);
            else
                Write(folder_ + "/" + name, text);
        }
        const auto spelt = [&](std::string text) {
            for (const auto &[token, value] : {std::pair<std::string, std::string>{"MAP", path_}, {"FOLDER", folder_}})
                for (std::size_t at; (at = text.find(token)) != std::string::npos;)
                    text.replace(at, token.size(), value);
            return text;
        };
        Finding finding = Found(uart::ModemLine::Cts, false);
        finding.port = c.port;
        const portsetup::MapWriteResult result = portsetup::WritePortMapFile(spelt(c.path), finding, 0x2F8);
        EXPECT_FALSE(result.done);
        EXPECT_FALSE(result.keptBackup);
        EXPECT_EQ(result.message, spelt(c.message));
        EXPECT_EQ(Snapshot(), c.before);
    }
}

// A map of exactly `size` bytes the io.dll reads: comment lines, then the
// mapping.
std::string MapOfSize(std::size_t size)
{
    const std::string mapping = "any = COM5\n";
    std::string text;
    while (size - text.size() - mapping.size() > 100)
        text += "#" + std::string(99, '-') + "\n";
    const std::size_t rest = size - text.size() - mapping.size();
    text += (rest > 1 ? "#" + std::string(rest - 2, '-') : std::string()) + "\n";
    return text + mapping;
}

// The list reads the map as the io.dll does: byte order mark and CRLF
// taken, a map up to the io.dll's limit and not a byte more, and each
// reason it holds no port named.
TEST_F(MapFile, TheListReadsTheMapAsTheIoDllDoes)
{
    const struct {
        const char *name;
        std::string text;     // the file; "": none
        bool folder;          // a folder of the map's name instead
        const char *problem;  // empty: read
        const char *device;   // the mapped device; null: none
        int line;             // the mapping's
    } cases[] = {
        {"none", "", false, "not there: without it the comm-port io.dll holds no port", nullptr, 0},
        {"a device that is no COM port", "# mine\nany = LPT1\n", false,
         "line 2: unknown device 'LPT1'; use COM1 to COM256 or a \\\\.\\ name (the comm-port io.dll holds no port "
         "with it)",
         nullptr, 0},
        {"a byte order mark and CRLF", "\xEF\xBB\xBF" "3F8 = COM3\r\n", false, "", "\\\\.\\COM3", 1},
        {"the longest map the io.dll reads", MapOfSize(commio::MaxPortMapBytes), false, "", "\\\\.\\COM5", 164},
        {"a byte too long", MapOfSize(commio::MaxPortMapBytes + 1), false,
         "longer than 16384 bytes (the comm-port io.dll holds no port with it)", nullptr, 0},
        {"a folder", "", true, "can't be read", nullptr, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Clear();
        if (!c.text.empty())
            Write(path_, c.text);
        if (c.folder)
            std::filesystem::create_directory(path_);
        commio::PortMapResult map;
        EXPECT_EQ(portsetup::ReadPortMapFile(path_, map), c.problem);
        ASSERT_EQ(map.uarts.size(), c.device ? 1u : 0u);
        if (c.device) {
            EXPECT_EQ(map.uarts[0].path, c.device);
            EXPECT_EQ(map.uarts[0].line, c.line);
        }
    }
}

// Explorer, hiding the extension .txt, makes io-ports.txt.txt of a map
// named io-ports.txt: said as such, as the io.dll says it.
TEST_F(MapFile, AMapNamedTwiceIsSpotted)
{
    Write(path_ + ".txt", "any = COM5\r\n");
    commio::PortMapResult map;
    EXPECT_EQ(portsetup::ReadPortMapFile(path_, map), std::string("not there, but ") + commio::PortMapNamedTwiceAdvice);
    EXPECT_TRUE(map.uarts.empty());
}

} // namespace
