#pragma once
// How a file is cut and paced: each unit (a byte, a line, or a block at full speed) is due at
// an absolute time, start + n * delay, so that late wake-ups never add up to drift; a unit that
// leaves late moves the rest with it, so that no gap is ever shorter than the delay.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

namespace varnok::quicksend {

enum class Pace { FullSpeed, PerCharacter, PerLine };

// Bytes of the unit that starts at `pos`: one byte; up to and including the next line end
// (LF, CR LF, or a CR alone); or at most `block` bytes at full speed.
std::size_t unitLength(std::span<const std::uint8_t> bytes, std::size_t pos, Pace pace,
                       std::size_t block);

class PaceSchedule {
  public:
    PaceSchedule(std::int64_t startUs, std::int64_t delayUs) : start_(startUs), delay_(delayUs) {}
    // When unit `n` is due; unit 0 at the start, each after the delay that follows the one
    // before.
    std::int64_t dueUs(std::uint64_t n) const {
        return start_ + static_cast<std::int64_t>(n) * delay_;
    }
    // After a hold (the far end stopped reading) unit `n` goes now, or a delay after the unit
    // before when that is later, and the rest follow it: held time is not caught up in a burst.
    void restart(std::int64_t nowUs, std::uint64_t n) {
        start_ = std::max(nowUs, last_ + delay_) - static_cast<std::int64_t>(n) * delay_;
    }
    // Unit `n` left at `atUs`: when that was late, the next is due a whole delay after it
    // (catching up would send the units back to back into a slow device).
    void left(std::uint64_t n, std::int64_t atUs) {
        if (atUs > dueUs(n))
            start_ = atUs - static_cast<std::int64_t>(n) * delay_;
        last_ = atUs;
    }
    std::int64_t delayUs() const { return delay_; }

  private:
    std::int64_t start_;
    std::int64_t delay_;
    std::int64_t last_ = std::numeric_limits<std::int64_t>::min() / 2; // the last unit left
};

} // namespace varnok::quicksend
