#include "logic/serial/settings_text.h"

#include <string>
#include <vector>

namespace varnok::serial {

namespace {

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

[[noreturn]] void reject(std::string_view text, const std::string& why) {
    throw SettingsFailure("Invalid settings \"" + std::string(text) + "\": " + why);
}

} // namespace

LineSettings parseSettings(std::string_view text) {
    std::vector<std::string_view> fields;
    std::string_view rest = text;
    for (;;) {
        const auto comma = rest.find(',');
        fields.push_back(trimBlanks(rest.substr(0, comma)));
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    if (fields.size() != 4)
        reject(text, "expected baud,parity,data bits,stop bits such as 115200,n,8,1");

    LineSettings s;
    const std::string_view baud = fields[0];
    if (baud.empty())
        reject(text, "the baud rate is missing");
    std::int64_t value = 0;
    for (const char c : baud) {
        if (c < '0' || c > '9')
            reject(text, "the baud rate \"" + std::string(baud) + "\" is not a whole number");
        value = value * 10 + (c - '0');
        if (value > 0x7fffffff)
            reject(text, "the baud rate \"" + std::string(baud) + "\" is too large");
    }
    if (value == 0)
        reject(text, "the baud rate must be greater than 0");
    s.baud = static_cast<std::int32_t>(value);

    const std::string_view parity = fields[1];
    if (parity.size() != 1)
        reject(text, "the parity must be one of n, e, o, m, s");
    switch (parity[0] | 0x20) {
    case 'n':
        s.parity = Parity::None;
        break;
    case 'e':
        s.parity = Parity::Even;
        break;
    case 'o':
        s.parity = Parity::Odd;
        break;
    case 'm':
        s.parity = Parity::Mark;
        break;
    case 's':
        s.parity = Parity::Space;
        break;
    default:
        reject(text, "the parity must be one of n, e, o, m, s");
    }

    const std::string_view bits = fields[2];
    if (bits.size() != 1 || bits[0] < '5' || bits[0] > '8')
        reject(text, "the data bits must be 5, 6, 7 or 8");
    s.dataBits = bits[0] - '0';

    const std::string_view stop = fields[3];
    if (stop == "1")
        s.stopBits = StopBits::One;
    else if (stop == "1.5")
        s.stopBits = StopBits::OneAndHalf;
    else if (stop == "2")
        s.stopBits = StopBits::Two;
    else
        reject(text, "the stop bits must be 1, 1.5 or 2");
    return s;
}

} // namespace varnok::serial
