#include "keytest/VcdWriter.h"

#include <algorithm>
#include <cmath>

#include "portsetup/TextFile.h"
#include "uart/ModemLines.h"

namespace keytest {

namespace {

// Identifier codes and names of the signals, in the writer's signal order.
const char Codes[] = {'!', '"', '#', '$'};
// A trace is opened on Windows, like the tester's other records.
constexpr const char *End = portsetup::WindowsLineEnd;
const char *const Names[] = {uart::ModemLine::Cts.Name(), uart::ModemLine::Dtr.Name(), uart::ModemLine::Rts.Name(),
                             "press"};

} // namespace

VcdWriter::VcdWriter(std::ostream &out, const std::string &date) : out_(out)
{
    out_ << "$date " << date << " $end" << End << "$version zelbin-keytest $end" << End << "$timescale 1 us $end"
         << End << "$scope module key $end" << End;
    for (int signal = 0; signal < SignalCount; ++signal)
        out_ << "$var wire 1 " << Codes[signal] << ' ' << Names[signal] << " $end" << End;
    out_ << "$upscope $end" << End << "$enddefinitions $end" << End;
}

std::uint64_t VcdWriter::Time(double seconds)
{
    // Times must rise; a clock that stood still or stepped back is held.
    const auto time = static_cast<std::uint64_t>(std::llround(std::max(0.0, seconds) * 1e6));
    if (started_ && time <= last_)
        return last_ + 1;
    return time;
}

void VcdWriter::Sample(double seconds, bool cts, bool dtr, bool rts, bool press)
{
    const bool level[SignalCount] = {cts, dtr, rts, press};
    if (!started_) {
        last_ = Time(seconds);
        started_ = true;
        out_ << '#' << last_ << End << "$dumpvars" << End;
        for (int signal = 0; signal < SignalCount; ++signal)
            out_ << (level[signal] ? '1' : '0') << Codes[signal] << End;
        out_ << "$end" << End;
    } else {
        bool changed = false;
        for (int signal = 0; signal < SignalCount; ++signal)
            changed = changed || level[signal] != level_[signal];
        if (!changed)
            return;
        last_ = Time(seconds);
        out_ << '#' << last_ << End;
        for (int signal = 0; signal < SignalCount; ++signal)
            if (level[signal] != level_[signal])
                out_ << (level[signal] ? '1' : '0') << Codes[signal] << End;
    }
    for (int signal = 0; signal < SignalCount; ++signal)
        level_[signal] = level[signal];
}

void VcdWriter::Finish(double seconds)
{
    if (!started_)
        return;
    last_ = Time(seconds);
    out_ << '#' << last_ << End;
    // A press answered at the last poll lasts that one poll.
    if (level_[Press]) {
        out_ << '0' << Codes[Press] << End;
        level_[Press] = false;
    }
    out_.flush();
}

} // namespace keytest
