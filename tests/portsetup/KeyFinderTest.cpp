// The key finder: the line and polarity it names on every status line,
// which line wins when several change, when a port's level at rest is
// taken and when the search ends (across the wrap of the 32-bit millisecond
// clock), every port given back with its lines off, what it says of ports
// it couldn't watch, and the advice it gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "PortSetupTest.h"
#include "comdevices/ComDevices.h"
#include "portsetup/KeyFinder.h"
#include "portsetup/MapWriter.h"
#include "testsupport/RefusedOpens.h"

using namespace portsetup; // the port set-up's own names, unqualified as in its own code

namespace {

using portsetup::Finding;
using portsetup::KeyFinder;
using portsetup::PortInfo;
using uart::InputLines;
using uart::ModemLine;

constexpr ModemLine Cts = ModemLine::Cts, Dsr = ModemLine::Dsr, Dcd = ModemLine::Dcd, Ri = ModemLine::Ri;

// Simulated ports under the finder, read every 10 ms as the tester reads
// them. The clock starts wherever a test puts it.
struct Bench {
    sim::ComDevices devices;
    testsupport::RefusedOpens api{devices};
    std::vector<PortInfo> listed;
    std::optional<KeyFinder> finder;
    bool done = false;

    explicit Bench(std::uint32_t startMs = 0) { devices.Advance(startMs); }

    void Plug(const std::string &name, const portsetup::UsbIdentity &usb = {})
    {
        devices.Plug(name);
        listed.push_back(UsbPort(name, usb));
    }
    void Open()
    {
        finder.emplace(api);
        finder->Open(listed);
    }
    void Set(const char *port, ModemLine line, bool on) { devices.SetInput(port, line, on); }
    void Wait(std::uint32_t ms)
    {
        for (std::uint32_t waited = 0; waited < ms; waited += 10) {
            done = finder->Poll(3) || done;
            devices.Advance(10);
        }
    }
    // Presses on `port`, each held 80 ms with 120 ms between: status line
    // i takes part in the first counts[i] of them. A key that opens when
    // pressed rests on.
    void Press(const char *port, std::vector<unsigned> counts, bool restsOn = false)
    {
        counts.resize(std::size(InputLines));
        for (unsigned i = 0; i < *std::max_element(counts.begin(), counts.end()); ++i) {
            for (int on : {1, 0}) {
                for (std::size_t line = 0; line < std::size(InputLines); ++line)
                    if (counts[line] > i)
                        Set(port, InputLines[line], (on != 0) != restsOn);
                Wait(on ? 80 : 120);
            }
        }
    }
    Finding Result() const { return finder->Result(); }
};

std::vector<unsigned> Only(ModemLine line, unsigned presses)
{
    std::vector<unsigned> counts(std::size(InputLines));
    counts.at(line.Index()) = presses;
    return counts;
}

const portsetup::UsbIdentity Adapter{0x1A86, 0x7523, "A50285BI"};

// Every status line in both polarities, once with the clock far from its
// wrap and once with the search running across it.
TEST(FinderLines, NamesEachLineAndPolarityAndTheMapLineThatCarriesIt)
{
    const struct {
        ModemLine line;
        bool opens;
        const char *said;
        const char *mapLine;
    } cases[] = {
        {Cts, false, "line CTS, closes when pressed", "any = COM5 usb=1A86:7523:A50285BI"},
        {Cts, true, "line CTS, opens when pressed", "any = COM5 usb=1A86:7523:A50285BI invert"},
        {Dsr, false, "line DSR, closes when pressed", "any = COM5 usb=1A86:7523:A50285BI line=DSR"},
        {Dsr, true, "line DSR, opens when pressed", "any = COM5 usb=1A86:7523:A50285BI line=DSR invert"},
        {Dcd, false, "line DCD, closes when pressed", "any = COM5 usb=1A86:7523:A50285BI line=DCD"},
        {Dcd, true, "line DCD, opens when pressed", "any = COM5 usb=1A86:7523:A50285BI line=DCD invert"},
        {Ri, false, "line RI, closes when pressed", "any = COM5 usb=1A86:7523:A50285BI line=RI"},
        {Ri, true, "line RI, opens when pressed", "any = COM5 usb=1A86:7523:A50285BI line=RI invert"},
    };
    for (const std::uint32_t start : {0u, 0xFFFFFFFFu - 900}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.said) + ", clock from " + std::to_string(start));
            Bench bench(start);
            bench.Plug("COM1");
            bench.Plug("COM5", Adapter);
            bench.Set("COM5", c.line, c.opens);
            bench.Open();
            bench.Wait(200);
            bench.Press("COM5", Only(c.line, 3), c.opens);
            EXPECT_FALSE(bench.done) << "the search ends only once the key has rested";
            bench.Wait(1000);
            EXPECT_TRUE(bench.done);
            const Finding finding = bench.Result();
            ASSERT_EQ(finding.kind, Finding::Kind::Found);
            EXPECT_EQ(finding.line, c.line);
            EXPECT_EQ(finding.opensWhenPressed, c.opens);
            EXPECT_EQ(finding.presses, 3u);
            EXPECT_TRUE(finding.alsoChanged.empty());
            EXPECT_EQ(portsetup::MapLineFor(finding), c.mapLine);
            EXPECT_EQ(portsetup::DescribeFinding(finding).at(0),
                      std::string("The key is on COM5, USB Serial Port, ") + c.said + " (3 presses seen).");
        }
    }
}

// A key wired to two lines, or a line that picks up another: the line that
// changed most is the key, a tie goes to the line the library reads first.
TEST(FinderLines, TheLineThatChangedMostWinsAndATieGoesToTheEarlierLine)
{
    const struct {
        std::vector<unsigned> counts; // presses per line: CTS, DSR, DCD, RI
        ModemLine line;
        std::vector<ModemLine> also;
    } cases[] = {
        {{3, 3, 0, 0}, Cts, {Dsr}},
        {{0, 3, 3, 3}, Dsr, {Dcd, Ri}},
        {{0, 0, 3, 3}, Dcd, {Ri}},
        {{2, 0, 0, 3}, Ri, {Cts}},
        {{1, 3, 2, 0}, Dsr, {Cts, Dcd}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.counts));
        Bench bench;
        bench.Plug("COM5");
        bench.Open();
        bench.Wait(200);
        bench.Press("COM5", c.counts);
        bench.Wait(1000);
        const Finding finding = bench.Result();
        ASSERT_EQ(finding.kind, Finding::Kind::Found);
        EXPECT_EQ(finding.line, c.line);
        EXPECT_EQ(finding.presses, 3u);
        EXPECT_EQ(finding.alsoChanged, c.also);
    }
}

// The level at rest is the first reading SettleMs after the claim, however
// late on the clock the claim came; the search ends QuietMs after the key's
// last change, not a millisecond before. Both across the clock's wrap too.
TEST(FinderTiming, SettlesAndEndsOnTheMillisecondWhereverTheClockStands)
{
    for (const std::uint32_t start : {5000u, 0xFFFFFFFFu - 49, 0xFFFFFFFFu - 1100}) {
        SCOPED_TRACE("clock from " + std::to_string(start));
        Bench bench(start);
        bench.Plug("COM5");
        bench.Open();
        KeyFinder &finder = *bench.finder;
        const portsetup::WatchedPort &port = finder.Ports().at(0);
        finder.Poll(1);
        EXPECT_FALSE(port.settled);
        // A passive key's line follows RTS a moment after the claim.
        bench.devices.Advance(40);
        bench.Set("COM5", Dsr, true);
        finder.Poll(1);
        bench.devices.Advance(KeyFinder::SettleMs - 41);
        finder.Poll(1);
        EXPECT_FALSE(port.settled) << "a millisecond before the settle time";
        bench.devices.Advance(1);
        finder.Poll(1);
        EXPECT_TRUE(port.settled);
        EXPECT_TRUE(port.RestsOn(Dsr));
        EXPECT_FALSE(port.RestsOn(Cts));
        EXPECT_FALSE(port.Changed()) << "the rise before settling is no change";

        bench.Set("COM5", Ri, true);
        bench.devices.Advance(10);
        EXPECT_FALSE(finder.Poll(1));
        bench.Set("COM5", Ri, false);
        bench.devices.Advance(80);
        EXPECT_FALSE(finder.Poll(1)); // released: the last change
        bench.devices.Advance(KeyFinder::QuietMs / 2);
        EXPECT_FALSE(finder.Poll(1));
        bench.devices.Advance(KeyFinder::QuietMs / 2 - 1);
        EXPECT_FALSE(finder.Poll(1)) << "a millisecond before the key has rested";
        bench.devices.Advance(1);
        EXPECT_TRUE(finder.Poll(1));
        EXPECT_TRUE(port.Changed());
        EXPECT_EQ(port.Presses(Ri), 1u);
        EXPECT_EQ(port.Presses(Dsr), 0u);
        // Pressed again and held: while the other lines rest, the key's
        // line is still pressed, not at rest.
        bench.Set("COM5", Ri, true);
        bench.devices.Advance(KeyFinder::QuietMs / 2);
        finder.Poll(1);
        EXPECT_FALSE(port.RestsOn(Ri));
        EXPECT_EQ(port.Presses(Ri), 2u);
    }
}

// Every way a port can't be watched, each named: a port another program
// holds says so whether Windows answers a sharing violation or access
// denied.
TEST(FinderPorts, NamesWhyEachPortWasNotSearched)
{
    Bench bench;
    for (const char *name : {"COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8", "COM9"})
        bench.Plug(name);
    bench.api.refused = {{"COM2", 32}, {"COM6", 3}, {"COM7", 87}};
    commio::DeviceHandle other = nullptr;
    ASSERT_EQ(bench.devices.Open("\\\\.\\COM3", other), 0u);
    bench.devices.Unplug("COM4");
    bench.devices.Find("COM8")->failNext = 31; // at RTS, after the claim's settings
    bench.devices.Find("COM8")->failAfter = 1;
    bench.devices.Find("COM9")->serial = false;
    bench.Open();
    EXPECT_EQ(bench.finder->Watching(), 1u);
    bench.Wait(200);
    bench.Press("COM5", Only(Cts, 3));
    bench.Wait(1000);
    const Finding finding = bench.Result();
    EXPECT_EQ(finding.kind, Finding::Kind::Found);
    EXPECT_EQ(finding.skipped, (std::vector<std::string>{
                                   "COM2: held by another program",
                                   "COM3: held by another program",
                                   "COM4: missing: not there now: plug the adapter in",
                                   "COM6: missing: not there now: plug the adapter in",
                                   "COM7: can't be opened (error 87)",
                                   "COM8: RTS can't be turned on (error 31)",
                                   "COM9: not a serial port (error 1 at its settings)",
                               }));
    EXPECT_EQ(finding.watched, std::vector<std::string>{"COM5"});
    const sim::ComDevices::Device &refusedRts = *bench.devices.Find("COM8");
    EXPECT_FALSE(refusedRts.held) << "a port that can't supply the key is given back";
    EXPECT_FALSE(refusedRts.rts || refusedRts.dtr);
}

struct ResultCase {
    const char *name;
    void (*script)(Bench &bench); // after the ports have settled
    Finding::Kind kind;
    std::vector<std::string> changedPorts, stuckLines, watched;
    std::string firstLine; // of the advice
};

std::ostream &operator<<(std::ostream &os, const ResultCase &c) { return os << c.name; }

class FinderResult : public ::testing::TestWithParam<ResultCase> {};

TEST_P(FinderResult, SaysWhichPortsAndLinesChanged)
{
    Bench bench;
    bench.Plug("COM1");
    bench.Plug("COM5");
    bench.Set("COM1", Ri, true);
    bench.Open();
    bench.Wait(200);
    GetParam().script(bench);
    bench.Wait(1500);
    const Finding finding = bench.Result();
    EXPECT_EQ(finding.kind, GetParam().kind);
    EXPECT_EQ(finding.changedPorts, GetParam().changedPorts);
    EXPECT_EQ(finding.stuckLines, GetParam().stuckLines);
    EXPECT_EQ(finding.watched, GetParam().watched);
    EXPECT_TRUE(finding.alsoChanged.empty());
    EXPECT_EQ(portsetup::DescribeFinding(finding).at(0), GetParam().firstLine);
}

INSTANTIATE_TEST_SUITE_P(Cases, FinderResult, ::testing::Values(
    ResultCase{"SeveralPorts",
        [](Bench &b) {
            b.Press("COM5", {3, 1});
            b.Press("COM1", Only(Ri, 1), true);
        },
        Finding::Kind::SeveralPorts, {"COM1 (RI 1 time)", "COM5 (CTS 3 times, DSR 1 time)"}, {}, {"COM1", "COM5"},
        "Lines changed on more than one port: COM1 (RI 1 time) and COM5 (CTS 3 times, DSR 1 time)."},
    ResultCase{"LinesThatWentAndStayed",
        [](Bench &b) {
            b.Set("COM1", Ri, false);
            b.Set("COM5", Dsr, true);
            b.Set("COM5", Dcd, true);
        },
        Finding::Kind::NoPress, {}, {"COM1 RI", "COM5 DSR", "COM5 DCD"}, {"COM1", "COM5"},
        "A line changed and didn't change back: COM1 RI, COM5 DSR and COM5 DCD."},
    // Lines that went and stayed are no presses, on the key's port or another.
    ResultCase{"AKeyBesideLinesThatStayed",
        [](Bench &b) {
            b.Set("COM1", Dcd, true);
            b.Set("COM5", Dsr, true);
            b.Press("COM5", Only(Cts, 3));
        },
        Finding::Kind::Found, {}, {}, {"COM1", "COM5"},
        "The key is on COM5, USB Serial Port, line CTS, closes when pressed (3 presses seen)."},
    // A port lost on the way was watched until then.
    ResultCase{"NothingButAPortLost",
        [](Bench &b) {
            b.devices.Unplug("COM1");
        },
        Finding::Kind::NoneChanged, {}, {}, {"COM1", "COM5"}, "No line changed on COM1 and COM5."}),
    [](const ::testing::TestParamInfo<ResultCase> &param) { return std::string(param.param.name); });

// A line's level from a time on.
struct LineEvent {
    std::uint32_t at;
    const char *port;
    ModemLine line;
    bool level;
};

// `count` presses of `line` on `port`, `every` ms apart, each held `held`
// ms, from `from`; `restOn` for a key that opens the line when pressed.
std::vector<LineEvent> Presses(const char *port, ModemLine line, int count, bool restOn = false,
                               std::uint32_t from = 300, std::uint32_t every = 200, std::uint32_t held = 80)
{
    std::vector<LineEvent> events;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t at = from + every * static_cast<std::uint32_t>(i);
        events.push_back({at, port, line, !restOn});
        events.push_back({at + held, port, line, restOn});
    }
    return events;
}

std::vector<LineEvent> operator+(std::vector<LineEvent> a, const std::vector<LineEvent> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct FinderCase {
    const char *name;
    std::vector<const char *> plugged;   // simulated devices, all listed to the finder
    std::vector<LineEvent> events;       // at 0: the levels before the search
    const char *heldElsewhere;           // a port another program holds, or null
    const char *notSerial;               // a port that is no serial port, or null
    const char *vanishes;                // unplugged at 500 ms, or null
    Finding::Kind kind;
    const char *port;                    // Found: where
    ModemLine line;
    bool opens;
    const char *mapLine;                 // Found: the line for io-ports.txt
    std::vector<std::string> skipped, lost;
    bool endsEarly;                      // presses reached before the time limit
    unsigned presses = 3;                // Found: of the key's line
};

std::ostream &operator<<(std::ostream &os, const FinderCase &c) { return os << c.name; }

class Finder : public ::testing::TestWithParam<FinderCase> {};

TEST_P(Finder, NamesTheKeyAndGivesEveryPortBack)
{
    const FinderCase &c = GetParam();
    sim::ComDevices devices;
    std::vector<PortInfo> listed;
    for (const char *name : c.plugged) {
        devices.Plug(name);
        listed.push_back(UsbPort(name));
    }
    commio::DeviceHandle other = nullptr;
    if (c.heldElsewhere) {
        ASSERT_EQ(devices.Open(c.heldElsewhere, other), 0u);
    }
    if (c.notSerial)
        devices.Find(c.notSerial)->serial = false;
    for (const LineEvent &e : c.events)
        if (e.at == 0)
            devices.SetInput(e.port, e.line, e.level);
    const std::uint64_t opensBefore = devices.Opens();
    devices.TakeCalls();

    constexpr std::uint32_t limitMs = 6000, stepMs = 10;
    bool done = false;
    {
        portsetup::KeyFinder finder(devices);
        finder.Open(listed);
        // Every claim: open, both lines off in one step, then RTS on; DTR never.
        const std::vector<std::string> calls = devices.TakeCalls();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].find(" -> c") == std::string::npos)
                continue;
            const std::string handle = calls[i].substr(calls[i].rfind("c"));
            ASSERT_LT(i + 1, calls.size());
            // (A port that is no serial port fails already at reading its settings.)
            EXPECT_TRUE(calls[i + 1].rfind("SetCommState(" + handle + ", dtr off, rts off)", 0) == 0 ||
                        calls[i + 1].rfind("GetCommState(" + handle + ") fails", 0) == 0)
                << calls[i + 1];
            if (calls[i + 1].find("fails") == std::string::npos && i + 2 < calls.size() &&
                calls[i + 2].find("CloseHandle") == std::string::npos) {
                EXPECT_EQ(calls[i + 2], "EscapeCommFunction(" + handle + ", SETRTS)");
            }
        }
        std::uint32_t now = 0;
        while (now < limitMs && !done) {
            for (const LineEvent &e : c.events)
                if (e.at > 0 && e.at > now - stepMs && e.at <= now)
                    devices.SetInput(e.port, e.line, e.level);
            if (c.vanishes && now == 500)
                devices.Unplug(c.vanishes);
            done = finder.Poll(3);
            devices.Advance(stepMs);
            now += stepMs;
        }
        const Finding finding = finder.Result();
        EXPECT_EQ(finding.kind, c.kind);
        EXPECT_EQ(finding.skipped, c.skipped);
        EXPECT_EQ(finding.lost, c.lost);
        if (c.kind == Finding::Kind::Found) {
            EXPECT_EQ(finding.port, c.port);
            EXPECT_EQ(finding.line, c.line);
            EXPECT_EQ(finding.opensWhenPressed, c.opens);
            EXPECT_EQ(portsetup::MapLineFor(finding), c.mapLine);
            EXPECT_EQ(finding.presses, c.presses);
        }
        EXPECT_EQ(done, c.endsEarly);
        // The finder goes out of scope here without CloseAll, as when the
        // search is cut short: its ports are given back all the same.
    }
    for (const std::string &call : devices.Calls())
        EXPECT_EQ(call.find("SETDTR"), std::string::npos) << call;
    EXPECT_EQ(devices.HandlesHeld(), c.heldElsewhere ? 1u : 0u);
    EXPECT_EQ(devices.Opens() - opensBefore, devices.Closes()) << "every port opened is closed once";
    EXPECT_EQ(devices.BadCloses(), 0u);
    for (const char *name : c.plugged) {
        const sim::ComDevices::Device *device = devices.Find(name);
        if (c.heldElsewhere && std::string(name) == c.heldElsewhere)
            continue;
        EXPECT_FALSE(device->dtr || device->rts) << name << " left with a line on";
    }
}

const std::vector<std::string> None;

INSTANTIATE_TEST_SUITE_P(Cases, Finder, ::testing::Values(
    FinderCase{"the key on COM5 CTS", {"COM1", "COM3", "COM5"}, Presses("COM5", Cts, 3), nullptr, nullptr,
        nullptr, Finding::Kind::Found, "COM5", Cts, false, "any = COM5", None, None, true},
    FinderCase{"the key on DSR", {"COM1", "COM5"}, Presses("COM5", Dsr, 3), nullptr, nullptr, nullptr,
        Finding::Kind::Found, "COM5", Dsr, false, "any = COM5 line=DSR", None, None, true},
    // On at rest, off while pressed: a normally closed key.
    FinderCase{"an inverted key", {"COM5"}, std::vector<LineEvent>{{0, "COM5", Cts, true}} +
        Presses("COM5", Cts, 3, true), nullptr, nullptr, nullptr,
        Finding::Kind::Found, "COM5", Cts, true, "any = COM5 invert", None, None, true},
    FinderCase{"an inverted key on DCD", {"COM2"}, std::vector<LineEvent>{{0, "COM2", Dcd, true}} +
        Presses("COM2", Dcd, 3, true), nullptr, nullptr, nullptr,
        Finding::Kind::Found, "COM2", Dcd, true, "any = COM2 line=DCD invert", None, None, true},
    // A line that is on from the start and stays on is no key.
    FinderCase{"a line on throughout beside the key", {"COM5"}, std::vector<LineEvent>{{0, "COM5", Dsr, true}} +
        Presses("COM5", Cts, 3), nullptr, nullptr, nullptr,
        Finding::Kind::Found, "COM5", Cts, false, "any = COM5", None, None, true},
    FinderCase{"two ports changing", {"COM3", "COM5"}, Presses("COM5", Cts, 3) + Presses("COM3", Dsr, 1, false, 350),
        nullptr, nullptr, nullptr, Finding::Kind::SeveralPorts, "", Cts, false, "", None, None, true},
    FinderCase{"none changing", {"COM1", "COM5"}, {}, nullptr, nullptr, nullptr,
        Finding::Kind::NoneChanged, "", Cts, false, "", None, None, false},
    FinderCase{"a port held by another program", {"COM3", "COM5"}, Presses("COM5", Cts, 3), "COM3", nullptr,
        nullptr, Finding::Kind::Found, "COM5", Cts, false, "any = COM5",
        {"COM3: held by another program"}, None, true},
    FinderCase{"a port that is no serial port", {"COM1", "COM5"}, Presses("COM5", Cts, 3), nullptr, "COM1",
        nullptr, Finding::Kind::Found, "COM5", Cts, false, "any = COM5",
        {"COM1: not a serial port (error 1 at its settings)"}, None, true},
    FinderCase{"a port that vanishes mid-search", {"COM5", "COM7"}, Presses("COM5", Cts, 3), nullptr, nullptr,
        "COM7", Finding::Kind::Found, "COM5", Cts, false, "any = COM5", None,
        {"COM7: stopped answering during the search (error 22): unplugged?"}, true},
    // Unplugged at the second press: what was seen before still names it.
    FinderCase{"the key's own port vanishes at the second press", {"COM5"}, Presses("COM5", Cts, 2), nullptr,
        nullptr, "COM5", Finding::Kind::Found, "COM5", Cts, false, "any = COM5", None,
        {"COM5: stopped answering during the search (error 22): unplugged?"}, false, 1},
    // Held down as the search begins, let go at 150 ms, then pressed: the
    // level the line holds longer is its level at rest, not the first one.
    FinderCase{"a key held down as the search begins", {"COM5"},
        std::vector<LineEvent>{{0, "COM5", Dsr, true}, {150, "COM5", Dsr, false}} + Presses("COM5", Dsr, 3, false, 400),
        nullptr, nullptr, nullptr, Finding::Kind::Found, "COM5", Dsr, false, "any = COM5 line=DSR", None,
        None, true},
    FinderCase{"a normally closed key held open as the search begins", {"COM5"},
        std::vector<LineEvent>{{150, "COM5", Cts, true}} + Presses("COM5", Cts, 3, true, 400), nullptr, nullptr,
        nullptr, Finding::Kind::Found, "COM5", Cts, true, "any = COM5 invert", None, None, true},
    // Presses held longer than the pauses between them: the key still rests
    // released before the first and after the last.
    FinderCase{"long presses with short pauses", {"COM5"}, Presses("COM5", Dsr, 3, false, 300, 1500, 1000), nullptr,
        nullptr, nullptr, Finding::Kind::Found, "COM5", Dsr, false, "any = COM5 line=DSR", None, None,
        true},
    // Pressed once more before the search had ended: four presses.
    FinderCase{"a fourth press before the end", {"COM5"}, Presses("COM5", Cts, 4, false, 300, 600, 300), nullptr,
        nullptr, nullptr, Finding::Kind::Found, "COM5", Cts, false, "any = COM5", None, None, true, 4},
    // Pressed and held to the end: a line that went and stayed is no press.
    FinderCase{"a key pressed and held to the end", {"COM5"}, std::vector<LineEvent>{{500, "COM5", Dsr, true}},
        nullptr, nullptr, nullptr, Finding::Kind::NoPress, "", Cts, false, "", None, None, false},
    FinderCase{"every port held", {"COM3"}, Presses("COM3", Cts, 3), "COM3", nullptr, nullptr,
        Finding::Kind::NothingToWatch, "", Cts, false, "", {"COM3: held by another program"}, None, false}));

TEST(FinderSettling, TakesTheLevelAtRestOnlyOnceThePortHasSettled)
{
    // A passive key's line follows RTS a moment after the claim; that rise
    // is no press, and the level after it is the one at rest.
    sim::ComDevices devices;
    devices.Plug("COM5");
    PortInfo info;
    info.name = "COM5";
    portsetup::KeyFinder finder(devices);
    finder.Open({info});
    EXPECT_EQ(finder.Watching(), 1u);
    finder.Poll(1);
    devices.Advance(40);
    devices.SetInput("COM5", Dsr, true); // settles on
    finder.Poll(1);
    devices.Advance(portsetup::KeyFinder::SettleMs);
    finder.Poll(1);
    EXPECT_FALSE(finder.Ports()[0].Changed());
    devices.SetInput("COM5", Dsr, false);
    finder.Poll(1);
    devices.SetInput("COM5", Dsr, true);
    EXPECT_FALSE(finder.Poll(1)) << "the search ends only once the line has rested";
    devices.Advance(portsetup::KeyFinder::QuietMs);
    EXPECT_TRUE(finder.Poll(1));
    const Finding finding = finder.Result();
    EXPECT_EQ(finding.line, Dsr);
    EXPECT_TRUE(finding.opensWhenPressed);
    finder.CloseAll();
    finder.CloseAll();
    EXPECT_EQ(devices.Closes(), 1u);
    EXPECT_EQ(devices.Calls().end()[-2], "EscapeCommFunction(c1, CLRRTS)");
}

// ---- What the finding says ------------------------------------------------

struct AdviceCase {
    const char *name;
    Finding finding;
    std::string text; // the whole advice, a line each
};

std::ostream &operator<<(std::ostream &os, const AdviceCase &c) { return os << c.name; }

class FindingAdvice : public ::testing::TestWithParam<AdviceCase> {};

TEST_P(FindingAdvice, IsWhatTheTechnicianReads)
{
    std::string text;
    for (const std::string &line : portsetup::DescribeFinding(GetParam().finding))
        text += line + "\n";
    EXPECT_EQ(text, GetParam().text);
}

Finding Other(Finding::Kind kind)
{
    Finding f;
    f.kind = kind;
    f.watched = {"COM1", "COM5"};
    f.skipped = {"COM3: held by another program"};
    f.changedPorts = {"COM1 (CTS 1 time)", "COM5 (DSR 3 times)"};
    f.stuckLines = {"COM5 DSR"};
    return f;
}

Finding With(Finding f, void (*change)(Finding &))
{
    change(f);
    return f;
}

INSTANTIATE_TEST_SUITE_P(Cases, FindingAdvice, ::testing::Values(
    AdviceCase{"CTS closing", FoundOnCom5(Cts, false),
        "The key is on COM5, USB Serial Port, line CTS, closes when pressed (3 presses seen).\n"
        "That is the wiring the key library reads. io-ports.txt beside the comm-port io.dll needs the line:\n"
        "  any = COM5\n"},
    AdviceCase{"DSR closing", FoundOnCom5(Dsr, false),
        "The key is on COM5, USB Serial Port, line DSR, closes when pressed (3 presses seen).\n"
        "The key library reads CTS closing; this key is on DSR. The comm-port io.dll carries it with the line:\n"
        "  any = COM5 line=DSR\n"},
    AdviceCase{"normally closed on RI", FoundOnCom5(Ri, true),
        "The key is on COM5, USB Serial Port, line RI, opens when pressed (3 presses seen).\n"
        "The key library reads CTS closing; this key is on RI and normally closed. The comm-port io.dll carries it "
        "with the line:\n"
        "  any = COM5 line=RI invert\n"},
    AdviceCase{"two lines of one port", FoundOnCom5(Cts, false, 3, "USB Serial Port (COM5)", {Dsr, Dcd}),
        "The key is on COM5, USB Serial Port, line CTS, closes when pressed (3 presses seen).\n"
        "That is the wiring the key library reads. io-ports.txt beside the comm-port io.dll needs the line:\n"
        "  any = COM5\n"
        "DSR and DCD changed too, less often: a key wired to two lines, or a line that picks up the other. CTS "
        "changed most; check the wiring if the key misbehaves.\n"},
    AdviceCase{"several ports", Other(Finding::Kind::SeveralPorts),
        "Lines changed on more than one port: COM1 (CTS 1 time) and COM5 (DSR 3 times).\n"
        "Only the key's port should change. Unplug the other devices on these ports (a modem, a second key), or keep "
        "them still, and search again.\n"
        "Not searched: COM3: held by another program.\n"
        "If the key could be on a port not searched, free that port and search again.\n"},
    AdviceCase{"none", Other(Finding::Kind::NoneChanged),
        "No line changed on COM1 and COM5.\n"
        "Check that the key is plugged into the port or the adapter, that the adapter is listed (zelbin-keytest "
        "--ports), and the key's wiring: a passive key takes its supply from RTS, which the search turns on. Then "
        "search again and press the key firmly a few times.\n"
        "Not searched: COM3: held by another program.\n"
        "If the key could be on a port not searched, free that port and search again.\n"},
    AdviceCase{"a line that went and stayed", Other(Finding::Kind::NoPress),
        "A line changed and didn't change back: COM5 DSR.\n"
        "That is a key held down, or a device that turned a line on or off, not a press. Let go of the key, search "
        "again, and press it briefly each time.\n"
        "Not searched: COM3: held by another program.\n"
        "If the key could be on a port not searched, free that port and search again.\n"},
    AdviceCase{"nothing to watch", Other(Finding::Kind::NothingToWatch),
        "No port could be watched.\n"
        "Plug the adapter in and wait until Windows lists it (zelbin-keytest --ports); close any program that holds "
        "the port (a host, a terminal), then search again.\n"
        "Not searched: COM3: held by another program.\n"
        "If the key could be on a port not searched, free that port and search again.\n"},
    AdviceCase{"CTS closing, an adapter Windows gives no name",
        With(FoundOnCom5(Cts, false, 1, ""), [](Finding &f) { f.usb = Adapter; }),
        "The key is on COM5, line CTS, closes when pressed (1 press seen).\n"
        "The adapter is USB 1A86:7523, serial A50285BI.\n"
        "That is the wiring the key library reads. io-ports.txt beside the comm-port io.dll needs the line:\n"
        "  any = COM5 usb=1A86:7523:A50285BI\n"},
    AdviceCase{"CTS opening", FoundOnCom5(Cts, true, 2, ""),
        "The key is on COM5, line CTS, opens when pressed (2 presses seen).\n"
        "The key library reads CTS closing; this key is normally closed. The comm-port io.dll carries it with the "
        "line:\n"
        "  any = COM5 invert\n"},
    AdviceCase{"DSR opening beside three other lines", FoundOnCom5(Dsr, true, 3, "", {Cts, Dcd, Ri}),
        "The key is on COM5, line DSR, opens when pressed (3 presses seen).\n"
        "The key library reads CTS closing; this key is on DSR and normally closed. The comm-port io.dll carries it "
        "with the line:\n"
        "  any = COM5 line=DSR invert\n"
        "CTS, DCD and RI changed too, less often: a key wired to two lines, or a line that picks up the other. DSR "
        "changed most; check the wiring if the key misbehaves.\n"},
    // Found: the ports not searched are named, but the key is found.
    AdviceCase{"found, with ports skipped and lost",
        With(FoundOnCom5(Ri, false, 3, ""), [](Finding &f) {
            f.skipped = {"COM3: held by another program"};
            f.lost = {"COM7: stopped answering during the search (error 22): unplugged?"};
        }),
        "The key is on COM5, line RI, closes when pressed (3 presses seen).\n"
        "The key library reads CTS closing; this key is on RI. The comm-port io.dll carries it with the line:\n"
        "  any = COM5 line=RI\n"
        "Not searched: COM3: held by another program.\n"
        "Lost: COM7: stopped answering during the search (error 22): unplugged?\n"},
    AdviceCase{"nothing changed on three ports, one skipped",
        With(Finding{}, [](Finding &f) {
            f.kind = Finding::Kind::NoneChanged;
            f.watched = {"COM1", "COM5", "COM7"};
            f.skipped = {"COM3: held by another program"};
        }),
        "No line changed on COM1, COM5 and COM7.\n"
        "Check that the key is plugged into the port or the adapter, that the adapter is listed (zelbin-keytest "
        "--ports), and the key's wiring: a passive key takes its supply from RTS, which the search turns on. Then "
        "search again and press the key firmly a few times.\n"
        "Not searched: COM3: held by another program.\n"
        "If the key could be on a port not searched, free that port and search again.\n"}));

// The device's own name in the advice: the friendly name without the port
// Windows puts after it, and only that.
TEST(FindingAdvice, NamesTheDeviceWithoutThePortWindowsAddsToItsName)
{
    const struct {
        const char *friendlyName, *description;
    } cases[] = {
        {"USB Serial Port (COM5)", "USB Serial Port"},
        {"X (COM5)", "X"},
        {"Port (COM5) (COM5)", "Port (COM5)"},
        {" (COM5)", " (COM5)"}, // nothing before the port: kept as it is
        {"(COM5)", "(COM5)"},
        {"USB Serial Port (COM50)", "USB Serial Port (COM50)"},
        {"USB Serial Port (COM5", "USB Serial Port (COM5"},
        {"USB Serial Port (com5)", "USB Serial Port (com5)"},
        {"USB Serial Port", "USB Serial Port"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(portsetup::DeviceDescription(c.friendlyName, "COM5"), c.description) << c.friendlyName;
}

} // namespace
