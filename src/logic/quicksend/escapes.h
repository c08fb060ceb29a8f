#pragma once
// Text typed with escapes ("AT\r\n", "\x02data\x03") as the bytes it stands for.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnok::quicksend {

struct Parsed {
    std::vector<std::uint8_t> bytes; // empty on error
    std::string error;               // "" when the text is good; else why, with the position
    bool ok() const { return error.empty(); }
};

// \r \n \t \\ and \xHH (exactly two hex digits, either case) stand for their byte; every other
// character is its Latin-1 byte. A character past Latin-1, an unknown escape or a cut-off one
// is an error naming the character's position (1-based, in UTF-16 units).
Parsed parseEscapes(std::u16string_view text);

// The bytes as the hex list the user reads beside an entry ("01 03 0A").
std::string hexText(const std::vector<std::uint8_t>& bytes);

} // namespace varnok::quicksend
