#pragma once
// Cuts the timestamped chunks read from and written to the port into frames.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnok::monitor {

enum class Direction { Tx, Rx };

struct Frame {
    std::int64_t firstUs = 0; // monotonic time of the chunk holding the first byte
    std::int64_t lastUs = 0;  // monotonic time of the chunk holding the last byte
    std::int64_t wallMs = 0;  // wall clock of the first chunk, ms since the epoch
    Direction direction = Direction::Rx;
    std::vector<std::uint8_t> bytes;
};

struct LineSettings {
    int baud = 9600;
    int dataBits = 8;
    char parity = 'N'; // 'N' adds no bit, any other letter one
    double stopBits = 1;
};

// 3.5 character times at these settings in µs; above 19200 baud never less than 1750 µs.
std::int64_t characterGapUs(const LineSettings& line);

// The silence that ends an RX frame: userGapUs when it is above 0, else characterGapUs.
std::int64_t frameGapUs(const LineSettings& line, std::int64_t userGapUs);

// The rule in words for the window, e.g.
// "RX frame ends after 3.5 characters of silence: 3.65 ms at 9600 8N1".
std::string frameGapText(const LineSettings& line, std::int64_t userGapUs);

// A chunk's time stands for all of its bytes (the moment it was read or written). Each TX chunk
// is one frame; RX bytes gather into one frame until the line has been silent for the gap.
class FrameSplitter {
  public:
    explicit FrameSplitter(std::int64_t gapUs) : gapUs_(gapUs) {}

    void setGapUs(std::int64_t gapUs) { gapUs_ = gapUs; }
    std::int64_t gapUs() const { return gapUs_; }

    // The frames this chunk completes, oldest first: the RX frame it closes, if any, and for
    // TX the chunk itself. An empty chunk changes nothing.
    std::vector<Frame> feed(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                            std::span<const std::uint8_t> bytes);

    // The open RX frame once the line has been silent for the gap at nowUs.
    std::optional<Frame> flush(std::int64_t nowUs);

    bool hasOpenFrame() const { return open_.has_value(); }
    void clear() { open_.reset(); }

  private:
    std::int64_t gapUs_;
    std::optional<Frame> open_;
};

} // namespace varnok::monitor
