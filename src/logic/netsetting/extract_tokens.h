#pragma once
// The delimiter-driven scanner that pulls dotted values out of a console reply.
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace varnok::netsetting {

using TokenSlots = std::array<std::optional<std::string>, 12>; // nullopt = unset slot

// The kinds of run a delimiter is followed by (not Modbus codes: character classes).
inline constexpr int kDottedQuad = 0; // digits and dots, split into four parts
inline constexpr int kDigits = 1;
inline constexpr int kLetters = 2;

// text: the reply (one char per received byte, Latin-1); start: 1-based position where every
// delimiter search begins; delim: one character, found regardless of letter case;
// count: most delimiter occurrences processed; kind: 0 dotted quad, 1 digits, 2 letters,
// anything else fills nothing. Never throws; any text length and count are handled.
// start < 1 counts as 1; only delim's first character is used, and an empty delim finds
// nothing. Occurrences are processed until count of them are done, so count <= 0 processes
// every occurrence; slots past 11 are never written (kind 0 puts every occurrence from the
// third on into slots 8..11, the last one processed wins). A reply ending right after a
// delimiter gives an empty run: "" for kinds 1 and 2, four "" for kind 0.
TokenSlots Extract_Tokens(std::string_view text, int start, std::string_view delim, int count,
                          int kind);

} // namespace varnok::netsetting
