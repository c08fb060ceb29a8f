#pragma once
// Qt's byte arrays and the pure code's byte spans and vectors, one way across; and the
// monotonic clock in microseconds, as traffic is timed.
#include <QByteArray>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/terminal_engine.h"

namespace varnok::engine {

inline std::span<const std::uint8_t> byteSpan(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

inline QByteArray toByteArray(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

inline std::int64_t nowUs() {
    return TrafficTime::now().monotonicNs / 1000;
}

} // namespace varnok::engine
