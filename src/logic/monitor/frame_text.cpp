#include "logic/monitor/frame_text.h"

#include "logic/codec/recv_display.h"

#include <cstdio>
#include <ctime>

namespace varnok::monitor {

namespace {

// The millisecond part, 0..999 also before the epoch.
int msPart(std::int64_t wallMs) {
    return static_cast<int>((wallMs % 1000 + 1000) % 1000);
}

std::tm localTm(std::int64_t wallMs) {
    const auto seconds = static_cast<std::time_t>((wallMs - msPart(wallMs)) / 1000);
    std::tm tm{};
    ::localtime_r(&seconds, &tm);
    return tm;
}

bool printable(std::uint8_t b) {
    return b >= 0x20 && b < 0x7F;
}

} // namespace

std::string wallTimeText(std::int64_t wallMs) {
    const std::tm tm = localTm(wallMs);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  msPart(wallMs));
    return buf;
}

std::string dottedText(std::span<const std::uint8_t> bytes) {
    std::string s;
    for (std::uint8_t b : bytes)
        s += printable(b) ? static_cast<char>(b) : '.';
    return s;
}

std::string frameLine(const Frame& frame, const Frame* previous, std::string_view decoded) {
    std::string gap;
    if (previous) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3f",
                      static_cast<double>(frame.firstUs - previous->lastUs) / 1000.0);
        gap = buf;
    }
    std::string hex = codec::hexDisplay(frame.bytes.data(), frame.bytes.size());
    if (!hex.empty())
        hex.pop_back(); // hexDisplay ends every byte with a blank
    std::string line = wallTimeText(frame.wallMs);
    for (const std::string& field :
         {gap, std::string(frame.direction == Direction::Tx ? "TX" : "RX"),
          std::to_string(frame.bytes.size()), hex, dottedText(frame.bytes)})
        line += '\t' + field;
    line += '\t';
    line += decoded;
    return line;
}

std::string captureHeader(std::int64_t wallMs) {
    const std::tm tm = localTm(wallMs);
    char buf[64];
    std::strftime(buf, sizeof buf, "# capture %Y-%m-%d %H:%M:%S UTC%z", &tm);
    return std::string(buf) + "\ttime\tgap ms\tdir\tlen\thex\ttext\tdecoded";
}

std::string cArrayText(std::span<const std::uint8_t> bytes) {
    std::string s = "{";
    char buf[8];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%s0x%02X", i ? ", " : "", bytes[i]);
        s += buf;
    }
    return s + "}";
}

std::string pythonBytesText(std::span<const std::uint8_t> bytes) {
    std::string s = "b'";
    char buf[8];
    for (std::uint8_t b : bytes) {
        if (b == '\'' || b == '\\') {
            s += '\\';
            s += static_cast<char>(b);
        } else if (printable(b)) {
            s += static_cast<char>(b);
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02x", b);
            s += buf;
        }
    }
    return s + "'";
}

} // namespace varnok::monitor
