#pragma once
// Patterns looked for in what arrives, read by read: a pattern split over two reads still
// matches, and only a bounded look-back of the stream is kept.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <regex>
#include <span>
#include <string>
#include <vector>

namespace varnok::quicksend {

enum class PatternKind { Text, Hex, Regex };

struct Pattern {
    PatternKind kind = PatternKind::Text;
    std::u16string text; // escapes for Text, a hex list for Hex, ECMAScript syntax for Regex
    bool operator==(const Pattern&) const = default;
};

class Matcher {
  public:
    // The most of the stream kept to look back over; a regular expression sees this much.
    static constexpr std::size_t kMaxWindow = 4096;

    // Replaces the patterns and forgets the stream. "" or why one is refused ("pattern 2: ...").
    std::string setPatterns(const std::vector<Pattern>& patterns);
    // The next bytes of the stream; returns the index of each pattern matched, once for each
    // match that ends in these bytes, in the order they end.
    std::vector<std::size_t> feed(std::span<const std::uint8_t> bytes);
    void reset(); // the stream starts over
    std::size_t window() const { return window_; }

  private:
    struct Compiled {
        std::string literal; // Text and Hex
        std::optional<std::regex> regex;
        std::uint64_t from = 0; // a match may start here or later (stream position)
    };
    std::vector<Compiled> patterns_;
    std::size_t window_ = 0;
    std::string kept_;       // the last bytes of the stream, at most window_
    std::uint64_t base_ = 0; // stream position of kept_[0]
};

// At most `perSecond` firings within any one second: an answer that its device echoes back
// would otherwise fire without end.
class RateLimit {
  public:
    static constexpr int kDefaultPerSecond = 50;
    explicit RateLimit(int perSecond = kDefaultPerSecond) : limit_(perSecond) {}
    // A firing at `nowMs`: true when it is within the limit (and counted), false when it
    // would be one too many in the second that ends now.
    bool allow(std::int64_t nowMs);
    void reset() { times_.clear(); }

  private:
    int limit_;
    std::deque<std::int64_t> times_; // the firings of the last second
};

} // namespace varnok::quicksend
