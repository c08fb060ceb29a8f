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

// The text in quotes, cut to about 60 characters (at a UTF-8 boundary) so that a message
// never grows wider than the screen.
std::string quoted(std::string_view text) {
    constexpr std::size_t kShown = 57;
    if (text.size() <= kShown + 3)
        return "\"" + std::string(text) + "\"";
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return "\"" + std::string(text.substr(0, cut)) + "...\" (" + std::to_string(text.size()) +
           " bytes)";
}

std::vector<std::string_view> splitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = text.find(',');
        fields.push_back(trimBlanks(text.substr(0, comma)));
        if (comma == std::string_view::npos)
            return fields;
        text.remove_prefix(comma + 1);
    }
}

// Parity, data bits and stop bits; `reject` says what is wrong with them.
template <typename Reject>
void parseLine(const std::string_view* fields, LineSettings& s, Reject&& reject) {
    const std::string_view parity = fields[0];
    if (parity.size() != 1)
        reject("the parity must be one of n, e, o, m, s");
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
        reject("the parity must be one of n, e, o, m, s");
    }

    const std::string_view bits = fields[1];
    if (bits.size() != 1 || bits[0] < '5' || bits[0] > '8')
        reject("the data bits must be 5, 6, 7 or 8");
    s.dataBits = bits[0] - '0';

    const std::string_view stop = fields[2];
    if (stop == "1")
        s.stopBits = StopBits::One;
    else if (stop == "1.5")
        s.stopBits = StopBits::OneAndHalf;
    else if (stop == "2")
        s.stopBits = StopBits::Two;
    else
        reject("the stop bits must be 1, 1.5 or 2");
}

} // namespace

LineSettings parseLineControl(std::string_view text) {
    const auto reject = [text](const std::string& why) {
        throw SettingsFailure("Invalid line control " + quoted(text) + ": " + why);
    };
    const std::vector<std::string_view> fields = splitFields(text);
    if (fields.size() != 3)
        reject("expected parity,data bits,stop bits such as n,8,1");
    LineSettings s;
    parseLine(fields.data(), s, reject);
    return s;
}

LineSettings parseSettings(std::string_view text) {
    const auto reject = [text](const std::string& why) {
        throw SettingsFailure("Invalid settings " + quoted(text) + ": " + why);
    };
    const std::vector<std::string_view> fields = splitFields(text);
    if (fields.size() != 4)
        reject("expected baud,parity,data bits,stop bits such as 115200,n,8,1");

    LineSettings s;
    const std::string_view baud = fields[0];
    if (baud.empty())
        reject("the baud rate is missing");
    std::int64_t value = 0;
    for (const char c : baud) {
        if (c < '0' || c > '9')
            reject("the baud rate \"" + std::string(baud) + "\" is not a whole number");
        value = value * 10 + (c - '0');
        if (value > 0x7fffffff)
            reject("the baud rate \"" + std::string(baud) + "\" is too large");
    }
    if (value == 0)
        reject("the baud rate must be greater than 0");
    s.baud = static_cast<std::int32_t>(value);
    parseLine(fields.data() + 1, s, reject);
    return s;
}

} // namespace varnok::serial
