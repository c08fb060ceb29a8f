#include "logic/monitor/frame_text.h"

#include "logic/codec/case_fold.h"
#include "logic/codec/hex_digit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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

// The digits of 0 <= v < 10^width, zero-padded, at `out`; past the last one is returned.
char* putDigits(char* out, std::int64_t v, int width) {
    for (int i = width - 1; i >= 0; --i, v /= 10)
        out[i] = static_cast<char>('0' + v % 10);
    return out + width;
}

// "HH:MM:SS.mmm" at `out` (12 characters).
void putWallTime(char* out, std::int64_t wallMs) {
    // A capture under a flood asks for this thousands of times a second: the local time of
    // the second is worked out once per second only.
    thread_local std::int64_t cachedSecond = -1;
    thread_local char cached[9];
    const std::int64_t second = (wallMs - msPart(wallMs)) / 1000;
    if (second != cachedSecond) {
        const std::tm tm = localTm(wallMs);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.", tm.tm_hour, tm.tm_min, tm.tm_sec);
        std::memcpy(cached, buf, 9);
        cachedSecond = second;
    }
    std::memcpy(out, cached, 9);
    putDigits(out + 9, msPart(wallMs), 3);
}

} // namespace

std::string wallTimeText(std::int64_t wallMs) {
    std::string s(12, ' ');
    putWallTime(s.data(), wallMs);
    return s;
}

std::string dottedText(std::span<const std::uint8_t> bytes) {
    std::string s;
    for (std::uint8_t b : bytes)
        s += printable(b) ? static_cast<char>(b) : '.';
    return s;
}

std::string_view directionText(Direction direction, const SideNames& sides) {
    switch (direction) {
    case Direction::Tx:
        return sides.bridge && !sides.b.empty() ? std::string_view(sides.b) : "TX";
    case Direction::Rx:
        return sides.a.empty() ? "RX" : std::string_view(sides.a);
    case Direction::RxB:
        return sides.b.empty() ? "RX B" : std::string_view(sides.b);
    }
    return "RX";
}

void appendFrameLine(std::string& line, const Frame& frame, std::int64_t gapUs,
                     std::string_view decoded, const SideNames& sides) {
    // Built in place, without printf: under a flood this runs for every frame of a text-log
    // capture, and formatting cost more than writing the file.
    const std::size_t n = frame.bytes.size();
    const std::size_t at = line.size();
    const std::string_view dir = directionText(frame.direction, sides);
    // Room for the time, the gap (up to 20 characters), direction, length, tabs, hex, text.
    line.resize(at + 64 + dir.size() + 4 * n);
    char* const begin = line.data() + at;
    char* out = begin;
    putWallTime(out, frame.wallMs);
    out += 12;
    *out++ = '\t';
    if (gapUs >= 0) { // milliseconds with three decimals, as "%.3f" gives them
        const std::string ms = std::to_string(gapUs / 1000);
        out = std::copy(ms.begin(), ms.end(), out);
        *out++ = '.';
        out = putDigits(out, gapUs % 1000, 3);
    }
    *out++ = '\t';
    out = std::copy(dir.begin(), dir.end(), out);
    *out++ = '\t';
    const std::string count = std::to_string(n);
    out = std::copy(count.begin(), count.end(), out);
    *out++ = '\t';
    // Through a local pointer: the compiler cannot tell the bytes from the text written.
    const std::uint8_t* const bytes = frame.bytes.data();
    out = codec::putHexBytes(out, bytes, n);
    if (n) // the last blank becomes the tab
        out[-1] = '\t';
    else
        *out++ = '\t';
    for (std::size_t i = 0; i < n; ++i)
        out[i] = printable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
    out += n;
    *out++ = '\t';
    line.resize(at + static_cast<std::size_t>(out - begin));
    line += decoded;
}

std::string frameLine(const Frame& frame, std::int64_t gapUs, std::string_view decoded,
                      const SideNames& sides) {
    std::string line;
    appendFrameLine(line, frame, gapUs, decoded, sides);
    return line;
}

std::string markText(std::string_view text) {
    std::string s(text);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return s;
}

std::string markLine(std::int64_t wallMs, std::string_view text) {
    return "# mark " + wallTimeText(wallMs) + ' ' + markText(text);
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

std::string captureHeader(std::int64_t wallMs, std::string_view port) {
    const std::tm tm = localTm(wallMs);
    char buf[64];
    std::strftime(buf, sizeof buf, "# capture %Y-%m-%d %H:%M:%S UTC%z", &tm);
    std::string head = buf;
    if (!port.empty())
        head.append(" on ").append(port);
    return head + "\ttime\tgap ms\tdir\tlen\thex\ttext\tdecoded";
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
