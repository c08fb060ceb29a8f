#include "logic/monitor/frame_splitter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace varnok::monitor {

namespace {

// Modbus RTU: above 19200 baud the inter-frame silence is fixed at 1.750 ms instead of
// 3.5 character times, which would be too short to time reliably.
constexpr int kFixedGapAboveBaud = 19200;
constexpr std::int64_t kFixedGapUs = 1750;

// "3.65", "20": milliseconds to two decimals without trailing zeros.
std::string msText(std::int64_t us) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", static_cast<double>(us) / 1000.0);
    std::string s = buf;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.')
        s.pop_back();
    return s;
}

} // namespace

std::int64_t characterGapUs(const serial::LineSettings& line) {
    const auto gap =
        std::llround(3.5 * serial::bitsPerCharacter(line) * 1e6 / std::max(line.baud, 1));
    return line.baud > kFixedGapAboveBaud ? std::max<std::int64_t>(gap, kFixedGapUs) : gap;
}

std::int64_t frameGapUs(const serial::LineSettings& line, std::int64_t userGapUs) {
    return userGapUs > 0 ? userGapUs : characterGapUs(line);
}

std::string frameGapText(const serial::LineSettings& line, std::int64_t userGapUs) {
    if (userGapUs > 0)
        return "RX frame ends after a set gap of " + msText(userGapUs) + " ms";
    std::string text =
        "RX frame ends after 3.5 characters of silence: " + msText(characterGapUs(line)) +
        " ms at " + std::to_string(line.baud) + ' ' + serial::framingName(line);
    if (line.baud > kFixedGapAboveBaud)
        text += " (at least 1.75 ms above 19200 baud)";
    return text;
}

Frame FrameSplitter::closeOpen() {
    Frame done = std::move(*open_);
    open_.reset();
    done.piece = done.piece || continuation_;
    continuation_ = false;
    return done;
}

std::vector<Frame> FrameSplitter::feed(std::int64_t timeUs, std::int64_t wallMs,
                                       Direction direction, std::span<const std::uint8_t> bytes) {
    std::vector<Frame> done;
    if (bytes.empty())
        return done;
    // Our own write always ends what was being received: on a half-duplex bus it cannot
    // belong to the same frame.
    if (open_ && (direction == Direction::Tx || timeUs - open_->lastUs >= gapUs_))
        done.push_back(closeOpen());
    if (direction == Direction::Tx) {
        done.push_back({timeUs, timeUs, wallMs, direction, {bytes.begin(), bytes.end()}});
        return done;
    }
    while (!bytes.empty()) {
        if (open_ && open_->bytes.size() == kMaxFrameBytes) {
            // Full, and more came without a gap: a piece, and so is what follows it.
            open_->piece = true;
            done.push_back(closeOpen());
            continuation_ = true;
        }
        const std::size_t room = kMaxFrameBytes - (open_ ? open_->bytes.size() : 0);
        const auto slice = bytes.first(std::min(room, bytes.size()));
        bytes = bytes.subspan(slice.size());
        if (open_) {
            open_->lastUs = timeUs;
            open_->bytes.insert(open_->bytes.end(), slice.begin(), slice.end());
        } else {
            open_ = Frame{timeUs, timeUs, wallMs, direction, {slice.begin(), slice.end()}};
        }
    }
    return done;
}

std::optional<Frame> FrameSplitter::flush(std::int64_t nowUs) {
    if (!open_ || nowUs - open_->lastUs < gapUs_)
        return std::nullopt;
    return closeOpen();
}

} // namespace varnok::monitor
