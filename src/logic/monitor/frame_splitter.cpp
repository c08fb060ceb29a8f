#include "logic/monitor/frame_splitter.h"

#include "logic/modbus/crc16.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

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

std::ptrdiff_t rtuReplyLength(std::span<const std::uint8_t> b) {
    if (b.size() < 2)
        return 0;
    const auto counted = [&](std::ptrdiff_t extra) -> std::ptrdiff_t {
        return b.size() < 3 ? 0 : extra + b[2];
    };
    if (b[1] & 0x80)
        return 5; // station, function, exception code, CRC
    switch (b[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 12:
    case 17:
    case 20:
    case 21:
    case 23:
        return counted(5); // station, function, byte count, the bytes, CRC
    case 5:
    case 6:
    case 11:
    case 15:
    case 16:
        return 8;
    case 7:
        return 5;
    case 22:
        return 10;
    case 24: // a byte count of two bytes
        return b.size() < 4 ? 0 : 6 + ((b[2] << 8) | b[3]);
    case 43: { // 14: objects of their own lengths after 8 bytes
        if (b.size() >= 3 && b[2] != 14)
            return -1;
        if (b.size() < 8)
            return 0;
        std::size_t at = 8;
        for (int i = 0; i < b[7]; ++i) {
            if (at + 2 > b.size())
                return 0;
            at += 2 + std::size_t(b[at + 1]);
        }
        return static_cast<std::ptrdiff_t>(at + 2);
    }
    }
    return -1;
}

std::ptrdiff_t rxFrameLength(modbus::Framing framing, std::span<const std::uint8_t> b) {
    if (framing == modbus::Framing::Mbap)
        return modbus::mbap::aduLength(b);
    if (framing == modbus::Framing::Line)
        return -1;
    return rtuReplyLength(b);
}

std::ptrdiff_t rtuRequestLength(std::span<const std::uint8_t> b) {
    if (b.size() < 2)
        return 0;
    // The byte count at `at`, `extra` bytes besides the counted ones.
    const auto counted = [&](std::size_t at, std::ptrdiff_t extra) -> std::ptrdiff_t {
        return b.size() <= at ? 0 : extra + b[at];
    };
    if (b[1] & 0x80)
        return -1;
    switch (b[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 8: // sub-function and one word of data, as nearly every device is asked
        return 8;
    case 7:
    case 11:
    case 12:
    case 17:
        return 4;
    case 15:
    case 16:
        return counted(6, 9); // address, quantity, byte count, the bytes
    case 20:
    case 21:
        return counted(2, 5);
    case 22:
        return 10;
    case 23:
        return counted(10, 13); // read and write ranges, byte count, the bytes
    case 24:
        return 6;
    case 43:
        return b.size() >= 3 && b[2] != 14 ? -1 : 7;
    }
    return -1;
}

namespace {

bool crcGood(std::span<const std::uint8_t> frame) {
    const auto r = modbus::Calc_CRC16(frame.data(), static_cast<int>(frame.size() - 2));
    return frame[frame.size() - 2] == r.hi && frame[frame.size() - 1] == r.lo;
}

// A length still ahead of `size`, or still being told.
bool ahead(std::ptrdiff_t length, std::size_t size) {
    return length == 0 || (length > 0 && std::size_t(length) > size);
}

} // namespace

std::ptrdiff_t FrameSplitter::checkedLength(std::size_t after) {
    const std::span<const std::uint8_t> b = open_->bytes;
    std::ptrdiff_t first = rtuReplyLength(b);
    std::ptrdiff_t second = listening_ ? rtuRequestLength(b) : -1;
    // Its first bytes give it no length in any form, and more bytes will not change that.
    unsized_ = first < 0 && second < 0;
    if (second >= 0 && (first < 0 || second < first))
        std::swap(first, second);
    for (const std::ptrdiff_t length : {first, second})
        if (length >= 4 && std::size_t(length) > after && std::size_t(length) <= b.size() &&
            crcGood(b.first(std::size_t(length))))
            return length;
    return -1;
}

void FrameSplitter::cutWhole(std::vector<Frame>& done, std::size_t after, std::int64_t timeUs,
                             std::int64_t wallMs) {
    while (!unsized_) {
        const std::ptrdiff_t length = checkedLength(after);
        if (length < 0)
            return;
        const auto whole = std::size_t(length);
        if (whole == open_->bytes.size()) {
            done.push_back(closeOpen());
            return;
        }
        // What follows in the same read starts the next frame.
        Frame rest = start(timeUs, wallMs, open_->direction,
                           std::span<const std::uint8_t>(open_->bytes).subspan(whole));
        open_->bytes.resize(whole);
        done.push_back(closeOpen());
        open_ = std::move(rest);
        after = 0;
        unsized_ = false;
    }
}

bool FrameSplitter::awaitsLength(const Frame& f) const {
    if (framing_ == modbus::Framing::Line)
        return false;
    if (listening_ && framing_ == modbus::Framing::Stream)
        return ahead(rtuReplyLength(f.bytes), f.bytes.size()) ||
               ahead(rtuRequestLength(f.bytes), f.bytes.size());
    return rxFrameLength(framing_, f.bytes) >= 0; // known, or soon told
}

bool FrameSplitter::hasOpenFrame() const {
    return open_ || std::any_of(parked_.begin(), parked_.end(),
                                [](const Parked& p) { return p.frame.has_value(); });
}

std::int64_t FrameSplitter::openDeadlineUs() const {
    std::int64_t first = open_ ? deadlineOf(*open_) : std::numeric_limits<std::int64_t>::max();
    for (const Parked& p : parked_)
        if (p.frame)
            first = std::min(first, deadlineOf(*p.frame));
    return first;
}

void FrameSplitter::switchTo(Direction direction) {
    if (open_ && open_->direction == direction)
        return;
    if (open_)
        parked_[std::size_t(open_->direction)] = {std::move(open_), unsized_, continuation_};
    Parked& mine = parked_[std::size_t(direction)];
    open_ = std::move(mine.frame);
    unsized_ = mine.unsized;
    continuation_ = mine.continuation;
    mine = {};
}

Frame FrameSplitter::closeOpen() {
    Frame done = std::move(*open_);
    open_.reset();
    unsized_ = false;
    done.piece = done.piece || continuation_;
    continuation_ = false;
    return done;
}

void FrameSplitter::recycle(std::vector<std::uint8_t>&& bytes) {
    if (spares_.size() < kSpares && bytes.capacity() >= kMaxFrameBytes)
        spares_.push_back(std::move(bytes));
}

Frame FrameSplitter::start(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                           std::span<const std::uint8_t> bytes) {
    Frame f{timeUs, timeUs, wallMs, direction, {}};
    if (!spares_.empty()) {
        f.bytes = std::move(spares_.back());
        spares_.pop_back();
        f.bytes.clear();
    }
    // Room for a whole frame at once: no copies while it grows a read at a time.
    f.bytes.reserve(std::max(maxBytes(), bytes.size()));
    f.bytes.assign(bytes.begin(), bytes.end());
    return f;
}

std::vector<Frame> FrameSplitter::feed(std::int64_t timeUs, std::int64_t wallMs,
                                       Direction direction, std::span<const std::uint8_t> bytes) {
    std::vector<Frame> done;
    feed(timeUs, wallMs, direction, bytes, done);
    return done;
}

// Full, and more came without a gap: a piece, and so is what follows it.
void FrameSplitter::cutIfFull(std::vector<Frame>& done) {
    if (!open_ || open_->bytes.size() != maxBytes())
        return;
    open_->piece = true;
    done.push_back(closeOpen());
    continuation_ = true;
}

void FrameSplitter::append(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                           std::span<const std::uint8_t> slice) {
    if (!open_) {
        open_ = start(timeUs, wallMs, direction, slice);
        return;
    }
    open_->lastUs = timeUs;
    open_->bytes.insert(open_->bytes.end(), slice.begin(), slice.end());
}

void FrameSplitter::feed(std::int64_t timeUs, std::int64_t wallMs, Direction direction,
                         std::span<const std::uint8_t> bytes, std::vector<Frame>& done) {
    if (bytes.empty())
        return;
    // What the silence before this chunk ended comes first, in the order it ended.
    while (std::optional<Frame> f = flush(timeUs))
        done.push_back(std::move(*f));
    // Our own write ends what was being received: on a half-duplex bus it cannot belong to
    // the same frame. Listening, the other side's open frame waits for its own bytes.
    if (!listening_ && open_ && direction != open_->direction)
        done.push_back(closeOpen());
    switchTo(direction);
    if (direction == Direction::Tx && !listening_) {
        done.push_back(start(timeUs, wallMs, direction, bytes));
        return;
    }
    if (checksLength()) {
        // Gathered a read at a time, then cut where a length with a good CRC ends a frame.
        while (!bytes.empty()) {
            cutIfFull(done);
            const std::size_t after = open_ ? open_->bytes.size() : 0;
            const auto slice = bytes.first(std::min(maxBytes() - after, bytes.size()));
            bytes = bytes.subspan(slice.size());
            append(timeUs, wallMs, direction, slice);
            if (!unsized_)
                cutWhole(done, after, timeUs, wallMs);
        }
        return;
    }
    const bool byLength = framing_ != modbus::Framing::Line;
    while (!bytes.empty()) {
        cutIfFull(done);
        std::size_t room = maxBytes() - (open_ ? open_->bytes.size() : 0);
        std::ptrdiff_t length = -1;
        if (byLength) {
            // One byte at a time until the length is known, then up to it.
            length = rxFrameLength(framing_, open_ ? std::span<const std::uint8_t>(open_->bytes)
                                                   : std::span<const std::uint8_t>());
            if (length > 0 && std::size_t(length) <= open_->bytes.size())
                length = -1; // a length its own bytes already passed: no rule holds
            if (length == 0)
                room = 1;
            else if (length > 0)
                room = std::min(room, std::size_t(length) - open_->bytes.size());
        }
        const auto slice = bytes.first(std::min(room, bytes.size()));
        bytes = bytes.subspan(slice.size());
        append(timeUs, wallMs, direction, slice);
        if (byLength && open_->bytes.size() == std::size_t(std::max<std::ptrdiff_t>(
                                                   rxFrameLength(framing_, open_->bytes), 0)))
            done.push_back(closeOpen()); // whole by its length: no gap needed
    }
}

std::optional<Frame> FrameSplitter::flush(std::int64_t nowUs) {
    const std::int64_t first = hasOpenFrame() ? openDeadlineUs() : 0;
    if (!hasOpenFrame() || nowUs < first)
        return std::nullopt;
    if (!open_ || deadlineOf(*open_) != first)
        for (const Parked& p : parked_)
            if (p.frame && deadlineOf(*p.frame) == first) {
                switchTo(p.frame->direction);
                break;
            }
    return closeOpen();
}

} // namespace varnok::monitor
