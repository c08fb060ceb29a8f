#include "logic/codec/send_encoding.h"

#include <cstdio>
#include <limits>

#include "logic/codec/hex_digit.h"

namespace varnok::codec {
namespace {

constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();

std::string toUtf8(char32_t c) {
    // A lone surrogate has no UTF-8 form; the message shows the replacement character instead.
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        c = 0xFFFD;
    }
    std::string out;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return out;
}

std::string unencodableDescription(char32_t c) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
    return "Character \"" + toUtf8(c) + "\" (" + code +
           ") cannot be sent: only Latin-1 characters (U+0000 to U+00FF) can.";
}

// The code point starting at text[i]; a surrogate pair is one character.
char32_t codePointAt(std::u16string_view text, std::size_t i) {
    const char16_t hi = text[i];
    if (hi >= 0xD800 && hi <= 0xDBFF && i + 1 < text.size()) {
        const char16_t lo = text[i + 1];
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
            return 0x10000 + ((static_cast<char32_t>(hi) - 0xD800) << 10) + (lo - 0xDC00);
        }
    }
    return hi;
}

} // namespace

UnencodableCharacter::UnencodableCharacter(char32_t ch)
    : Failure(1002, unencodableDescription(ch)), ch_(ch) {}

std::u16string_view endOfStringChars(EndOfString eos) {
    switch (eos) {
    case EndOfString::CR:
        return u"\r";
    case EndOfString::LF:
        return u"\n";
    case EndOfString::LFCR:
        return u"\n\r";
    case EndOfString::CRLF:
        return u"\r\n";
    case EndOfString::None:
    case EndOfString::Def:
        break;
    }
    return {};
}

std::vector<std::uint8_t> decodeDefField(std::u16string_view defText) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve((defText.size() + 1) / 2);
    for (std::size_t i = 0; i < defText.size(); i += 2) {
        const int high = hexDigitValue(defText[i]);
        if (high < 0) {
            throw DefFieldFailure();
        }
        if (i + 1 == defText.size()) {
            // Odd length: the last digit stands alone ("ABC" ends in 0C).
            bytes.push_back(static_cast<std::uint8_t>(high));
            break;
        }
        const int low = hexDigitValue(defText[i + 1]);
        if (low < 0) {
            throw DefFieldFailure();
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

SendEncoding encodeSend(bool asciiMode, std::u16string_view text, EndOfString eos,
                        std::u16string_view defText) {
    SendEncoding result;
    result.sendData.reserve(text.size() + 2);
    result.sendData.append(text);
    result.sendData.append(endOfStringChars(eos));

    std::vector<std::uint8_t> defBytes;
    if (eos == EndOfString::Def) {
        // Decoded in binary mode too: a bad Def field fails even though it is never written.
        defBytes = decodeDefField(defText);
    }
    const auto counted = static_cast<std::int64_t>(result.sendData.size()) +
                         static_cast<std::int64_t>(defBytes.size());
    if (counted > kInt32Max) {
        throw Overflow();
    }

    if (asciiMode) {
        std::vector<std::uint8_t> bytes;
        bytes.reserve(result.sendData.size());
        for (std::size_t i = 0; i < result.sendData.size(); ++i) {
            const char16_t c = result.sendData[i];
            if (c > 0xFF) {
                throw UnencodableCharacter(codePointAt(result.sendData, i));
            }
            bytes.push_back(static_cast<std::uint8_t>(c));
        }
        result.countedLength = static_cast<std::int32_t>(counted);
        result.shownCount = result.countedLength;
        if (!bytes.empty()) {
            result.writes.push_back(std::move(bytes));
        }
        if (!defBytes.empty()) {
            result.writes.push_back(std::move(defBytes));
        }
        return result;
    }

    // Binary mode: the counters apply before the list is parsed, so a bad list still counts.
    result.countedLength = static_cast<std::int32_t>(counted);
    result.shownCount = result.countedLength;
    // The typed bytes alone: a send carries no CRC, and a blank list writes nothing.
    HexList list = parseHexList(text);
    result.listError = list.error;
    if (list.error != HexListError::None || list.bytes.empty()) {
        return result;
    }
    result.writes.push_back(std::move(list.bytes));
    result.shownCount = static_cast<std::int32_t>(result.sendData.size() / 3 + 1);
    return result;
}

std::int32_t addToCounter(std::u16string_view counterText, std::int32_t count) {
    auto isBlank = [](char16_t c) { return c == u' ' || c == u'\t'; };
    std::size_t b = 0;
    std::size_t e = counterText.size();
    while (b < e && isBlank(counterText[b])) {
        ++b;
    }
    while (e > b && isBlank(counterText[e - 1])) {
        --e;
    }
    bool negative = false;
    if (b < e && (counterText[b] == u'+' || counterText[b] == u'-')) {
        negative = counterText[b] == u'-';
        ++b;
    }
    if (b == e) {
        return count;
    }
    std::int64_t value = 0;
    for (std::size_t i = b; i < e; ++i) {
        const char16_t c = counterText[i];
        if (c < u'0' || c > u'9') {
            return count;
        }
        value = value * 10 + (c - u'0');
        if (value > kInt32Max + 1) {
            return count; // far past 32 bits: no sum of it can fit
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > kInt32Max || value < kInt32Min) {
        return count;
    }
    const std::int64_t sum = value + count;
    if (sum > kInt32Max || sum < kInt32Min) {
        return count;
    }
    return static_cast<std::int32_t>(sum);
}

} // namespace varnok::codec
