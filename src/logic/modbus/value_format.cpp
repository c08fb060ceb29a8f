#include "logic/modbus/value_format.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace varnok::modbus {

namespace {

struct TypeInfo {
    ValueType type;
    const char* name;
    const char* range; // for messages
    int registers;
};

constexpr TypeInfo kTypes[] = {
    {ValueType::Int16, "int16", "a 16-bit signed value (-32768 to 32767)", 1},
    {ValueType::UInt16, "uint16", "a 16-bit unsigned value (0 to 65535)", 1},
    {ValueType::Hex16, "hex16", "a 16-bit hexadecimal value (0 to FFFF)", 1},
    {ValueType::Bin16, "bin16", "a 16-bit binary value (at most 16 digits 0 or 1)", 1},
    {ValueType::Int32, "int32", "a 32-bit signed value (-2147483648 to 2147483647)", 2},
    {ValueType::UInt32, "uint32", "a 32-bit unsigned value (0 to 4294967295)", 2},
    {ValueType::Float32, "float32", "a float32 value (magnitude at most 3.40282347e+38)", 2},
    {ValueType::Int64, "int64", "a 64-bit signed value", 4},
    {ValueType::UInt64, "uint64", "a 64-bit unsigned value", 4},
    {ValueType::Float64, "double", "a double value", 4},
    {ValueType::AsciiHiFirst, "ascii AB", "two ASCII characters (\\xNN for any other byte)", 1},
    {ValueType::AsciiLoFirst, "ascii BA", "two ASCII characters (\\xNN for any other byte)", 1},
};

const TypeInfo& info(ValueType type) {
    return kTypes[static_cast<int>(type)];
}

constexpr const char* kOrderNames[] = {"ABCD", "CDAB", "BADC", "DCBA"};

bool wordsReversed(WordOrder o) {
    return o == WordOrder::CDAB || o == WordOrder::DCBA;
}
bool bytesSwapped(WordOrder o) {
    return o == WordOrder::BADC || o == WordOrder::DCBA;
}
std::uint16_t swapBytes(std::uint16_t r) {
    return static_cast<std::uint16_t>((r << 8) | (r >> 8));
}

// The value's bits, most significant register first, out of the registers as they lie.
std::uint64_t bitsOf(std::span<const std::uint16_t> regs, int n, WordOrder order) {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) {
        std::uint16_t r = regs[static_cast<std::size_t>(wordsReversed(order) ? n - 1 - i : i)];
        if (bytesSwapped(order))
            r = swapBytes(r);
        v = (v << 16) | r;
    }
    return v;
}

std::vector<std::uint16_t> registersOf(std::uint64_t v, int n, WordOrder order) {
    std::vector<std::uint16_t> regs(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        auto r = static_cast<std::uint16_t>(v >> (16 * (n - 1 - i)));
        if (bytesSwapped(order))
            r = swapBytes(r);
        regs[static_cast<std::size_t>(wordsReversed(order) ? n - 1 - i : i)] = r;
    }
    return regs;
}

std::string printFloat(double v, int digits) {
    if (std::isnan(v))
        return "NaN";
    if (std::isinf(v))
        return v < 0 ? "-inf" : "inf";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

void appendChar(std::string& out, unsigned c) {
    if (c == '\\') {
        out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
        out += static_cast<char>(c);
    } else {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", c);
        out += buf;
    }
}

[[noreturn]] void refuse(std::string_view text, ValueType type) {
    std::string quoted(text.substr(0, 40));
    if (text.size() > 40)
        quoted += "...";
    throw ValueFailure("\"" + quoted + "\" is not " + info(type).range + ".");
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

bool startsWithHexPrefix(std::string_view s) {
    return s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
}

// The whole text as a number of type T in the base, or nothing.
template <typename T> std::optional<T> whole(std::string_view s, int base = 10) {
    T v{};
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

// Signed types take decimal; unsigned ones also 0x followed by hexadecimal digits.
std::optional<std::uint64_t> parseInteger(std::string_view s, std::int64_t lo, std::uint64_t hi) {
    if (lo < 0) {
        const auto v = whole<std::int64_t>(s);
        if (!v || *v < lo || (*v > 0 && static_cast<std::uint64_t>(*v) > hi))
            return std::nullopt;
        return static_cast<std::uint64_t>(*v);
    }
    const auto v =
        startsWithHexPrefix(s) ? whole<std::uint64_t>(s.substr(2), 16) : whole<std::uint64_t>(s);
    if (!v || *v > hi)
        return std::nullopt;
    return v;
}

std::optional<std::string> parseAscii(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80)
            return std::nullopt;
        if (c != '\\') {
            out += static_cast<char>(c);
        } else if (i + 1 < s.size() && s[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
            const auto v = whole<unsigned>(s.substr(i + 2, 2), 16);
            if (!v)
                return std::nullopt;
            out += static_cast<char>(*v);
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    if (out.size() > 2)
        return std::nullopt;
    out.resize(2, '\0');
    return out;
}

} // namespace

int registerCount(ValueType type) {
    return info(type).registers;
}

bool hasOrder(ValueType type) {
    return registerCount(type) > 1;
}

std::string formatName(const ValueFormat& format) {
    std::string name = info(format.type).name;
    if (hasOrder(format.type))
        name = name + " " + kOrderNames[static_cast<int>(format.order)];
    return name;
}

std::optional<ValueFormat> parseFormatName(std::string_view name) {
    std::string lower;
    for (const char c : trimmed(name))
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    const std::size_t space = lower.find(' ');
    std::string base = lower.substr(0, space);
    std::string order = space == std::string::npos ? "" : std::string(trimmed(lower.substr(space)));
    static const std::pair<const char*, const char*> kAliases[] = {
        {"float", "float32"}, {"float64", "double"}, {"hex", "hex16"},      {"bin", "bin16"},
        {"binary", "bin16"},  {"signed", "int16"},   {"unsigned", "uint16"}};
    for (const auto& [alias, real] : kAliases)
        if (base == alias)
            base = real;
    if (base == "ascii") {
        if (order.empty() || order == "ab")
            return ValueFormat{ValueType::AsciiHiFirst};
        if (order == "ba")
            return ValueFormat{ValueType::AsciiLoFirst};
        return std::nullopt;
    }
    for (const TypeInfo& t : kTypes) {
        if (base != t.name || t.type == ValueType::AsciiHiFirst)
            continue;
        if (order.empty())
            return ValueFormat{t.type};
        if (t.registers == 1)
            return std::nullopt;
        for (int o = 0; o < 4; ++o) {
            std::string n = kOrderNames[o];
            std::transform(n.begin(), n.end(), n.begin(),
                           [](char c) { return char(c - 'A' + 'a'); });
            if (order == n)
                return ValueFormat{t.type, static_cast<WordOrder>(o)};
        }
        return std::nullopt;
    }
    return std::nullopt;
}

const std::vector<ValueFormat>& allFormats() {
    static const std::vector<ValueFormat> formats = [] {
        std::vector<ValueFormat> v;
        for (const TypeInfo& t : kTypes) {
            if (t.registers == 1)
                v.push_back({t.type});
            else
                for (int o = 0; o < 4; ++o)
                    v.push_back({t.type, static_cast<WordOrder>(o)});
        }
        return v;
    }();
    return formats;
}

std::optional<double> numericValue(const ValueFormat& format,
                                   std::span<const std::uint16_t> registers) {
    const int n = registerCount(format.type);
    if (registers.size() < static_cast<std::size_t>(n))
        return std::nullopt;
    const std::uint64_t bits = bitsOf(registers, n, format.order);
    double v = 0;
    switch (format.type) {
    case ValueType::Int16:
        v = static_cast<std::int16_t>(bits);
        break;
    case ValueType::Int32:
        v = static_cast<std::int32_t>(bits);
        break;
    case ValueType::Int64:
        v = static_cast<double>(static_cast<std::int64_t>(bits));
        break;
    case ValueType::Float32:
        v = std::bit_cast<float>(static_cast<std::uint32_t>(bits));
        break;
    case ValueType::Float64:
        v = std::bit_cast<double>(bits);
        break;
    case ValueType::AsciiHiFirst:
    case ValueType::AsciiLoFirst:
        return std::nullopt;
    default: // the unsigned ones, hex and binary
        v = static_cast<double>(bits);
    }
    if (!std::isfinite(v))
        return std::nullopt;
    return v;
}

std::string formatValue(const ValueFormat& format, std::span<const std::uint16_t> registers) {
    const int n = registerCount(format.type);
    if (registers.size() < static_cast<std::size_t>(n))
        return {};
    const std::uint64_t bits = bitsOf(registers, n, format.order);
    switch (format.type) {
    case ValueType::Int16:
        return std::to_string(static_cast<std::int16_t>(bits));
    case ValueType::UInt16:
    case ValueType::UInt32:
    case ValueType::UInt64:
        return std::to_string(bits);
    case ValueType::Hex16: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(bits));
        return buf;
    }
    case ValueType::Bin16: {
        std::string s;
        for (int b = 15; b >= 0; --b) {
            s += ((bits >> b) & 1U) ? '1' : '0';
            if (b % 4 == 0 && b > 0)
                s += ' ';
        }
        return s;
    }
    case ValueType::Int32:
        return std::to_string(static_cast<std::int32_t>(bits));
    case ValueType::Int64:
        return std::to_string(static_cast<std::int64_t>(bits));
    case ValueType::Float32:
        return printFloat(std::bit_cast<float>(static_cast<std::uint32_t>(bits)), 9);
    case ValueType::Float64:
        return printFloat(std::bit_cast<double>(bits), 17);
    case ValueType::AsciiHiFirst:
    case ValueType::AsciiLoFirst: {
        const bool hiFirst = format.type == ValueType::AsciiHiFirst;
        std::string s;
        appendChar(s, hiFirst ? (bits >> 8) & 0xFF : bits & 0xFF);
        appendChar(s, hiFirst ? bits & 0xFF : (bits >> 8) & 0xFF);
        return s;
    }
    }
    return {};
}

std::vector<std::uint16_t> parseValue(const ValueFormat& format, std::string_view text) {
    const std::string_view s =
        format.type == ValueType::AsciiHiFirst || format.type == ValueType::AsciiLoFirst
            ? text
            : trimmed(text);
    const int n = registerCount(format.type);
    std::optional<std::uint64_t> bits;
    switch (format.type) {
    case ValueType::Int16:
        bits = parseInteger(s, INT16_MIN, INT16_MAX);
        break;
    case ValueType::UInt16:
        bits = parseInteger(s, 0, UINT16_MAX);
        break;
    case ValueType::Int32:
        bits = parseInteger(s, INT32_MIN, INT32_MAX);
        break;
    case ValueType::UInt32:
        bits = parseInteger(s, 0, UINT32_MAX);
        break;
    case ValueType::Int64:
        bits = parseInteger(s, INT64_MIN, INT64_MAX);
        break;
    case ValueType::UInt64:
        bits = parseInteger(s, 0, UINT64_MAX);
        break;
    case ValueType::Hex16:
        bits = whole<std::uint16_t>(startsWithHexPrefix(s) ? s.substr(2) : s, 16);
        break;
    case ValueType::Bin16: {
        std::string digits;
        for (const char c : startsWithHexPrefix(s) ? std::string_view{} : s)
            if (c != ' ' && c != '_')
                digits += c;
        if (s.size() > 2 && s[0] == '0' && (s[1] == 'b' || s[1] == 'B'))
            digits.erase(0, 2);
        if (digits.size() <= 16)
            bits = whole<std::uint16_t>(digits, 2);
        break;
    }
    case ValueType::Float32: {
        float f = 0;
        const auto [end, ec] =
            std::from_chars(s.data() + (!s.empty() && s[0] == '+'), s.data() + s.size(), f);
        if (!s.empty() && ec == std::errc() && end == s.data() + s.size())
            bits = std::bit_cast<std::uint32_t>(f);
        break;
    }
    case ValueType::Float64: {
        double d = 0;
        const auto [end, ec] =
            std::from_chars(s.data() + (!s.empty() && s[0] == '+'), s.data() + s.size(), d);
        if (!s.empty() && ec == std::errc() && end == s.data() + s.size())
            bits = std::bit_cast<std::uint64_t>(d);
        break;
    }
    case ValueType::AsciiHiFirst:
    case ValueType::AsciiLoFirst:
        if (const auto chars = parseAscii(s)) {
            const auto a = static_cast<unsigned char>((*chars)[0]);
            const auto b = static_cast<unsigned char>((*chars)[1]);
            bits = format.type == ValueType::AsciiHiFirst ? (a << 8) | b : (b << 8) | a;
        }
        break;
    }
    if (!bits)
        refuse(text, format.type);
    if (n < 4)
        *bits &= (std::uint64_t{1} << (16 * n)) - 1;
    return registersOf(*bits, n, format.order);
}

} // namespace varnok::modbus
