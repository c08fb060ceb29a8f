#pragma once
// The typed list of hexadecimal byte values ("1 3 0 0 0 1"): its bytes, or why it has none.
#include <cstdint>
#include <string_view>
#include <vector>

namespace varnok::codec {

// Largest number of values a list may hold (counts are 16-bit signed).
inline constexpr int kMaxListValues = 32766;

enum class HexListError { None, NotHex, ValueTooBig, TooManyValues };

struct HexList {
    std::vector<std::uint8_t> bytes; // the values, in order (empty on error)
    HexListError error = HexListError::None;
};

// Values of one or more hex digits, either case, separated by runs of spaces only (a tab or a
// line break belongs to the token, so it is NotHex). Leading zeros do not count: "000F" is 0F.
// A token with any other character is NotHex even when it is also too big ("G100"); the
// first failing token decides. More than kMaxListValues tokens is TooManyValues whatever they
// hold. An empty or blank-only text is an empty list. Characters are UTF-16 units.
HexList parseHexList(std::u16string_view text);

} // namespace varnok::codec
