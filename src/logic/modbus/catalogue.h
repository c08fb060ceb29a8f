#pragma once
// The Modbus function list and the request/response layout of each function.
#include <array>
#include <string>

namespace varnok::modbus {

inline constexpr int kFunctionCount = 8;

// The eight list texts, in list order ("FC1  Read multi-coils status ( 0xxxx ) for DO", ...).
const std::array<std::string, kFunctionCount>& functionItems();

// The explanation of list index 0..7, lines joined by CR LF, no final CR LF.
// Any other index gives an empty string.
std::string functionExplanation(int index);

} // namespace varnok::modbus
