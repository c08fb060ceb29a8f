#include "logic/quicksend/matcher.h"

#include <algorithm>

#include "logic/codec/hex_list.h"
#include "logic/quicksend/escapes.h"

namespace varnok::quicksend {

std::string Matcher::setPatterns(const std::vector<Pattern>& patterns) {
    std::vector<Compiled> compiled;
    std::size_t window = 0;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        const std::string where = "pattern " + std::to_string(i + 1) + ": ";
        Compiled c;
        const Pattern& p = patterns[i];
        if (p.kind == PatternKind::Hex) {
            const codec::HexList list = codec::parseHexList(p.text);
            if (list.error != codec::HexListError::None)
                return where + "not a list of hex bytes separated by spaces";
            c.literal.assign(list.bytes.begin(), list.bytes.end());
        } else if (p.kind == PatternKind::Regex) {
            for (char16_t ch : p.text) { // the expression as typed: its own escapes
                if (ch > 0xFF)
                    return where + "a character has no single byte";
                c.literal += static_cast<char>(ch);
            }
        } else {
            const Parsed parsed = parseEscapes(p.text);
            if (!parsed.ok())
                return where + parsed.error;
            c.literal.assign(parsed.bytes.begin(), parsed.bytes.end());
        }
        if (p.kind == PatternKind::Regex) {
            try {
                c.regex.emplace(c.literal, std::regex::ECMAScript | std::regex::optimize);
            } catch (const std::regex_error& e) {
                return where + "not a regular expression (" + e.what() + ")";
            }
            c.literal.clear();
            window = kMaxWindow;
        } else if (c.literal.empty()) {
            return where + "empty";
        } else if (c.literal.size() > kMaxWindow) {
            return where + "longer than " + std::to_string(kMaxWindow) + " bytes";
        }
        window = std::max(window, c.literal.size());
        compiled.push_back(std::move(c));
    }
    patterns_ = std::move(compiled);
    window_ = window;
    reset();
    return {};
}

void Matcher::reset() {
    kept_.clear();
    base_ = 0;
    for (Compiled& c : patterns_)
        c.from = 0;
}

std::vector<std::size_t> Matcher::feed(std::span<const std::uint8_t> bytes) {
    std::vector<std::size_t> hits;
    if (patterns_.empty() || bytes.empty())
        return hits;
    const std::uint64_t oldEnd = base_ + kept_.size();
    kept_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::vector<std::pair<std::uint64_t, std::size_t>> ends; // (end position, pattern)
    for (std::size_t i = 0; i < patterns_.size(); ++i) {
        Compiled& c = patterns_[i];
        std::uint64_t start = std::max(c.from, base_);
        if (!c.regex) {
            // Only a match that reaches the new bytes is new.
            const std::uint64_t reach = c.literal.size() - 1;
            start = std::max(start, oldEnd > reach ? oldEnd - reach : 0);
            for (std::size_t at = kept_.find(c.literal, start - base_); at != std::string::npos;
                 at = kept_.find(c.literal, at + c.literal.size())) {
                c.from = base_ + at + c.literal.size();
                ends.emplace_back(c.from, i);
            }
            continue;
        }
        auto it = kept_.cbegin() + static_cast<std::ptrdiff_t>(start - base_);
        std::smatch m;
        while (std::regex_search(it, kept_.cend(), m, *c.regex,
                                 it == kept_.cbegin() ? std::regex_constants::match_default
                                                      : std::regex_constants::match_prev_avail)) {
            if (m.length(0) == 0) { // an empty match says nothing arrived; look further on
                if (m[0].second == kept_.cend())
                    break;
                it = m[0].second + 1;
                continue;
            }
            const std::uint64_t end =
                base_ + static_cast<std::uint64_t>(m[0].second - kept_.cbegin());
            c.from = end;
            if (end > oldEnd) // a match wholly in old bytes was told before
                ends.emplace_back(end, i);
            it = m[0].second;
        }
    }
    std::stable_sort(ends.begin(), ends.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& e : ends)
        hits.push_back(e.second);
    if (kept_.size() > window_) {
        const std::size_t drop = kept_.size() - window_;
        kept_.erase(0, drop);
        base_ += drop;
    }
    return hits;
}

bool RateLimit::allow(std::int64_t nowMs) {
    while (!times_.empty() && times_.front() <= nowMs - 1000)
        times_.pop_front();
    if (static_cast<int>(times_.size()) >= limit_)
        return false;
    times_.push_back(nowMs);
    return true;
}

} // namespace varnok::quicksend
