#include "logic/netsetting/octet_check.h"

namespace varnok::netsetting {

std::string octetProblem(std::string_view group, int box, std::string_view text) {
    const std::string name = std::string(group) + ", box " + std::to_string(box);
    // An empty part would go out as "ip 10.0.0." and the device would take it.
    if (text.empty())
        return name + " is empty: type a number from 0 to 255";
    int value = 0;
    bool number = text.size() <= 3;
    for (const char c : text) {
        number = number && c >= '0' && c <= '9';
        value = value * 10 + (c - '0');
    }
    if (number && value <= 255)
        return {};
    // Quoted whole only when short: a pasted page must not make the message wider than the screen.
    const std::string shown =
        text.size() <= 20 ? std::string(text) : std::string(text.substr(0, 17)) + "...";
    return name + ": " + shown + " is not a number from 0 to 255";
}

} // namespace varnok::netsetting
