#pragma once
// One frame as a line of text for the table, the clipboard and the capture file.
#include "logic/monitor/frame_splitter.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace varnok::monitor {

// Local time HH:MM:SS.mmm of a wall-clock time in ms since the epoch; the zone is the
// process's own (localtime_r, so TZ applies).
std::string wallTimeText(std::int64_t wallMs);

// Printable ASCII as it is, every other byte as a dot.
std::string dottedText(std::span<const std::uint8_t> bytes);

// What the text line calls each side instead of TX/RX: Rx as `a`, RxB as `b`, and in a
// bridge Tx (what B received, written to A) as `b`. Empty names keep TX/RX.
struct SideNames {
    std::string a;
    std::string b;
    bool bridge = false;
};

// "TX", "RX", "RX B", or the side's name.
std::string_view directionText(Direction direction, const SideNames& sides = {});

// Tab-separated: time, the gap in ms since the previous frame's last byte (empty when gapUs is
// below 0: there was none), TX/RX, length, hex bytes, text, decoded.
std::string frameLine(const Frame& frame, std::int64_t gapUs, std::string_view decoded,
                      const SideNames& sides = {});

// frameLine's text appended to `out`, whose memory a capture keeps from frame to frame.
void appendFrameLine(std::string& out, const Frame& frame, std::int64_t gapUs,
                     std::string_view decoded, const SideNames& sides = {});

// What a script's mark reads in a row and a line: control characters (a tab, a line break)
// become blanks, so it stays one cell and one line.
std::string markText(std::string_view text);

// A mark as the text capture writes it, a comment line as its header is, so that readers
// skipping "#" lines read the frames alone: "# mark HH:MM:SS.mmm text".
std::string markLine(std::int64_t wallMs, std::string_view text);

enum class CaptureForm {
    Text, // a header line, then one line per frame as the table shows it
    Raw,  // the received bytes exactly as they arrived
};

// The form of a capture file: the type chosen in the file dialog, unless the user left the
// type as offered; then the name's extension decides (.bin .raw .dat raw, .log .txt .csv
// text; any other keeps the type offered).
CaptureForm captureFormFor(std::string_view path, CaptureForm chosen, bool leftAsOffered);

// The capture file's first line: the local date and time of the start, the UTC offset, the
// port it runs on when given ("on modbus-tcp://127.0.0.1:1502") and the column names.
std::string captureHeader(std::int64_t wallMs, std::string_view port = {});

// {0x01, 0x03} - for pasting into C or C++.
std::string cArrayText(std::span<const std::uint8_t> bytes);

// b'\x01\x03A' - printable ASCII kept, quote and backslash escaped, the rest as \xhh.
std::string pythonBytesText(std::span<const std::uint8_t> bytes);

} // namespace varnok::monitor
