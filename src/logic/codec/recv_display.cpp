#include "logic/codec/recv_display.h"

#include <algorithm>
#include <limits>

#include "logic/codec/hex_digit.h"
#include "logic/failure.h"

namespace varnok::codec {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();

std::int32_t toInt32(std::int64_t v) {
    if (v > kInt32Max || v < kInt32Min) {
        throw Overflow();
    }
    return static_cast<std::int32_t>(v);
}

} // namespace

std::string hexDisplay(const std::uint8_t* data, std::size_t size) {
    // Written straight into place: a binary flood goes through here byte by byte.
    std::string out(static_cast<std::size_t>(displayLength(static_cast<std::int64_t>(size), true)),
                    ' ');
    putHexBytes(out.data(), data, size);
    return out;
}

AutoPass autoReceivePass(std::int64_t displayLength, std::int32_t base, bool showData,
                         std::int32_t showLimit) {
    AutoPass pass;
    pass.recvLength = toInt32(std::max<std::int64_t>(displayLength, 0));
    pass.total = toInt32(static_cast<std::int64_t>(pass.recvLength) + base);
    pass.clearDisplay = showData ? pass.recvLength > showLimit : pass.recvLength > 0;
    pass.base = pass.clearDisplay ? pass.total : base;
    return pass;
}

ManualAppend manualReceiveAppend(std::int64_t displayLength, std::int64_t chunkLength,
                                 std::int32_t base) {
    const std::int64_t before = std::max<std::int64_t>(displayLength, 0);
    const std::int64_t chunk = std::max<std::int64_t>(chunkLength, 0);
    // A sum past 64 bits could never fit the 32-bit counters either.
    if (chunk > std::numeric_limits<std::int64_t>::max() - before) {
        throw Overflow();
    }
    const std::int64_t after = before + chunk;
    ManualAppend m;
    m.dropFront = std::max<std::int64_t>(after - kManualDisplayCap, 0);
    const std::int64_t shown = after - m.dropFront;
    // What scrolls off the front still counts: it moves into the base.
    if (m.dropFront > kInt32Max - static_cast<std::int64_t>(base)) {
        throw Overflow();
    }
    m.base = toInt32(static_cast<std::int64_t>(base) + m.dropFront);
    m.recvLength = toInt32(shown);
    m.total = toInt32(static_cast<std::int64_t>(m.base) + shown);
    return m;
}

} // namespace varnok::codec
