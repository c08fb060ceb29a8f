#pragma once
// Hexadecimal digits: read from typed text (either case), and bytes written as them.
#include <cstddef>
#include <cstdint>

namespace varnok::codec {

// The digit's value 0-15, or -1 when the character is not a hexadecimal digit.
constexpr int hexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

// Each byte as two upper-case digits and a blank at `out`, three characters a byte: 01 0A FF
// -> "01 0A FF ". Past the last blank is returned.
inline char* putHexBytes(char* out, const std::uint8_t* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < size; ++i, out += 3) {
        out[0] = kDigits[data[i] >> 4];
        out[1] = kDigits[data[i] & 0x0F];
        out[2] = ' ';
    }
    return out;
}

} // namespace varnok::codec
