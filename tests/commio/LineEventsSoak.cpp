// The key library over the comm-port io.dll core over the driver model, in
// simulated time: random presses under every event rule a driver has, with
// the other modem lines moving, at every poll interval a host uses, judged
// by the oracle that reads only the script and the poll times. No press
// invented; none lost that the driver lets the io.dll show.
//
// ZELBIN_SOAK_SEED=N runs other scripts; ZELBIN_SOAK_PRESSES=N sets the
// presses of each run. A failure names its run's seed and the time of its
// first problem: ZELBIN_SOAK_ONLY=SEED ZELBIN_SOAK_AT=MS then prints that
// run's key changes, polls and device calls around it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "CommioWorld.h"
#include "Zelbin_Serial.h"
#include "commio/PortMap.h"
#include "library/Zelbin_SerialCore.h"
#include "ttydev/Oracle.h"
#include "ttydev/Script.h"

namespace {

using Rule = sim::ComDevices::EventRule;
constexpr std::int64_t UsPerMs = 1000;

// How a driver tells of changes and answers reads.
struct Behaviour {
    const char *name;
    Rule rule;
    std::uint32_t samplePeriodUs;
    bool staleReads;
    std::uint32_t readUs;
    bool silent;
};

const Behaviour kBehaviours[] = {
    {"windows", Rule::History, 0, false, 0, false},
    {"windows-slow", Rule::History, 0, false, 2000, false},
    {"wine", Rule::CompareWithStart, 1100, false, 0, false},
    {"wine-slow", Rule::CompareWithStart, 1100, false, 2000, false},
    {"stale", Rule::CompareWithStart, 1100, true, 0, false},
    {"silent", Rule::CompareWithStart, 0, false, 0, true},
};

// What the other input lines do meanwhile.
enum class Activity { Still, PulsesBeforeEdges, DsrFollowsDtr, RingingRi, FlappingDcd };
struct ActivityName {
    Activity activity;
    const char *name;
};
const ActivityName kActivities[] = {
    {Activity::Still, "still"},
    {Activity::PulsesBeforeEdges, "pulses before key edges"},
    {Activity::DsrFollowsDtr, "DSR follows DTR"},
    {Activity::RingingRi, "ringing RI"},
    {Activity::FlappingDcd, "flapping DCD"},
};

struct KeyLine {
    const char *name;
    const char *map;
    uart::ModemLine line;
};
const KeyLine kKeyLines[] = {
    {"CTS", "any = COM5", uart::ModemLine::Cts},
    {"DSR", "any = COM5 line=DSR", uart::ModemLine::Dsr},
    {"RI", "any = COM5 line=RI", uart::ModemLine::Ri},
};

constexpr std::uint32_t kPolls[] = {1, 10, 50, 100, 500};

// `preferred`, or CTS where the key is on it.
uart::ModemLine Other(uart::ModemLine preferred, uart::ModemLine key)
{
    return preferred != key ? preferred : uart::ModemLine::Cts;
}

struct Totals {
    std::uint32_t presses = 0, reported = 0, merged = 0, lost = 0, invented = 0, unseen = 0;
    void Add(const ttydev::Verdict &v)
    {
        presses += v.presses;
        reported += v.reported;
        merged += v.merged;
        lost += v.lost;
        invented += v.invented;
        unseen += v.unseen;
    }
};

std::uint32_t SoakSetting(const char *name, std::uint32_t fallback)
{
    const char *text = std::getenv(name);
    return text && *text ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10)) : fallback;
}

// One run: the world made afresh, the script scheduled, the host polling
// every `pollMs` and setting DTR at each press it is told of; the verdict.
ttydev::Verdict RunOne(const Behaviour &b, Activity activity, const KeyLine &key, std::uint32_t pollMs,
                       std::uint32_t seed, std::uint32_t presses)
{
    NewCommioWorld();
    sim::ComDevices &devices = TheComDevices();
    // The trace: from 80 ms before ZELBIN_SOAK_AT to 40 ms after.
    const bool tracing = SoakSetting("ZELBIN_SOAK_ONLY", 0) == seed;
    const std::int64_t traceAt = tracing ? std::int64_t{SoakSetting("ZELBIN_SOAK_AT", 0)} * 1000 : -1;
    devices.SetRecording(false);
    devices.SetRecordingEvents(tracing);
    devices.SetRecordingOutputs(true);
    sim::ComDevices::Device &device = devices.Plug("COM5");
    device.refuseEvents = 0;
    device.rule = b.rule;
    device.samplePeriodUs = b.samplePeriodUs;
    device.staleReads = b.staleReads;
    device.readUs = b.readUs;
    device.silent = b.silent;
    device.dsrFollowsDtr = activity == Activity::DsrFollowsDtr;
    const commio::PortMapResult map = commio::ParsePortMap(key.map);
    EXPECT_EQ(map.error, "");
    TheCommIo().Configure(map.uarts);
    library::portState = library::PortState{};
    library::Load();
    ZelbinStartListen("COM5;3F8h");

    // The key's presses, as the scripted device's random scripts make them.
    ttydev::RandomPlan plan;
    plan.seed = seed;
    plan.presses = presses;
    plan.pollMs = pollMs;
    plan.startMs = 300 + 3 * pollMs;
    ttydev::DeviceScript script;
    std::string error;
    EXPECT_TRUE(ttydev::ParseDeviceScript(ttydev::RandomScript(plan), script, error)) << error;
    const std::vector<ttydev::Change> changes = ttydev::KeyChanges(script.key, 0);
    for (const ttydev::Change &change : changes)
        devices.Schedule("COM5", change.atNs / 1000, key.line, change.down != 0);
    const std::int64_t endUs = (changes.empty() ? 0 : changes.back().atNs / 1000) +
                               (commio::CommIo::RefreshReads + 6) * pollMs * UsPerMs + 1000000;

    // The other lines.
    std::mt19937 random(seed ^ 0x9E3779B9u);
    const auto between = [&random](std::int64_t low, std::int64_t high) {
        return low + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(high - low + 1));
    };
    if (activity == Activity::PulsesBeforeEdges) {
        const uart::ModemLine line = Other(uart::ModemLine::Dsr, key.line);
        for (const ttydev::Change &change : changes) {
            const std::int64_t fall = change.atNs / 1000 - between(0, 6000);
            const std::int64_t rise = fall - between(500, 3000);
            devices.Schedule("COM5", rise, line, true);
            devices.Schedule("COM5", fall, line, false);
        }
    } else if (activity == Activity::RingingRi || activity == Activity::FlappingDcd) {
        const bool ring = activity == Activity::RingingRi;
        const uart::ModemLine line = Other(ring ? uart::ModemLine::Ri : uart::ModemLine::Dcd, key.line);
        bool level = false;
        for (std::int64_t t = between(0, 20000); t < endUs;) {
            level = !level;
            devices.Schedule("COM5", t, line, level);
            t += ring ? (level ? between(2000, 30000) : between(5000, 60000)) : between(1000, 20000);
        }
    }

    // Between the script's whole milliseconds, so that no poll begins at
    // the instant of a change and leaves the judge a tie.
    std::vector<ttydev::Poll> polls;
    bool toggled = false;
    // A host's timer: a tick missed while a slow poll ran comes once, at
    // the next tick.
    for (std::int64_t next = pollMs * UsPerMs + UsPerMs / 2; next < endUs;) {
        devices.AdvanceUs(next - devices.NowUs());
        if (tracing) {
            const bool in = next >= traceAt - 80000 && next <= traceAt + 40000;
            devices.SetRecording(in);
            if (in)
                std::printf("%10lld poll; lines %02X\n", static_cast<long long>(devices.NowUs()),
                            devices.Find("COM5")->inputs);
        }
        ttydev::Poll poll;
        poll.startNs = devices.NowUs() * 1000;
        poll.answer = ZelbinIsZBToggle() != 0;
        poll.endNs = devices.NowUs() * 1000;
        if (poll.answer) {
            toggled = !toggled;
            devices.AdvanceUs(1); // the host's next call, after the poll's
            ZelbinSetToggled(toggled ? 1 : 0);
        }
        poll.toggled = toggled;
        polls.push_back(poll);
        while (next <= devices.NowUs())
            next += pollMs * UsPerMs;
    }
    devices.AdvanceUs(pollMs * UsPerMs); // the close's DTR off after the last poll
    ZelbinStopListen();
    library::Unload();
    TheCommIo().Release();

    std::vector<ttydev::Set> sets;
    for (const sim::ComDevices::OutputChange &out : devices.Outputs())
        sets.push_back(ttydev::Set{out.atUs * 1000, 0, 1, static_cast<std::uint16_t>(out.dtr ? ttydev::LineDtr : 0)});
    if (tracing) {
        const std::int64_t from = traceAt - 80000, until = traceAt + 40000;
        for (const ttydev::Change &c : changes)
            if (c.atNs / 1000 >= from && c.atNs / 1000 <= until)
                std::printf("%10lld key %u\n", static_cast<long long>(c.atNs / 1000), c.down);
        for (const ttydev::Poll &p : polls)
            if (p.startNs / 1000 >= from && p.startNs / 1000 <= until)
                std::printf("%10lld poll %d (ends %lld)\n", static_cast<long long>(p.startNs / 1000), p.answer ? 1 : 0,
                            static_cast<long long>(p.endNs / 1000));
        for (const std::string &line : devices.Calls())
            std::printf("  %s\n", line.c_str());
    }
    ttydev::Showing showing;
    if (b.silent)
        showing = ttydev::Showing{commio::CommIo::RefreshReads, false};
    return ttydev::Judge(ttydev::PressesOf(changes), polls, sets, {}, true, 0, showing);
}

class Soak : public ::testing::TestWithParam<Behaviour> {};

TEST_P(Soak, EachPressOnceWhateverTheOtherLinesDo)
{
    const Behaviour &b = GetParam();
    const std::uint32_t base = SoakSetting("ZELBIN_SOAK_SEED", 20261210);
    const std::uint32_t presses = SoakSetting("ZELBIN_SOAK_PRESSES", 240);
    std::printf("%-13s %-24s %8s %8s %7s %5s %8s %7s\n", "behaviour", "other lines", "presses", "reported", "merged",
                "lost", "invented", "unseen");
    Totals all;
    std::uint32_t run = 0;
    for (const ActivityName &a : kActivities) {
        Totals row;
        for (const KeyLine &key : kKeyLines) {
            if (a.activity == Activity::DsrFollowsDtr && key.line == uart::ModemLine::Dsr)
                continue; // a key on DSR and DSR looped back from DTR can't both be
            for (const std::uint32_t pollMs : kPolls) {
                const std::uint32_t seed = base + 7919u * ++run;
                const ttydev::Verdict v = RunOne(b, a.activity, key, pollMs, seed, presses);
                row.Add(v);
                EXPECT_TRUE(v.Passed()) << b.name << ", " << a.name << ", key on " << key.name << ", polls every "
                                        << pollMs << " ms, seed " << seed << ": " << v.lost << " lost, " << v.invented
                                        << " invented, " << v.unjudged << " unjudged, " << v.dtrMismatches
                                        << " DTR mismatches; first: "
                                        << (v.problems.empty() ? std::string("-") : v.problems.front());
            }
        }
        std::printf("%-13s %-24s %8u %8u %7u %5u %8u %7u\n", b.name, a.name, row.presses, row.reported, row.merged,
                    row.lost, row.invented, row.unseen);
        all.presses += row.presses;
        all.reported += row.reported;
        all.merged += row.merged;
        all.lost += row.lost;
        all.invented += row.invented;
        all.unseen += row.unseen;
    }
    std::printf("%-13s %-24s %8u %8u %7u %5u %8u %7u\n", b.name, "all", all.presses, all.reported, all.merged, all.lost,
                all.invented, all.unseen);
}

INSTANTIATE_TEST_SUITE_P(EveryRule, Soak, ::testing::ValuesIn(kBehaviours), [](const auto &row) {
    std::string name = row.param.name;
    for (char &c : name)
        if (c == '-')
            c = '_';
    return name;
});

} // namespace
