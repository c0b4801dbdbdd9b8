// The driver model's event rules, on their own: what Windows' own serial
// driver keeps while no wait is pending, and what Wine's compares with.
//
// Steps, one character each, on one held device: `m` SetCommMask(CTS), `M`
// SetCommMask(CTS DSR), `n` SetCommMask(RING), `w` WaitCommEvent, `C`/`c`
// CTS up/down, `D`/`d` DSR, `R`/`r` RI, `s` a status read, `a` a
// millisecond passes. `p` notes whether the wait is pending (P, or -), `x`
// collects it: the events it told (C, D, R; 0 for none).
#include <string>

#include <gtest/gtest.h>

#include "comdevices/ComDevices.h"

namespace {

using Rule = sim::ComDevices::EventRule;

struct RuleCase {
    const char *name;
    Rule rule;
    std::uint32_t periodUs;
    const char *steps;
    const char *notes;
};

std::ostream &operator<<(std::ostream &os, const RuleCase &c) { return os << c.name; }

class EventRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(EventRules, TellWhatTheDriverWould)
{
    sim::ComDevices devices;
    sim::ComDevices::Device &device = devices.Plug("COM5");
    device.refuseEvents = 0;
    device.rule = GetParam().rule;
    device.samplePeriodUs = GetParam().periodUs;
    commio::DeviceHandle handle = nullptr;
    ASSERT_EQ(devices.Open("COM5", handle), 0u);
    commio::CommWait *wait = nullptr;
    std::string notes;
    for (const char *step = GetParam().steps; *step; ++step) {
        const auto line = [&](uart::ModemLine which, bool level) { devices.SetInput("COM5", which, level); };
        switch (*step) {
        case 'm': devices.WatchLines(handle, wait, uart::ModemLine::Cts.Event()); break;
        case 'M': devices.WatchLines(handle, wait, uart::ModemLine::Cts.Event() | uart::ModemLine::Dsr.Event()); break;
        case 'n': devices.WatchLines(handle, wait, uart::ModemLine::Ri.Event()); break;
        case 'w': ASSERT_EQ(devices.StartWait(handle, *wait), 0u); break;
        case 'C': line(uart::ModemLine::Cts, true); break;
        case 'c': line(uart::ModemLine::Cts, false); break;
        case 'D': line(uart::ModemLine::Dsr, true); break;
        case 'd': line(uart::ModemLine::Dsr, false); break;
        case 'R': line(uart::ModemLine::Ri, true); break;
        case 'r': line(uart::ModemLine::Ri, false); break;
        case 's': {
            std::uint8_t lines = 0;
            devices.ModemStatus(handle, lines);
            break;
        }
        case 'a': devices.Advance(1); break;
        case 'p': notes += devices.WaitPending(*wait) ? 'P' : '-'; break;
        case 'x': {
            ASSERT_EQ(devices.WaitResult(handle, *wait), 0u) << "at step " << step - GetParam().steps;
            std::string told;
            if (wait->events & uart::ModemLine::Cts.Event()) told += 'C';
            if (wait->events & uart::ModemLine::Dsr.Event()) told += 'D';
            if (wait->events & uart::ModemLine::Ri.Event()) told += 'R';
            notes += told.empty() ? "0" : told;
            break;
        }
        }
    }
    EXPECT_EQ(notes, GetParam().notes);
    devices.EndWait(handle, wait);
    devices.Close(handle);
}

constexpr Rule kWindows = Rule::History, kWine = Rule::CompareWithStart;

const RuleCase kRules[] = {
    // Windows' own: every change is an event, kept while no wait is pending.
    {"WindowsEndsThePendingWaitAtOnce", kWindows, 0, "mwpCpx", "P-C"},
    {"WindowsKeepsWhatCameWhileNoWaitWasPending", kWindows, 0, "mCwpx", "-C"},
    {"WindowsMergesWhatItKeptPerEvent", kWindows, 0, "mCcCwxwp", "CP"},
    {"WindowsKeepsItAcrossAStatusRead", kWindows, 0, "mCsswx", "C"},
    {"WindowsKeepsAfterAWaitEnded", kWindows, 0, "mwCcxwx", "CC"},
    {"WindowsKeepsNothingOfALineItDoesntWatch", kWindows, 0, "mwDdpMxwp", "P0P"},
    {"WindowsKeepsWhatANewMaskWatches", kWindows, 0, "MCDmwx", "C"},
    {"WindowsDropsWhatANewMaskDoesntWatch", kWindows, 0, "MDmwp", "P"},
    {"WindowsEndsAPendingWaitWithNothingAtANewMask", kWindows, 0, "mwmpx", "-0"},
    {"WindowsTellsRiOnItsTrailingEdgeOnly", kWindows, 0, "nwRprpx", "P-R"},
    // Wine's: a wait compares with the lines at its start; nothing is kept.
    {"WineKeepsNothingWhileNoWaitIsPending", kWine, 0, "mCwp", "P"},
    {"WineComparesWithTheLinesAtTheStart", kWine, 0, "mCwcpx", "-C"},
    {"WineTellsRiBothWays", kWine, 0, "nwRxwrx", "RR"},
    {"WineEndsAPendingWaitWithNothingAtANewMask", kWine, 0, "mwmpx", "-0"},
    // ...looking at the lines once a period.
    {"WineTellsAChangeAtItsNextLook", kWine, 1000, "mwCpapx", "P-C"},
    {"WineMissesAChangeUndoneWithinAPeriod", kWine, 1000, "mwCcapaap", "PP"},
    {"WineTellsChangesWithinAPeriodTogether", kWine, 1000, "MwCDapx", "-CD"},
    {"WineEndsTheWaitAtANewMaskAtItsNextLook", kWine, 1000, "mwmpapx", "P-0"},
};

INSTANTIATE_TEST_SUITE_P(Table, EventRules, ::testing::ValuesIn(kRules),
                         [](const auto &row) { return std::string(row.param.name); });

// A status read of a device with stale reads answers the lines its wait
// last looked at; a slow one takes its time, and changes due meanwhile
// happen.
TEST(EventRulesReads, StaleReadsAnswerWhatTheWaitLastSawAndSlowOnesTakeTheirTime)
{
    sim::ComDevices devices;
    sim::ComDevices::Device &device = devices.Plug("COM5");
    device.refuseEvents = 0;
    device.rule = Rule::CompareWithStart;
    device.staleReads = true;
    device.samplePeriodUs = 1000;
    commio::DeviceHandle handle = nullptr;
    ASSERT_EQ(devices.Open("COM5", handle), 0u);
    commio::CommWait *wait = nullptr;
    devices.WatchLines(handle, wait, uart::ModemLine::Cts.Event());
    devices.StartWait(handle, *wait);
    std::uint8_t lines = 0xFF;
    devices.SetInput("COM5", uart::ModemLine::Cts, true);
    devices.ModemStatus(handle, lines);
    EXPECT_EQ(lines, 0) << "not yet looked at";
    devices.Advance(1);
    devices.ModemStatus(handle, lines);
    EXPECT_EQ(lines, uart::ModemLine::Cts.Mask());

    device.staleReads = false;
    device.readUs = 2000;
    devices.Schedule("COM5", devices.NowUs() + 1500, uart::ModemLine::Cts, false);
    const std::int64_t before = devices.NowUs();
    devices.ModemStatus(handle, lines);
    EXPECT_EQ(devices.NowUs() - before, 2000);
    EXPECT_EQ(lines, 0) << "answered as the lines are at the read's end";
    devices.EndWait(handle, wait);
    devices.Close(handle);
}

} // namespace
