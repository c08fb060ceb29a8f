#pragma once
// The hexadecimal byte list ("1 3 0 0 0 1") and the RTU request frame built from it.
#include <cstdint>
#include <string_view>
#include <vector>

namespace varnok::modbus {

// Largest number of values a list may hold (counts are 16-bit signed).
inline constexpr int kMaxListValues = 32766;

struct RtuFrame {
    int count = 0;                   // number of values in the list (RTU_Count)
    std::vector<std::uint8_t> frame; // count request bytes, then CRC_Hi, CRC_Lo (RTU_Frame)
};

// Parses the list and appends the CRC. Values are separated by runs of spaces only.
// Throws varnok::TypeMismatch for a token that is not hexadecimal digits (0x01, G1, a tab,
// a line break) and varnok::Overflow for a value above FF or a list longer than
// kMaxListValues, checked before any value is converted. Characters are UTF-16 units.
RtuFrame Build_RTU_Frame(std::u16string_view text);

} // namespace varnok::modbus
