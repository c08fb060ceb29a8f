// The delimiter-driven scanner of the device console's reply.
// Input: kind, count and start as signed bytes, a byte whose value mod 3 is the delimiter's
// length, the delimiter, then the reply text.
#include <algorithm>
#include <climits>
#include <string>

#include "logic/codec/case_fold.h"
#include "fuzz_check.h"
#include "logic/netsetting/extract_tokens.h"

using namespace varnok::netsetting;

namespace {

bool digits(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool letters(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

char16_t folded(char c) {
    return varnok::codec::foldCase(static_cast<unsigned char>(c));
}

// Whether value stands in the text right after a delimiter, as the whole run there.
bool followsDelimiter(const std::string& text, char16_t d, const std::string& value,
                      bool (*inClass)(char)) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (folded(text[i]) != d || text.compare(i + 1, value.size(), value) != 0)
            continue;
        const std::size_t end = i + 1 + value.size();
        if (end == text.size() || !inClass(text[end]))
            return true;
    }
    return false;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    varnok::fuzz::Input in(data, size);
    const int kind = in.take<std::int8_t>();
    const int count = in.take<std::int8_t>();
    const int start = in.take<std::int8_t>();
    const std::string delim = in.takeBytes(in.take<std::uint8_t>() % 3);
    const std::string text = in.rest();

    const TokenSlots slots = Extract_Tokens(text, start, delim, count, kind);

    // The slots that are set form an unbroken run from slot 0.
    std::size_t set = 0;
    while (set < slots.size() && slots[set])
        ++set;
    for (std::size_t i = set; i < slots.size(); ++i)
        FUZZ_CHECK(!slots[i]);
    if (delim.empty() || kind < 0 || kind > 2) {
        FUZZ_CHECK(set == 0);
        return 0;
    }

    const char16_t d = folded(delim.front());
    const auto occurrences = static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [d](char c) { return folded(c) == d; }));
    const std::size_t processed =
        std::min(occurrences, count > 0 ? static_cast<std::size_t>(count) : SIZE_MAX);

    if (kind == 0) {
        // Whole groups of four, digits only: the dots are where the parts were split.
        FUZZ_CHECK(set % 4 == 0);
        FUZZ_CHECK(set / 4 <= processed);
        for (std::size_t i = 0; i < set; ++i)
            FUZZ_CHECK(digits(*slots[i]));
        if (start <= 1)
            FUZZ_CHECK(set == 4 * std::min<std::size_t>(3, processed));
        return 0;
    }

    FUZZ_CHECK(set <= processed);
    for (std::size_t i = 0; i < set; ++i) {
        FUZZ_CHECK(kind == 1 ? digits(*slots[i]) : letters(*slots[i]));
        FUZZ_CHECK(followsDelimiter(text, d, *slots[i], kind == 1 ? isDigit : isLetter));
    }
    // From the first character on, every occurrence is found until the slots run out.
    if (start <= 1)
        FUZZ_CHECK(set == std::min<std::size_t>(12, processed));
    return 0;
}
