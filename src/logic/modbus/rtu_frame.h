#pragma once
// The RTU request frame built from the typed hexadecimal byte list ("1 3 0 0 0 1").
#include <cstdint>
#include <string_view>
#include <vector>

#include "logic/codec/hex_list.h"

namespace varnok::modbus {

// Largest number of values a list may hold (counts are 16-bit signed).
using codec::kMaxListValues;

struct RtuFrame {
    int count = 0;                   // number of values in the list (RTU_Count)
    std::vector<std::uint8_t> frame; // count request bytes, then CRC_Hi, CRC_Lo (RTU_Frame)
};

// An RTU frame as the Modbus RTU standard lays it out: the typed bytes (address, function code,
// data) followed by their CRC-16, low-order byte first (see CrcRegisters).
// The list is read by codec::parseHexList. Throws varnok::TypeMismatch for a token that is
// not hexadecimal digits (0x01, G1, a tab, a line break) and varnok::Overflow for a value
// above FF or a list longer than kMaxListValues.
RtuFrame Build_RTU_Frame(std::u16string_view text);

} // namespace varnok::modbus
