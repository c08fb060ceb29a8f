#pragma once
// Cuts the timestamped chunks read from and written to the port into frames.
#include "logic/modbus/mbap.h"
#include "logic/serial/settings_text.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnok::monitor {

// Tx: what this program wrote to port A; Rx: what port A received; RxB: what a second port B
// received (the other side of a two-port tap). In a bridge, what is written to A is Tx.
enum class Direction { Tx, Rx, RxB };

struct Frame {
    std::int64_t firstUs = 0; // monotonic time of the chunk holding the first byte
    std::int64_t lastUs = 0;  // monotonic time of the chunk holding the last byte
    std::int64_t wallMs = 0;  // wall clock of the first chunk, ms since the epoch
    Direction direction = Direction::Rx;
    std::vector<std::uint8_t> bytes;
    bool piece = false; // cut out of a longer RX transmission that had no gap
};

// 3.5 character times at these settings in µs; above 19200 baud never less than 1750 µs.
std::int64_t characterGapUs(const serial::LineSettings& line);

// The silence that ends an RX frame: userGapUs when it is above 0, else characterGapUs.
std::int64_t frameGapUs(const serial::LineSettings& line, std::int64_t userGapUs);

// The rule in words for the window, e.g.
// "RX frame ends after 3.5 characters of silence: 3.65 ms at 9600 8N1".
std::string frameGapText(const serial::LineSettings& line, std::int64_t userGapUs);

// The length of an RX frame (a reply) as its first bytes give it by the Modbus rules: an
// RTU frame by its function code and byte count, an ADU by its MBAP header; 0 while more
// bytes must come to tell, -1 when they never will (no known length: silence ends it).
std::ptrdiff_t rxFrameLength(modbus::Framing framing, std::span<const std::uint8_t> bytes);

// An RTU reply's length (an exception's 5 included), as rxFrameLength gives it.
std::ptrdiff_t rtuReplyLength(std::span<const std::uint8_t> bytes);

// An RTU request's length by its function code and byte count, in the same terms; -1 for an
// exception's function byte.
std::ptrdiff_t rtuRequestLength(std::span<const std::uint8_t> bytes);

// A chunk's time stands for all of its bytes (the moment it was read or written). Each TX chunk
// is one frame; RX bytes gather into one frame until the line has been silent for the gap.
// RX bytes that keep coming without a gap are cut every kMaxFrameBytes (the longest RTU frame),
// so a flood becomes many frames instead of one that grows without end; every frame of such a
// run, up to the one a gap or a write ends, is marked a piece.
// Over the network, which moves gaps, an RX frame ends by its length (rxFrameLength) as
// soon as it is whole; one whose length is known (or still being told by its first bytes)
// but not reached ends only after the stall time; silence ends only what has no known length.
// Listening, each direction has an open frame of its own, so that both sides of a tap or a
// bridge talking at once (full duplex) do not end each other's frames; frames come out in the
// order they end.
class FrameSplitter {
  public:
    static constexpr std::size_t kMaxFrameBytes = 256;
    static constexpr std::size_t kMaxAduBytes = 260; // an MBAP header with a 253-byte PDU

    explicit FrameSplitter(std::int64_t gapUs) : gapUs_(gapUs) {}

    void setGapUs(std::int64_t gapUs) { gapUs_ = gapUs; }
    std::int64_t gapUs() const { return gapUs_; }
    void setFraming(modbus::Framing framing) { framing_ = framing; }
    modbus::Framing framing() const { return framing_; }
    void setStallUs(std::int64_t us) { stallUs_ = us; }
    void setListening(bool on) {
        listening_ = on;
        unsized_ = false; // the request form may give the open frame a length
    }
    bool listening() const { return listening_; }

    // The frames this chunk completes, oldest first: the RX frame it closes, if any, and for
    // TX the chunk itself. An empty chunk changes nothing.
    std::vector<Frame> feed(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                            std::span<const std::uint8_t> bytes);
    // The same, appended to `done`: a caller feeding a flood keeps one vector for it.
    void feed(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
              std::span<const std::uint8_t> bytes, std::vector<Frame>& done);
    // A finished frame's bytes, no longer needed: the next frames are gathered in them
    // instead of in fresh memory.
    void recycle(std::vector<std::uint8_t>&& bytes);

    // The open frame whose silence ended first, once the line has been silent for the gap
    // at nowUs (at once when nowUs is far past any gap: nothing more can arrive for it); one a
    // call, so call again until none comes.
    std::optional<Frame> flush(std::int64_t nowUs);

    bool hasOpenFrame() const;
    // When the first open frame ends if nothing more comes: after the gap from its last chunk,
    // or the stall time for one still short of its length (known, or still being told).
    std::int64_t openDeadlineUs() const;
    void clear() {
        open_.reset();
        unsized_ = false;
        continuation_ = false;
        parked_ = {};
    }

  private:
    static constexpr std::size_t kSpares = 16; // a flood's frames of one read or two

    Frame closeOpen();
    void cutIfFull(std::vector<Frame>& done);
    // Adds the slice to the open frame, or starts one with it.
    void append(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                std::span<const std::uint8_t> slice);
    // A frame of these first bytes, in a recycled buffer when there is one.
    Frame start(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                std::span<const std::uint8_t> bytes);
    bool awaitsLength(const Frame& f) const;
    std::int64_t deadlineOf(const Frame& f) const {
        return f.lastUs + (awaitsLength(f) ? stallUs_ : gapUs_);
    }
    // Makes `direction`'s frame the open one, the other direction's waiting aside.
    void switchTo(Direction direction);
    // By CRC-checked length (a line, or listening over the network), or by length alone.
    bool checksLength() const {
        return framing_ == modbus::Framing::Line ||
               (listening_ && framing_ == modbus::Framing::Stream);
    }
    std::ptrdiff_t checkedLength(std::size_t after);
    void cutWhole(std::vector<Frame>& done, std::size_t after, std::int64_t timeUs,
                  std::int64_t wallMs);
    std::size_t maxBytes() const {
        return framing_ == modbus::Framing::Mbap ? kMaxAduBytes : kMaxFrameBytes;
    }

    std::int64_t gapUs_;
    modbus::Framing framing_ = modbus::Framing::Line;
    std::int64_t stallUs_ = 1000000;
    bool listening_ = false;
    bool unsized_ = false; // the open frame's first bytes give it no length: silence ends it
    std::optional<Frame> open_;
    bool continuation_ = false; // the open frame follows a cut made without a gap
    // Listening, the other directions' open frames, as open_, unsized_ and continuation_.
    struct Parked {
        std::optional<Frame> frame;
        bool unsized = false;
        bool continuation = false;
    };
    std::array<Parked, 3> parked_;
    std::vector<std::vector<std::uint8_t>> spares_;
};

} // namespace varnok::monitor
