// The pace of the polls: how long to wait before the next one, and what the
// intervals between them actually were.
#pragma once

#include <cstdint>
#include <vector>

namespace keytest {

// Milliseconds to wait after a poll at `elapsedSeconds`: the poll interval,
// cut short so that a test limited to `limitSeconds` (0: no limit) ends on
// time rather than up to one interval late; 0 once the time is up.
std::uint32_t WaitBeforeNextPoll(std::uint32_t intervalMs, double elapsedSeconds, double limitSeconds);

// Milliseconds to wait at `nowSeconds` before the poll that follows the one
// at `lastPollSeconds`: the rest of the interval, so that a wait that ends
// early (or a poll that took its time) is followed by another for what is
// left, and no two polls come closer than the interval. Cut short like
// WaitBeforeNextPoll; 0 when the poll is due or the time is up.
std::uint32_t MsUntilNextPoll(std::uint32_t intervalMs, double lastPollSeconds, double nowSeconds,
                              double limitSeconds);

// The intervals between successive polls: exact minimum and maximum, and a
// median to a tenth of a millisecond, in constant memory however long the
// test runs.
class PollTiming {
public:
    PollTiming();

    void Poll(double seconds);

    std::uint64_t Intervals() const { return count_; }
    // In milliseconds; 0 when fewer than two polls were made.
    double MinMs() const { return count_ ? minMs_ : 0; }
    double MaxMs() const { return count_ ? maxMs_ : 0; }
    double MedianMs() const;

private:
    static constexpr double BinMs = 0.1;
    static constexpr std::size_t Bins = 200000; // up to 20 s; longer ones share the last bin

    std::vector<std::uint32_t> bins_;
    std::uint64_t count_ = 0;
    double last_ = -1;
    double minMs_ = 0, maxMs_ = 0;
};

} // namespace keytest
