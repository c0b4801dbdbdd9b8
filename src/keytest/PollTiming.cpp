#include "keytest/PollTiming.h"

#include <algorithm>
#include <cmath>

namespace keytest {

std::uint32_t WaitBeforeNextPoll(std::uint32_t intervalMs, double elapsedSeconds, double limitSeconds)
{
    if (limitSeconds <= 0)
        return intervalMs;
    const double remainingMs = (limitSeconds - elapsedSeconds) * 1000.0;
    if (remainingMs <= 0)
        return 0;
    // Rounded up, less a hair for the binary fractions of the subtraction.
    const double wait = std::ceil(remainingMs - 1e-6);
    return wait < intervalMs ? static_cast<std::uint32_t>(std::max(wait, 1.0)) : intervalMs;
}

std::uint32_t MsUntilNextPoll(std::uint32_t intervalMs, double lastPollSeconds, double nowSeconds,
                              double limitSeconds)
{
    const double dueMs = (lastPollSeconds - nowSeconds) * 1000.0 + intervalMs;
    const double wait = std::ceil(dueMs - 1e-6);
    if (wait <= 0)
        return 0;
    return WaitBeforeNextPoll(static_cast<std::uint32_t>(std::min(wait, static_cast<double>(intervalMs))), nowSeconds,
                              limitSeconds);
}

PollTiming::PollTiming() : bins_(Bins, 0) {}

void PollTiming::Poll(double seconds)
{
    if (last_ >= 0) {
        const double ms = std::max(0.0, (seconds - last_) * 1000.0);
        minMs_ = count_ ? std::min(minMs_, ms) : ms;
        maxMs_ = count_ ? std::max(maxMs_, ms) : ms;
        const auto bin = static_cast<std::size_t>(std::min(ms / BinMs, static_cast<double>(Bins - 1)));
        ++bins_[bin];
        ++count_;
    }
    last_ = seconds;
}

double PollTiming::MedianMs() const
{
    if (count_ == 0)
        return 0;
    // The lower median: the interval at rank (count - 1) / 2, counted from 0.
    const std::uint64_t rank = (count_ - 1) / 2;
    std::uint64_t seen = 0;
    for (std::size_t bin = 0; bin < Bins; ++bin) {
        seen += bins_[bin];
        if (seen > rank) {
            const double middle = (static_cast<double>(bin) + 0.5) * BinMs;
            return std::min(std::max(middle, minMs_), maxMs_);
        }
    }
    return maxMs_;
}

} // namespace keytest
