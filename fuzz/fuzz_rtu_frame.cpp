// The hexadecimal byte list, and the RTU frame built from it.
// Input: one flag byte (bit 0: the text is UTF-16 byte pairs, else one unit per byte), then
// the list text.
#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "logic/codec/hex_list.h"
#include "logic/failure.h"
#include "logic/modbus/crc16.h"
#include "logic/modbus/rtu_frame.h"

using namespace varnok;
using namespace varnok::modbus;
using codec::HexListError;

namespace {

std::vector<std::u16string_view> tokens(std::u16string_view text) {
    std::vector<std::u16string_view> out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == u' ') {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < text.size() && text[j] != u' ')
            ++j;
        out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

// What the list should give, worked out token by token the long way.
HexListError expected(const std::vector<std::u16string_view>& toks,
                      std::vector<std::uint8_t>& values) {
    if (toks.size() > static_cast<std::size_t>(codec::kMaxListValues))
        return HexListError::TooManyValues;
    for (auto t : toks) {
        for (char16_t c : t)
            if (!fuzz::isHexDigit(c))
                return HexListError::NotHex;
        std::size_t first = t.find_first_not_of(u'0');
        if (first == std::u16string_view::npos)
            first = t.size();
        const std::u16string_view digits = t.substr(first);
        if (digits.size() > 2)
            return HexListError::ValueTooBig;
        int v = 0;
        for (char16_t c : digits)
            v = v * 16 + fuzz::hexValue(c);
        values.push_back(static_cast<std::uint8_t>(v));
    }
    return HexListError::None;
}

std::u16string hexList(const std::uint8_t* bytes, int count) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string s;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            s.push_back(u' ');
        s.push_back(kDigits[bytes[i] >> 4]);
        s.push_back(kDigits[bytes[i] & 0x0F]);
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    const bool wide = in.take<std::uint8_t>() & 1;
    const std::u16string text = in.restText(wide);

    const auto toks = tokens(text);
    std::vector<std::uint8_t> values;
    const HexListError want = expected(toks, values);

    const codec::HexList list = codec::parseHexList(text);
    FUZZ_CHECK(list.error == want);
    FUZZ_CHECK(list.error == HexListError::None ? list.bytes == values : list.bytes.empty());

    // The frame builder refuses exactly what the parser does, with its own failure kinds.
    RtuFrame f;
    try {
        f = Build_RTU_Frame(text);
    } catch (const TypeMismatch&) {
        FUZZ_CHECK(want == HexListError::NotHex);
        return 0;
    } catch (const Overflow&) {
        FUZZ_CHECK(want == HexListError::ValueTooBig || want == HexListError::TooManyValues);
        return 0;
    }
    FUZZ_CHECK(want == HexListError::None);
    FUZZ_CHECK(f.count == static_cast<int>(toks.size()));
    FUZZ_CHECK(f.frame.size() == static_cast<std::size_t>(f.count) + 2);
    FUZZ_CHECK(std::equal(values.begin(), values.end(), f.frame.begin()));

    // A frame carrying its own CRC checks to zero.
    const CrcRegisters whole = Calc_CRC16(f.frame.data(), static_cast<int>(f.frame.size()));
    FUZZ_CHECK(whole.hi == 0 && whole.lo == 0);

    // The values written back as a two-digit list give the same frame.
    const RtuFrame again = Build_RTU_Frame(hexList(f.frame.data(), f.count));
    FUZZ_CHECK(again.count == f.count);
    FUZZ_CHECK(again.frame == f.frame);
    return 0;
}
