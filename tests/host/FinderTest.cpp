// Tests of the key finder: the line and polarity it names on every status
// line, which line wins when several change, when a port's level at rest is
// taken and when the search ends (across the wrap of the 32-bit millisecond
// clock), what it says of ports it couldn't watch, and the advice it gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "comdevices/ComDevices.h"
#include "portsetup/KeyFinder.h"
#include "portsetup/MapWriter.h"
#include "testsupport/RefusedOpens.h"
#include "testsupport/KeyFindings.h"

using namespace portsetup; // the port set-up's own names, unqualified as in its own code

namespace {

using portsetup::Finding;
using uart::LineCts;
using uart::LineDcd;
using uart::LineDsr;
using portsetup::KeyFinder;
using uart::InputLineCount;
using uart::LineRi;
using portsetup::PortInfo;

constexpr std::uint8_t LineBit[InputLineCount] = {commio::ModemCts, commio::ModemDsr, commio::ModemDcd,
                                                commio::ModemRing};

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
        PortInfo info;
        info.name = name;
        info.friendlyName = "USB Serial Port (" + name + ")";
        info.usb = usb;
        listed.push_back(info);
    }
    void Open()
    {
        finder.emplace(api);
        finder->Open(listed);
    }
    void Set(const char *port, int line, bool on) { devices.SetInput(port, LineBit[line], on); }
    void Wait(std::uint32_t ms)
    {
        for (std::uint32_t waited = 0; waited < ms; waited += 10) {
            done = finder->Poll(3) || done;
            devices.Advance(10);
        }
    }
    // Presses on `port`, each held 80 ms with 120 ms between: line i takes
    // part in the first counts[i] of them. A key that opens when pressed
    // rests on.
    void Press(const char *port, std::vector<unsigned> counts, bool restsOn = false)
    {
        counts.resize(InputLineCount);
        for (unsigned i = 0; i < *std::max_element(counts.begin(), counts.end()); ++i) {
            for (int on : {1, 0}) {
                for (int line = 0; line < InputLineCount; ++line)
                    if (counts[static_cast<std::size_t>(line)] > i)
                        Set(port, line, (on != 0) != restsOn);
                Wait(on ? 80 : 120);
            }
        }
    }
    Finding Result() const { return finder->Result(); }
};

std::vector<unsigned> Only(int line, unsigned presses)
{
    std::vector<unsigned> counts(InputLineCount);
    counts[static_cast<std::size_t>(line)] = presses;
    return counts;
}

const portsetup::UsbIdentity Adapter{0x1A86, 0x7523, "A50285BI"};

// Every status line in both polarities, once with the clock far from its
// wrap and once with the search running across it.
TEST(FinderLines, NamesEachLineAndPolarityAndTheMapLineThatCarriesIt)
{
    const struct {
        int line;
        bool opens;
        const char *said;
        const char *mapLine;
    } cases[] = {
        {LineCts, false, "line CTS, closes when pressed", "any = COM5 usb=1A86:7523:A50285BI"},
        {LineCts, true, "line CTS, opens when pressed", "any = COM5 usb=1A86:7523:A50285BI invert"},
        {LineDsr, false, "line DSR, closes when pressed", "any = COM5 usb=1A86:7523:A50285BI line=DSR"},
        {LineDsr, true, "line DSR, opens when pressed", "any = COM5 usb=1A86:7523:A50285BI line=DSR invert"},
        {LineDcd, false, "line DCD, closes when pressed", "any = COM5 usb=1A86:7523:A50285BI line=DCD"},
        {LineDcd, true, "line DCD, opens when pressed", "any = COM5 usb=1A86:7523:A50285BI line=DCD invert"},
        {LineRi, false, "line RI, closes when pressed", "any = COM5 usb=1A86:7523:A50285BI line=RI"},
        {LineRi, true, "line RI, opens when pressed", "any = COM5 usb=1A86:7523:A50285BI line=RI invert"},
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
        int line;
        std::vector<int> also;
    } cases[] = {
        {{3, 3, 0, 0}, LineCts, {LineDsr}},
        {{0, 3, 3, 3}, LineDsr, {LineDcd, LineRi}},
        {{0, 0, 3, 3}, LineDcd, {LineRi}},
        {{2, 0, 0, 3}, LineRi, {LineCts}},
        {{1, 3, 2, 0}, LineDsr, {LineCts, LineDcd}},
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
        bench.Set("COM5", LineDsr, true);
        finder.Poll(1);
        bench.devices.Advance(KeyFinder::SettleMs - 41);
        finder.Poll(1);
        EXPECT_FALSE(port.settled) << "a millisecond before the settle time";
        bench.devices.Advance(1);
        finder.Poll(1);
        EXPECT_TRUE(port.settled);
        EXPECT_TRUE(port.RestsOn(LineDsr));
        EXPECT_FALSE(port.RestsOn(LineCts));
        EXPECT_FALSE(port.Changed()) << "the rise before settling is no change";

        bench.Set("COM5", LineRi, true);
        bench.devices.Advance(10);
        EXPECT_FALSE(finder.Poll(1));
        bench.Set("COM5", LineRi, false);
        bench.devices.Advance(80);
        EXPECT_FALSE(finder.Poll(1)); // released: the last change
        bench.devices.Advance(KeyFinder::QuietMs / 2);
        EXPECT_FALSE(finder.Poll(1));
        bench.devices.Advance(KeyFinder::QuietMs / 2 - 1);
        EXPECT_FALSE(finder.Poll(1)) << "a millisecond before the key has rested";
        bench.devices.Advance(1);
        EXPECT_TRUE(finder.Poll(1));
        EXPECT_TRUE(port.Changed());
        EXPECT_EQ(port.Presses(LineRi), 1u);
        EXPECT_EQ(port.Presses(LineDsr), 0u);
        // Pressed again and held: while the other lines rest, the key's
        // line is still pressed, not at rest.
        bench.Set("COM5", LineRi, true);
        bench.devices.Advance(KeyFinder::QuietMs / 2);
        finder.Poll(1);
        EXPECT_FALSE(port.RestsOn(LineRi));
        EXPECT_EQ(port.Presses(LineRi), 2u);
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
    bench.Press("COM5", Only(LineCts, 3));
    bench.Wait(1000);
    const Finding finding = bench.Result();
    EXPECT_EQ(finding.kind, Finding::Kind::Found);
    EXPECT_EQ(finding.skipped, (std::vector<std::string>{
                                   "COM2: held by another program",
                                   "COM3: held by another program",
                                   "COM4: missing (unplugged?)",
                                   "COM6: missing (unplugged?)",
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
    bench.Set("COM1", LineRi, true);
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
            b.Press("COM1", Only(LineRi, 1), true);
        },
        Finding::Kind::SeveralPorts, {"COM1 (RI 1 time)", "COM5 (CTS 3 times, DSR 1 time)"}, {}, {"COM1", "COM5"},
        "Lines changed on more than one port: COM1 (RI 1 time) and COM5 (CTS 3 times, DSR 1 time)."},
    ResultCase{"LinesThatWentAndStayed",
        [](Bench &b) {
            b.Set("COM1", LineRi, false);
            b.Set("COM5", LineDsr, true);
            b.Set("COM5", LineDcd, true);
        },
        Finding::Kind::NoPress, {}, {"COM1 RI", "COM5 DSR", "COM5 DCD"}, {"COM1", "COM5"},
        "A line changed and didn't change back: COM1 RI, COM5 DSR and COM5 DCD."},
    // Lines that went and stayed are no presses, on the key's port or another.
    ResultCase{"AKeyBesideLinesThatStayed",
        [](Bench &b) {
            b.Set("COM1", LineDcd, true);
            b.Set("COM5", LineDsr, true);
            b.Press("COM5", Only(LineCts, 3));
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

// ---- What the finding says ------------------------------------------------

// A key found on COM5 of an adapter Windows gives no name.
Finding Found(int line, bool opens, unsigned presses, std::vector<int> also = {})
{
    return testsupport::FoundOnCom5(line, opens, presses, "", std::move(also));
}

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

Finding With(Finding f, void (*change)(Finding &))
{
    change(f);
    return f;
}

INSTANTIATE_TEST_SUITE_P(Cases, FindingAdvice, ::testing::Values(
    AdviceCase{"CtsClosingWithAnAdapterAndNoName", With(Found(LineCts, false, 1), [](Finding &f) { f.usb = Adapter; }),
        "The key is on COM5, line CTS, closes when pressed (1 press seen).\n"
        "The adapter is USB 1A86:7523, serial A50285BI.\n"
        "That is the wiring the key library reads. io-ports.txt beside the comm-port io.dll needs the line:\n"
        "  any = COM5 usb=1A86:7523:A50285BI\n"},
    AdviceCase{"CtsOpening", Found(LineCts, true, 2),
        "The key is on COM5, line CTS, opens when pressed (2 presses seen).\n"
        "The key library reads CTS closing; this key is normally closed. The comm-port io.dll carries it with the "
        "line:\n"
        "  any = COM5 invert\n"},
    AdviceCase{"DsrOpeningBesideThreeOtherLines", Found(LineDsr, true, 3, {LineCts, LineDcd, LineRi}),
        "The key is on COM5, line DSR, opens when pressed (3 presses seen).\n"
        "The key library reads CTS closing; this key is on DSR and normally closed. The comm-port io.dll carries it "
        "with the line:\n"
        "  any = COM5 line=DSR invert\n"
        "CTS, DCD and RI changed too, less often: a key wired to two lines, or a line that picks up the other. DSR "
        "changed most; check the wiring if the key misbehaves.\n"},
    // Found: the ports not searched are named, but the key is found.
    AdviceCase{"FoundWithPortsSkippedAndLost",
        With(Found(LineRi, false, 3), [](Finding &f) {
            f.skipped = {"COM3: held by another program"};
            f.lost = {"COM7: stopped answering during the search (error 22): unplugged?"};
        }),
        "The key is on COM5, line RI, closes when pressed (3 presses seen).\n"
        "The key library reads CTS closing; this key is on RI. The comm-port io.dll carries it with the line:\n"
        "  any = COM5 line=RI\n"
        "Not searched: COM3: held by another program.\n"
        "Lost: COM7: stopped answering during the search (error 22): unplugged?\n"},
    AdviceCase{"NothingChangedOnThreePortsWithOneSkipped",
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
        "If the key could be on a port not searched, free that port and search again.\n"}),
    [](const ::testing::TestParamInfo<AdviceCase> &param) { return std::string(param.param.name); });

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
