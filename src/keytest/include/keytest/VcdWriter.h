// A trace of a key test as a Value Change Dump, for PulseView, GTKWave or
// sigrok-cli: the lines CTS, DTR and RTS as read at each poll, and `press`,
// the library's answer, high for the one poll that reported a press.
// Timescale 1 us, times from the start of the test.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace keytest {

class VcdWriter {
public:
    // `date` goes into the header as it is.
    VcdWriter(std::ostream &out, const std::string &date);

    // The levels at one poll; only changes are written.
    void Sample(double seconds, bool cts, bool dtr, bool rts, bool press);
    // Ends the trace at `seconds`, so that viewers show the whole test.
    void Finish(double seconds);

private:
    enum { Cts, Dtr, Rts, Press, SignalCount };

    std::uint64_t Time(double seconds);

    std::ostream &out_;
    bool started_ = false;
    std::uint64_t last_ = 0;
    bool level_[SignalCount] = {};
};

} // namespace keytest
