#pragma once
// Register values as engineers read them: 16-, 32- and 64-bit integers and floats in the four
// word and byte orders, and two ASCII characters per register, both ways.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "logic/failure.h"

namespace varnok::modbus {

enum class ValueType {
    Int16,
    UInt16,
    Hex16,
    Bin16, // one register
    Int32,
    UInt32,
    Float32, // two
    Int64,
    UInt64,
    Float64, // four
    AsciiHiFirst,
    AsciiLoFirst, // one register, two characters
};

// How the bytes of a value, most significant first (A B C D ...), lie in the registers.
// ABCD: first register holds A B; CDAB: registers reversed; BADC: bytes swapped in each
// register; DCBA: both. For 64 bits the same rule covers all four registers.
enum class WordOrder { ABCD, CDAB, BADC, DCBA };

struct ValueFormat {
    ValueType type = ValueType::UInt16;
    WordOrder order = WordOrder::ABCD; // only for the multi-register types
    bool operator==(const ValueFormat&) const = default;
};

// A value the user typed that the format cannot hold; the description says why.
class ValueFailure : public Failure {
  public:
    explicit ValueFailure(std::string description) : Failure(380, std::move(description)) {}
};

int registerCount(ValueType type);
bool hasOrder(ValueType type); // whether the word and byte order applies

// The format's name as definitions and register maps write it: "uint16", "float32 CDAB",
// "ascii BA". Names are read in either case; a multi-register name without order is ABCD.
std::string formatName(const ValueFormat& format);
std::optional<ValueFormat> parseFormatName(std::string_view name);
// Every format, in menu order.
const std::vector<ValueFormat>& allFormats();

// The value of registerCount registers (more are ignored; fewer give ""). Floats print
// enough significant digits to read back the same bits (float32 9, double 17); NaN and the
// infinities print as "NaN", "inf" and "-inf".
std::string formatValue(const ValueFormat& format, std::span<const std::uint16_t> registers);

// The value as a number for a chart: none for ASCII, too few registers, NaN and the
// infinities. 64-bit integers lose digits past 2^53, as a chart does anyway.
std::optional<double> numericValue(const ValueFormat& format,
                                   std::span<const std::uint16_t> registers);

// The registers that hold `text` in this format. Throws ValueFailure naming the text and the
// format's range when the text is not such a value or does not fit.
std::vector<std::uint16_t> parseValue(const ValueFormat& format, std::string_view text);

} // namespace varnok::modbus
