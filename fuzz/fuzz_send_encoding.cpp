// One press of the send button: the send text, the end-of-string choice and the "Def" field.
// Input: a flag byte (bit 0 ASCII mode, bit 1 UTF-16 byte pairs, bits 2..7 pick the
// end-of-string), a byte giving the Def field's length in units, the Def field, the send text.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "logic/codec/hex_list.h"
#include "logic/codec/send_encoding.h"
#include "logic/failure.h"

using namespace varnok;
using namespace varnok::codec;

namespace {

bool allHex(std::u16string_view s) {
    for (char16_t c : s)
        if (!fuzz::isHexDigit(c))
            return false;
    return true;
}

// The first character past Latin-1, a surrogate pair as one code point; 0 when there is none.
char32_t firstUnencodable(std::u16string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char16_t c = s[i];
        if (c <= 0xFF)
            continue;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF)
            return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (s[i + 1] - 0xDC00);
        return c;
    }
    return 0;
}

bool blankOnly(std::u16string_view s) {
    return s.find_first_not_of(u' ') == std::u16string_view::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const auto flags = in.take<std::uint8_t>();
    const bool ascii = flags & 1;
    const bool wide = flags & 2;
    const auto eos = static_cast<EndOfString>((flags >> 2) % 6);
    const std::u16string def = in.takeText(in.take<std::uint8_t>(), wide);
    const std::u16string text = in.restText(wide);

    const bool defUsed = eos == EndOfString::Def;
    const std::u16string sendData = text + std::u16string(endOfStringChars(eos));

    SendEncoding e;
    try {
        e = encodeSend(ascii, text, eos, def);
    } catch (const DefFieldFailure& f) {
        FUZZ_CHECK(defUsed && !allHex(def));
        FUZZ_CHECK(f.number() == 1001);
        return 0;
    } catch (const UnencodableCharacter& f) {
        FUZZ_CHECK(!(defUsed && !allHex(def)));
        FUZZ_CHECK(ascii);
        FUZZ_CHECK(f.character() != 0 && f.character() == firstUnencodable(sendData));
        return 0;
    }
    FUZZ_CHECK(!(defUsed && !allHex(def)));
    FUZZ_CHECK(e.sendData == sendData);

    // The Def field: one byte per pair of digits, an odd last digit alone.
    std::vector<std::uint8_t> defBytes;
    if (defUsed) {
        defBytes = decodeDefField(def);
        FUZZ_CHECK(defBytes.size() == (def.size() + 1) / 2);
        for (std::size_t i = 0; i < defBytes.size(); ++i) {
            const std::size_t at = 2 * i;
            const int want = at + 1 < def.size()
                                 ? fuzz::hexValue(def[at]) * 16 + fuzz::hexValue(def[at + 1])
                                 : fuzz::hexValue(def[at]);
            FUZZ_CHECK(defBytes[i] == want);
        }
    }
    FUZZ_CHECK(e.countedLength == static_cast<std::int32_t>(sendData.size() + defBytes.size()));

    if (ascii) {
        FUZZ_CHECK(firstUnencodable(sendData) == 0);
        FUZZ_CHECK(e.listError == HexListError::None);
        FUZZ_CHECK(e.shownCount == e.countedLength);
        // The send text as Latin-1 first, then the Def bytes; no empty write.
        std::vector<std::vector<std::uint8_t>> want;
        if (!sendData.empty())
            want.emplace_back(sendData.begin(), sendData.end());
        if (!defBytes.empty())
            want.push_back(defBytes);
        FUZZ_CHECK(e.writes == want);
        std::size_t total = 0;
        for (const auto& w : e.writes)
            total += w.size();
        FUZZ_CHECK(total == static_cast<std::size_t>(e.countedLength));
        return 0;
    }

    // Binary mode: the list's bytes only, never the Def bytes nor a CRC.
    const HexList list = parseHexList(text);
    FUZZ_CHECK(e.listError == list.error);
    if (list.error != HexListError::None || blankOnly(text)) {
        FUZZ_CHECK(e.writes.empty());
        FUZZ_CHECK(e.shownCount == e.countedLength);
        return 0;
    }
    FUZZ_CHECK(e.writes.size() == 1);
    FUZZ_CHECK(e.writes[0] == list.bytes);
    FUZZ_CHECK(e.shownCount == static_cast<std::int32_t>(sendData.size() / 3 + 1));
    return 0;
}
