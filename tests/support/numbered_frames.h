#pragma once
// Frames that carry their own number, to tell which ones a frame table kept.
#include <cstdint>
#include <span>

#include "engine/monitor/frame_table_model.h"

namespace varnok::test {

// Frame i: its number in 4 bytes, then `size - 4` bytes of i's low byte.
inline monitor::SessionFrame numbered(std::uint32_t i, std::size_t size) {
    monitor::SessionFrame f;
    f.frame.bytes.assign(size, std::uint8_t(i));
    for (int b = 0; b < 4; ++b)
        f.frame.bytes[std::size_t(b)] = std::uint8_t(i >> (8 * b));
    f.frame.firstUs = f.frame.lastUs = std::int64_t{i} * 10;
    f.gapUs = 10;
    return f;
}

// The number of the frame in `row`, or ~0 when it has none.
inline std::uint32_t numberOf(const FrameTableModel& model, int row) {
    const std::span<const std::uint8_t> b = model.bytes(row);
    return b.size() < 4 ? ~0u
                        : std::uint32_t(b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24);
}

} // namespace varnok::test
