#pragma once
// A stored send: its data as text with escapes or as a hex list, an end of string and a
// checksum over a range of the data, and the exact bytes that make.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logic/quicksend/checksum.h"

namespace varnok::quicksend {

// Script: the data is the path of a Lua script, run instead of sending bytes.
enum class DataForm { Text, Hex, Script };
enum class LineEnd { None, CR, LF, CRLF, LFCR };

struct Entry {
    std::u16string name;
    std::u16string data;
    DataForm form = DataForm::Text;
    LineEnd end = LineEnd::None;
    Checksum checksum = Checksum::None;
    int skipFirst = 0; // bytes at the front the checksum leaves out
    int skipLast = 0;  // bytes at the back the checksum leaves out
    int periodMs = 0;  // 0: sent once per press
    int key = 0;       // 1-12 for F1-F12, 0 none
    bool operator==(const Entry&) const = default;
};

// A script entry runs once per press: a script takes its own time, and one runs at a time.
inline bool repeats(const Entry& e) {
    return e.periodMs > 0 && e.form != DataForm::Script;
}

// The part of `size` bytes a checksum covers: [begin, end), or why there is none.
struct ByteRange {
    std::size_t begin = 0;
    std::size_t end = 0;
    std::string error;
};
ByteRange coveredRange(std::size_t size, int skipFirst, int skipLast);

// The most data one entry holds; bigger data goes through the file sender.
inline constexpr std::size_t kMaxEntryBytes = 64 * 1024;

struct EntryBytes {
    std::vector<std::uint8_t> bytes; // data, checksum, end of string (empty on error)
    std::string error;
    std::size_t tail = 0; // the checksum and end of string at the back of `bytes`
    bool tooBig = false;  // the error is the size: no stored send holds it
    bool ok() const { return error.empty(); }
};

// The bytes an entry sends: the data, then its checksum, then the end of string. Data past
// kMaxEntryBytes is refused before it is read through; a script entry has none.
EntryBytes entryBytes(const Entry& entry);

// What the user reads beside an entry: the bytes as hex, cut after the first `head` bytes
// ("…") but always with the checksum and end of string, and the count ("1 byte", "5 bytes").
std::string bytesPreview(const EntryBytes& bytes, std::size_t head);

// Hex lists of the main window's binary mode, one per line, for a file read as hex.
EntryBytes hexLines(std::string_view text);

} // namespace varnok::quicksend
