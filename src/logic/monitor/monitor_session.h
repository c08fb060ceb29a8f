#pragma once
// The traffic monitor's rules in one place: framing, decoding, pairing replies with requests,
// reply timeouts and statistics. Fed timestamped chunks and the time, it gives back finished
// frames with their gap and decoding; whoever feeds it only has to call advance() at
// nextDeadlineUs().
#include "logic/monitor/frame_splitter.h"
#include "logic/monitor/rtu_decoder.h"
#include "logic/serial/settings_text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varnok::monitor {

struct TrafficCounts {
    // Every request ends in one of reply, CRC error and timeout:
    // requests = replies + crcErrors + timeouts + waiting.
    std::uint64_t requests = 0;   // TX frames
    std::uint64_t replies = 0;    // RX frames with a good CRC paired with a request
    std::uint64_t unpaired = 0;   // RX frames with no request waiting
    std::uint64_t timeouts = 0;   // requests never answered in time
    std::uint64_t crcErrors = 0;  // requests with a bad CRC, or whose reply had one
    std::uint64_t exceptions = 0; // exception replies, paired or not
    std::uint64_t waiting = 0;    // 1 while a request waits for its reply
    // Response times in µs, valid when replies > 0. Minimum, mean and maximum cover every
    // reply since the reset, the 99th percentile the last kPercentileWindow of them.
    std::int64_t minUs = 0;
    double meanUs = 0;
    std::int64_t p99Us = 0;
    std::int64_t maxUs = 0;
};

// Response times in µs: minimum, mean and maximum of every one since the reset, the 99th
// percentile (nearest rank) of the last kWindow of them.
class ResponseTimes {
  public:
    static constexpr std::size_t kWindow = 100000;

    void add(std::int64_t us);
    std::uint64_t count() const { return count_; }
    std::int64_t minUs() const { return min_; }
    std::int64_t maxUs() const { return max_; }
    double meanUs() const { return count_ ? double(sum_) / double(count_) : 0; }
    std::int64_t p99Us() const;
    void reset() { *this = {}; }

  private:
    std::uint64_t count_ = 0;
    std::int64_t min_ = 0;
    std::int64_t max_ = 0;
    std::int64_t sum_ = 0;
    std::vector<std::int64_t> recent_; // ring of the last kWindow times
    std::size_t next_ = 0;
};

// "Requests 1   Replies 1   ...   Response min 1.00 / mean ... ms" for the window.
std::string countsText(const TrafficCounts& c);

// One frame as the session finished it.
struct SessionFrame {
    static constexpr std::string_view kPieceText = "piece of a longer transmission: not decoded";
    static constexpr std::string_view kBeforeModbusText =
        "not decoded: no valid Modbus frame on the line yet";

    Frame frame;
    std::int64_t gapUs = -1; // from the previous frame's last byte; -1 for the first frame
    std::string decoded;     // UTF-8, empty while decoding is off
    bool flagged = false;    // a bad CRC or an exception reply
};

// The response time of a reply runs from the request's last byte to the reply's first byte,
// both as the chunks were stamped: from the write of the request to the read of the first
// reply chunk, so it includes the request's time on the line and the adapter's latency.
class MonitorSession {
  public:
    static constexpr std::size_t kPercentileWindow = ResponseTimes::kWindow;
    static constexpr std::int64_t kDefaultTimeoutUs = 1000000;

    MonitorSession();

    void setLine(const serial::LineSettings& line);
    void setUserGapUs(std::int64_t us); // 0 or less: 3.5 characters at the line's settings
    void setTimeoutUs(std::int64_t us);
    // How frames end and what they are (the link's): on Modbus TCP frames are ADUs, decoded
    // with their header and paired by transaction id; a request to unit 0 (a broadcast)
    // waits for no reply.
    void setFraming(modbus::Framing framing);
    modbus::Framing framing() const { return splitter_.framing(); }
    // Off: frames are neither decoded nor counted, and no request waits (one waiting leaves
    // the count of requests).
    void setDecoding(bool on);
    const serial::LineSettings& line() const { return line_; }
    std::int64_t userGapUs() const { return userGapUs_; }
    std::int64_t timeoutUs() const { return timeoutUs_; }
    bool decoding() const { return decoding_; }
    std::int64_t gapUs() const { return splitter_.gapUs(); }
    std::string gapText() const;

    // The frames this chunk completes, oldest first.
    std::vector<SessionFrame> feed(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                                   std::span<const std::uint8_t> bytes);
    // What the silence up to nowUs ends: the open RX frame after the gap, and a request past
    // its timeout (never while a frame that may answer it is still arriving).
    std::vector<SessionFrame> advance(std::int64_t nowUs);
    // The line is gone (the port closed): the open frame ends now. Until a valid Modbus frame
    // passes again, frames that are not Modbus are shown plainly and not counted.
    std::vector<SessionFrame> endLine();
    // When advance() has something to do next; none while nothing is open or waiting.
    std::optional<std::int64_t> nextDeadlineUs() const;

    TrafficCounts counts() const;
    void resetStats();

  private:
    SessionFrame finish(Frame frame);
    // Counts a decoded frame; for a reply, gives its response time.
    std::optional<std::int64_t> count(const Frame& frame, const Decoded& d);
    void expireRequest(std::int64_t nowUs);

    serial::LineSettings line_;
    std::int64_t userGapUs_ = 0;
    std::int64_t timeoutUs_ = kDefaultTimeoutUs;
    bool decoding_ = true;
    bool modbusSeen_ = false; // a valid Modbus frame has passed since the line opened
    FrameSplitter splitter_;
    std::optional<std::int64_t> lastEndUs_;      // last byte of the previous frame
    std::optional<std::int64_t> waitingSinceUs_; // last byte of the unanswered request
    std::optional<int> waitingTransaction_;      // its id on Modbus TCP

    TrafficCounts counts_; // without the response times
    ResponseTimes times_;
};

} // namespace varnok::monitor
