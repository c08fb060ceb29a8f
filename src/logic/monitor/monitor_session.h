#pragma once
// The traffic monitor's rules in one place: framing, decoding, pairing replies with requests,
// reply timeouts and statistics. Fed timestamped chunks and the time, it gives back finished
// frames with their gap and decoding; whoever feeds it only has to call advance() at
// nextDeadlineUs().
#include "logic/monitor/frame_splitter.h"
#include "logic/monitor/frame_text.h"
#include "logic/monitor/rtu_decoder.h"
#include "logic/monitor/station_stats.h"
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
    std::uint64_t requests = 0;   // TX frames; listening, frames judged requests
    std::uint64_t replies = 0;    // RX frames with a good CRC paired with a request
    std::uint64_t unpaired = 0;   // RX frames with no request waiting, or listening unknown
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

// "Requests 1   Replies 1   ...   Response min 1.00 / mean ... ms" for the window.
std::string countsText(const TrafficCounts& c);

// One frame as the session finished it.
struct SessionFrame {
    static constexpr std::string_view kPieceText = "piece of a longer transmission: not decoded";
    static constexpr std::string_view kBeforeModbusText =
        "not decoded: no valid Modbus frame on the line yet";

    Frame frame;
    std::int64_t gapUs = -1; // from the previous frame's last byte; -1 for the first frame
    std::string decoded;     // UTF-8, empty while decoding is off or a note says it
    std::string_view note;   // one of the texts above instead: a flood's frames allocate none
    bool flagged = false;    // a bad CRC or an exception reply

    std::string_view text() const { return note.empty() ? std::string_view(decoded) : note; }
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
    // On: this program is not the master; frames of every direction are gathered alike and
    // each is judged from what it is. A frame answering the request waiting (same station,
    // the same function or its exception, a reply's length, and once two directions have
    // been heard, the other direction than the request's) is its reply; else a frame of a
    // request's length for its function is a request; anything else is unpaired. A request
    // to station 0 (a broadcast) waits for no reply. Off (the default): TX frames are the
    // requests and RX frames the replies.
    void setListening(bool on);
    bool listening() const { return splitter_.listening(); }
    // The names the text line shows for the sides instead of TX/RX; empty: TX/RX.
    void setSideNames(SideNames names) { sides_ = std::move(names); }
    const SideNames& sideNames() const { return sides_; }
    const serial::LineSettings& line() const { return line_; }
    std::int64_t userGapUs() const { return userGapUs_; }
    std::int64_t timeoutUs() const { return timeoutUs_; }
    bool decoding() const { return decoding_; }
    std::int64_t gapUs() const { return splitter_.gapUs(); }
    std::string gapText() const;

    // The frames this chunk completes, oldest first.
    std::vector<SessionFrame> feed(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                                   std::span<const std::uint8_t> bytes);
    // The same into `frames`, whose earlier frames' bytes are reused for the next ones: a
    // flood then gathers its frames in the same few buffers.
    void feed(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
              std::span<const std::uint8_t> bytes, std::vector<SessionFrame>& frames);
    // What the silence up to nowUs ends: open frames after their gap, and a request past
    // its timeout (never while a frame that may answer it is still arriving).
    std::vector<SessionFrame> advance(std::int64_t nowUs);
    // The line is gone (the port closed): the open frame ends now. Until a valid Modbus frame
    // passes again, frames that are not Modbus are shown plainly and not counted.
    std::vector<SessionFrame> endLine();
    // When advance() has something to do next; none while nothing is open or waiting.
    std::optional<std::int64_t> nextDeadlineUs() const;

    TrafficCounts counts() const;
    // Per station, counted as counts() counts the whole bus; reset with resetStats().
    const StationStats& stations() const { return stations_; }
    void resetStats();

  private:
    enum class Role { Request, Reply, Other };

    SessionFrame finish(Frame frame);
    // Counts a decoded frame; for a reply, gives its response time.
    std::optional<std::int64_t> count(const Frame& frame, const Decoded& d);
    // Listening: what a frame is, from its bytes and the request waiting.
    Role judge(const Frame& frame);
    std::optional<std::int64_t> countHeard(const Frame& frame, const Decoded& d, Role role);
    void wait(const Frame& frame, const Decoded& d);
    void timeOut();
    void expireRequest(std::int64_t nowUs);

    serial::LineSettings line_;
    std::int64_t userGapUs_ = 0;
    std::int64_t timeoutUs_ = kDefaultTimeoutUs;
    bool decoding_ = true;
    bool modbusSeen_ = false; // a valid Modbus frame has passed since the line opened
    FrameSplitter splitter_;
    std::vector<Frame> split_; // the splitter's frames of one chunk, kept for its capacity
    std::optional<std::int64_t> lastEndUs_;      // last byte of the previous frame
    std::optional<std::int64_t> waitingSinceUs_; // last byte of the unanswered request
    std::optional<int> waitingTransaction_;      // its id on Modbus TCP
    int waitingStation_ = 0;
    int waitingFunction_ = 0;
    Direction waitingDirection_ = Direction::Tx;
    unsigned directionsHeard_ = 0; // a bit per Direction since the line opened
    SideNames sides_;

    TrafficCounts counts_; // without the response times
    ResponseTimes times_;
    StationStats stations_;
};

} // namespace varnok::monitor
