#pragma once
// The network dialog's address boxes, checked before anything is written to the device.
#include <string>
#include <string_view>

namespace varnok::netsetting {

// What is wrong with the text of one box (box 1 to 4 of `group`): empty, or not a whole number
// from 0 to 255; "" when nothing is. Text is UTF-8.
std::string octetProblem(std::string_view group, int box, std::string_view text);

} // namespace varnok::netsetting
