#include "logic/monitor/frame_text.h"

#include "logic/codec/case_fold.h"

#include <algorithm>
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
    // A capture under a flood asks for this thousands of times a second: the local time of
    // the second is worked out once per second only.
    thread_local std::int64_t cachedSecond = -1;
    thread_local std::tm cached{};
    const std::int64_t second = (wallMs - msPart(wallMs)) / 1000;
    if (second != cachedSecond) {
        cached = localTm(wallMs);
        cachedSecond = second;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", cached.tm_hour, cached.tm_min,
                  cached.tm_sec, msPart(wallMs));
    return buf;
}

std::string dottedText(std::span<const std::uint8_t> bytes) {
    std::string s;
    for (std::uint8_t b : bytes)
        s += printable(b) ? static_cast<char>(b) : '.';
    return s;
}

void appendFrameLine(std::string& line, const Frame& frame, std::int64_t gapUs,
                     std::string_view decoded) {
    // Built in place: under a flood this runs for every frame of a text-log capture.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::size_t n = frame.bytes.size();
    line.reserve(line.size() + 48 + n * 4 + decoded.size());
    line += wallTimeText(frame.wallMs);
    line += '\t';
    if (gapUs >= 0) {
        char buf[32];
        const int len = std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(gapUs) / 1000.0);
        line.append(buf, static_cast<std::size_t>(std::max(len, 0)));
    }
    line += frame.direction == Direction::Tx ? "\tTX\t" : "\tRX\t";
    line += std::to_string(n);
    line += '\t';
    // Hex and text written straight into their place: per character appends cost most here.
    const std::size_t at = line.size();
    line.resize(at + (n ? 3 * n - 1 : 0) + 1 + n);
    char* out = line.data() + at;
    for (std::size_t i = 0; i < n; ++i) {
        if (i)
            *out++ = ' ';
        *out++ = kDigits[frame.bytes[i] >> 4];
        *out++ = kDigits[frame.bytes[i] & 0x0F];
    }
    *out++ = '\t';
    for (std::uint8_t b : frame.bytes)
        *out++ = printable(b) ? static_cast<char>(b) : '.';
    line += '\t';
    line += decoded;
}

std::string frameLine(const Frame& frame, std::int64_t gapUs, std::string_view decoded) {
    std::string line;
    appendFrameLine(line, frame, gapUs, decoded);
    return line;
}

CaptureForm captureFormFor(std::string_view path, CaptureForm chosen, bool leftAsOffered) {
    if (!leftAsOffered)
        return chosen;
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string_view::npos || path[dot] != '.')
        return chosen;
    std::string ext(path.substr(dot + 1));
    for (char& c : ext)
        c = static_cast<char>(codec::foldCase(static_cast<unsigned char>(c)));
    for (const char* raw : {"bin", "raw", "dat"})
        if (ext == raw)
            return CaptureForm::Raw;
    for (const char* text : {"log", "txt", "csv"})
        if (ext == text)
            return CaptureForm::Text;
    return chosen;
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
