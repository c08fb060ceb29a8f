#pragma once
// What the N500 dialog says to the device's serial console and how it reads the answer.
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace varnok::netsetting {

// The twelve boxes in order: IP 1-4, Mask 1-4, Gateway 1-4.
using Boxes = std::array<std::string, 12>;

// The names of the three values, as the dialog's captions give them.
inline constexpr std::array<std::string_view, 3> kValueNames = {"IP", "Mask", "Gateway"};

// Reads the three values.
inline constexpr std::string_view kReadCommand = "ip\rmask\rgateway\r";

// What is wrong with the boxes, the first box found in order, or "" when each holds a whole
// number from 0 to 255 (see octetProblem).
std::string boxesProblem(const Boxes& boxes);

// Writes the three values: "ip a.b.c.d\rmask ...\rgateway ...\r".
std::string setCommand(const Boxes& boxes);

// The answer to kReadCommand: the dotted values after the first three '=' fill the boxes in
// order (see Extract_Tokens); a value whose '=' never came, or came with nothing after it, is
// missing and its boxes stay "".
struct ConsoleValues {
    Boxes boxes;
    std::vector<std::string_view> missing; // names from kValueNames, in order
};
ConsoleValues scanReply(std::string_view reply);

// "Gateway", "Mask and Gateway", "IP, Mask and Gateway"; "" for none.
std::string joinNames(const std::vector<std::string_view>& names);

// What GET tells the user when `scanned` (scanReply of `reply`) misses values: "GET: no reply
// within 200 ms, so IP, Mask and Gateway are missing. The boxes keep what they had." when
// nothing came in `waitMs`, else "GET: the reply lacks Gateway. The boxes keep what they
// had."; "" when all three came.
std::string readProblem(std::string_view reply, const ConsoleValues& scanned, int waitMs);

} // namespace varnok::netsetting
