#include "logic/modbus/rtu_frame.h"

#include "logic/failure.h"
#include "logic/codec/hex_digit.h"
#include "logic/modbus/crc16.h"

namespace varnok::modbus {

namespace {

// A token is all hex digits or a type mismatch; only then does its value matter, so
// "G100" is a mismatch, not an overflow. Leading zeros never count towards the range.
std::uint8_t convertValue(std::u16string_view token) {
    unsigned value = 0;
    for (char16_t c : token)
        if (codec::hexDigitValue(c) < 0)
            throw TypeMismatch();
    for (char16_t c : token) {
        value = value * 16 + static_cast<unsigned>(codec::hexDigitValue(c));
        if (value > 0xFF)
            throw Overflow();
    }
    return static_cast<std::uint8_t>(value);
}

// Calls f(token) for each space-separated token, left to right.
template <typename F> void forEachToken(std::u16string_view text, F&& f) {
    std::size_t pos = 0;
    const std::size_t n = text.size();
    while (pos < n) {
        while (pos < n && text[pos] == u' ')
            ++pos;
        if (pos == n)
            break;
        std::size_t end = text.find(u' ', pos);
        if (end == std::u16string_view::npos)
            end = n;
        f(text.substr(pos, end - pos));
        pos = end;
    }
}

} // namespace

RtuFrame Build_RTU_Frame(std::u16string_view text) {
    RtuFrame result;
    forEachToken(text, [&](std::u16string_view) { ++result.count; });
    // Refuse an over-long list before converting anything, so nothing half-built is sent.
    if (result.count > kMaxListValues)
        throw Overflow();

    result.frame.assign(static_cast<std::size_t>(result.count) + 2, 0);
    std::size_t i = 0;
    forEachToken(text, [&](std::u16string_view token) { result.frame[i++] = convertValue(token); });

    const CrcRegisters crc = Calc_CRC16(result.frame.data(), result.count);
    result.frame[i] = crc.hi;
    result.frame[i + 1] = crc.lo;
    return result;
}

} // namespace varnok::modbus
