#include "logic/netsetting/extract_tokens.h"

#include <cstddef>
#include <cstdint>

#include "logic/codec/case_fold.h"

namespace varnok::netsetting {
namespace {

constexpr std::size_t npos = std::string_view::npos;

char16_t folded(char c) {
    return codec::foldCase(static_cast<unsigned char>(c));
}

bool inClass(int kind, char c) {
    const auto u = static_cast<unsigned char>(c);
    const bool digit = u >= '0' && u <= '9';
    switch (kind) {
    case kDottedQuad:
        return digit || u == '.';
    case kDigits:
        return digit;
    case kLetters:
        return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z');
    default:
        return false;
    }
}

// The run of class characters at text[from..]; empty when the text ends right there.
std::string_view runAt(std::string_view text, std::size_t from, int kind) {
    std::size_t end = from;
    while (end < text.size() && inClass(kind, text[end])) {
        ++end;
    }
    return text.substr(from, end - from);
}

// Four parts split at '.': a part missing its dot repeats the rest ("10.7" -> 10 7 7 7).
void fillDotted(TokenSlots& slots, std::size_t group, std::string_view run) {
    for (std::size_t j = 0; j < 4; ++j) {
        const std::size_t q = run.find('.');
        if (q == npos) {
            slots[group + j] = std::string(run);
        } else {
            slots[group + j] = std::string(run.substr(0, q));
            run.remove_prefix(q + 1);
        }
    }
}

} // namespace

TokenSlots Extract_Tokens(std::string_view text, int start, std::string_view delim, int count,
                          int kind) {
    TokenSlots slots{};
    if (delim.empty() || kind < kDottedQuad || kind > kLetters) {
        return slots;
    }
    const char16_t d = folded(delim.front());
    // Every search starts start-1 characters into what is left of the text.
    const std::size_t skip = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    std::size_t offset = 0; // the remainder is text[offset..]

    auto findDelim = [&]() -> std::size_t {
        if (skip >= text.size() - offset) {
            return npos;
        }
        for (std::size_t i = offset + skip; i < text.size(); ++i) {
            if (folded(text[i]) == d) {
                return i;
            }
        }
        return npos;
    };

    // Occurrences from the third on all land in slots 8..11, so only the last one's run is
    // read; this keeps a scan over a long reply linear.
    std::size_t lastGroupRun = npos;
    std::int64_t k = 0;
    for (std::size_t p = findDelim(); p != npos; p = findDelim()) {
        offset = p + 1;
        if (kind == kDottedQuad) {
            if (k < 2) {
                fillDotted(slots, static_cast<std::size_t>(k) * 4, runAt(text, offset, kind));
            } else {
                lastGroupRun = offset;
            }
        } else {
            if (k >= static_cast<std::int64_t>(slots.size())) {
                break; // no slot left to fill; later occurrences change nothing
            }
            slots[static_cast<std::size_t>(k)] = std::string(runAt(text, offset, kind));
        }
        ++k;
        // A count of 0 or less is never reached: every occurrence is processed.
        if (k == count) {
            break;
        }
    }
    if (lastGroupRun != npos) {
        fillDotted(slots, 8, runAt(text, lastGroupRun, kind));
    }
    return slots;
}

} // namespace varnok::netsetting
