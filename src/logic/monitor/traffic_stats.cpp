#include "logic/monitor/traffic_stats.h"

#include <algorithm>

namespace varnok::monitor {

std::optional<std::int64_t> TrafficStats::add(const Frame& frame, const Decoded& decoded) {
    if (!decoded.crcOk)
        ++counts_.crcErrors;
    if (frame.direction == Direction::Tx) {
        if (waitingSinceUs_)
            ++counts_.timeouts;
        ++counts_.requests;
        waitingSinceUs_ = frame.lastUs;
        return std::nullopt;
    }
    if (decoded.kind == FrameKind::Exception)
        ++counts_.exceptions;
    tick(frame.firstUs);
    if (!waitingSinceUs_) {
        ++counts_.unpaired;
        return std::nullopt;
    }
    // A reply with a bad CRC or an exception still answers its request in time.
    const std::int64_t responseUs = frame.firstUs - *waitingSinceUs_;
    waitingSinceUs_.reset();
    if (counts_.replies++ == 0) {
        counts_.minUs = counts_.maxUs = responseUs;
    } else {
        counts_.minUs = std::min(counts_.minUs, responseUs);
        counts_.maxUs = std::max(counts_.maxUs, responseUs);
    }
    sumUs_ += responseUs;
    if (recent_.size() < kPercentileWindow)
        recent_.push_back(responseUs);
    else
        recent_[next_] = responseUs;
    next_ = (next_ + 1) % kPercentileWindow;
    return responseUs;
}

void TrafficStats::tick(std::int64_t nowUs) {
    if (waitingSinceUs_ && nowUs - *waitingSinceUs_ > timeoutUs_) {
        ++counts_.timeouts;
        waitingSinceUs_.reset();
    }
}

TrafficCounts TrafficStats::counts() const {
    TrafficCounts c = counts_;
    if (c.replies == 0)
        return c;
    c.meanUs = static_cast<double>(sumUs_) / static_cast<double>(c.replies);
    // Nearest rank: the smallest time that at least 99 % of the window do not exceed.
    std::vector<std::int64_t> sorted = recent_;
    const std::size_t rank = (sorted.size() * 99 + 99) / 100;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                     sorted.end());
    c.p99Us = sorted[rank - 1];
    return c;
}

void TrafficStats::reset() {
    waitingSinceUs_.reset();
    counts_ = {};
    sumUs_ = 0;
    recent_.clear();
    next_ = 0;
}

} // namespace varnok::monitor
