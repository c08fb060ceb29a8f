#pragma once
// Pairs replies with requests and keeps the live counters and response times.
#include "logic/monitor/frame_splitter.h"
#include "logic/monitor/rtu_decoder.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace varnok::monitor {

struct TrafficCounts {
    std::uint64_t requests = 0;   // TX frames
    std::uint64_t replies = 0;    // RX frames paired with a request
    std::uint64_t unpaired = 0;   // RX frames with no request waiting (late or unasked for)
    std::uint64_t timeouts = 0;   // requests never answered in time
    std::uint64_t crcErrors = 0;  // frames of either direction
    std::uint64_t exceptions = 0; // exception replies, paired or not
    // Response times in µs, valid when replies > 0. Minimum, mean and maximum cover every
    // reply since the reset, the 99th percentile the last kPercentileWindow of them.
    std::int64_t minUs = 0;
    double meanUs = 0;
    std::int64_t p99Us = 0;
    std::int64_t maxUs = 0;
};

// The response time of a reply runs from the request's last byte to the reply's first byte,
// both as the splitter stamped them: from the write of the request to the read of the first
// reply chunk, so it includes the request's time on the line and the adapter's latency.
class TrafficStats {
  public:
    static constexpr std::size_t kPercentileWindow = 100000;

    explicit TrafficStats(std::int64_t timeoutUs = 1000000) : timeoutUs_(timeoutUs) {}

    void setTimeoutUs(std::int64_t timeoutUs) { timeoutUs_ = timeoutUs; }
    std::int64_t timeoutUs() const { return timeoutUs_; }

    // Counts one frame in time order; for a reply, gives its response time. A TX frame
    // while a request is still waiting makes that one a timeout.
    std::optional<std::int64_t> add(const Frame& frame, const Decoded& decoded);

    // A request still waiting at nowUs past the timeout becomes a timeout.
    void tick(std::int64_t nowUs);

    TrafficCounts counts() const;
    void reset();

  private:
    std::int64_t timeoutUs_;
    std::optional<std::int64_t> waitingSinceUs_; // last-byte time of the unanswered request
    TrafficCounts counts_;
    std::int64_t sumUs_ = 0;
    std::vector<std::int64_t> recent_; // ring of the last kPercentileWindow response times
    std::size_t next_ = 0;
};

} // namespace varnok::monitor
