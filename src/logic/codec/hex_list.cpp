#include "logic/codec/hex_list.h"

#include "logic/codec/hex_digit.h"

namespace varnok::codec {
namespace {

// Calls f(token) for each space-separated token, left to right, until f returns false.
template <typename F> void forEachToken(std::u16string_view text, F&& f) {
    std::size_t pos = 0;
    const std::size_t n = text.size();
    while (pos < n) {
        while (pos < n && text[pos] == u' ')
            ++pos;
        if (pos == n)
            return;
        std::size_t end = text.find(u' ', pos);
        if (end == std::u16string_view::npos)
            end = n;
        if (!f(text.substr(pos, end - pos)))
            return;
        pos = end;
    }
}

// All digits are checked before the value, so "G100" is NotHex rather than ValueTooBig.
HexListError convert(std::u16string_view token, std::uint8_t& out) {
    for (char16_t c : token)
        if (hexDigitValue(c) < 0)
            return HexListError::NotHex;
    unsigned value = 0;
    for (char16_t c : token) {
        value = value * 16 + static_cast<unsigned>(hexDigitValue(c));
        if (value > 0xFF)
            return HexListError::ValueTooBig;
    }
    out = static_cast<std::uint8_t>(value);
    return HexListError::None;
}

constexpr std::size_t kMaxValues = kMaxListValues;

} // namespace

HexList parseHexList(std::u16string_view text) {
    HexList list;
    std::size_t count = 0;
    forEachToken(text, [&](std::u16string_view) { return ++count <= kMaxValues; });
    // An over-long list is refused before any value is looked at.
    if (count > kMaxValues) {
        list.error = HexListError::TooManyValues;
        return list;
    }
    list.bytes.reserve(count);
    forEachToken(text, [&](std::u16string_view token) {
        std::uint8_t value = 0;
        list.error = convert(token, value);
        list.bytes.push_back(value);
        return list.error == HexListError::None;
    });
    if (list.error != HexListError::None)
        list.bytes.clear();
    return list;
}

} // namespace varnok::codec
