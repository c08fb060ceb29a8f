#include "logic/quicksend/escapes.h"

#include "logic/codec/hex_digit.h"

namespace varnok::quicksend {

namespace {

using codec::hexDigitValue;

Parsed failed(std::size_t index, const std::string& why) {
    return {{}, "character " + std::to_string(index + 1) + ": " + why};
}

} // namespace

Parsed parseEscapes(std::u16string_view text) {
    Parsed out;
    out.bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c != u'\\') {
            if (c > 0xFF)
                return failed(i, "U+" +
                                     hexText({static_cast<std::uint8_t>(c >> 8),
                                              static_cast<std::uint8_t>(c & 0xFF)})
                                         .erase(2, 1) + // "00 E9" -> "00E9"
                                     " has no single byte (write it as \\xHH bytes)");
            out.bytes.push_back(static_cast<std::uint8_t>(c));
            continue;
        }
        if (i + 1 >= text.size())
            return failed(i, "a lone \\ at the end (write \\\\ for a backslash)");
        switch (text[++i]) {
        case u'r':
            out.bytes.push_back('\r');
            break;
        case u'n':
            out.bytes.push_back('\n');
            break;
        case u't':
            out.bytes.push_back('\t');
            break;
        case u'\\':
            out.bytes.push_back('\\');
            break;
        case u'x': {
            const int hi = i + 1 < text.size() ? hexDigitValue(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? hexDigitValue(text[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return failed(i - 1, "\\x needs two hex digits");
            out.bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
            i += 2;
            break;
        }
        default:
            return failed(i - 1, "unknown escape (\\r \\n \\t \\\\ \\xHH are known)");
        }
    }
    return out;
}

std::string hexText(const std::vector<std::uint8_t>& bytes) {
    std::string s(bytes.size() * 3, ' ');
    codec::putHexBytes(s.data(), bytes.data(), bytes.size());
    if (!s.empty())
        s.pop_back(); // no blank after the last
    return s;
}

} // namespace varnok::quicksend
