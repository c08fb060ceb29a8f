#include "logic/serial/settings_text.h"

#include <string>
#include <vector>

namespace varnok::serial {

namespace {

// The parities in the order of the enum, by their lower-case letter.
constexpr std::string_view kParities = "neoms";

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
    const auto found = parity.size() == 1 ? kParities.find(static_cast<char>(parity[0] | 0x20))
                                          : std::string_view::npos;
    if (found == std::string_view::npos)
        reject("the parity must be one of n, e, o, m, s");
    s.parity = static_cast<Parity>(found);

    const std::string_view bits = fields[1];
    if (bits.size() != 1 || bits[0] < '5' || bits[0] > '8')
        reject("the data bits must be 5, 6, 7 or 8");
    s.dataBits = bits[0] - '0';

    const std::string_view stop = fields[2];
    for (const StopBits b : {StopBits::One, StopBits::OneAndHalf, StopBits::Two})
        if (stop == stopBitsText(b)) {
            s.stopBits = b;
            return;
        }
    reject("the stop bits must be 1, 1.5 or 2");
}

template <typename Reject> std::int32_t parseBaud(std::string_view baud, Reject&& reject) {
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
    return static_cast<std::int32_t>(value);
}

} // namespace

char parityLetter(Parity parity) {
    return static_cast<char>(kParities[static_cast<std::size_t>(parity)] - 0x20);
}

const char* parityName(Parity parity) {
    static constexpr const char* kNames[] = {"none", "even", "odd", "mark", "space"};
    return kNames[static_cast<std::size_t>(parity)];
}

const char* stopBitsText(StopBits stop) {
    static constexpr const char* kTexts[] = {"1", "1.5", "2"};
    return kTexts[static_cast<std::size_t>(stop)];
}

std::string lineControlText(const LineSettings& line) {
    return std::string(1, kParities[static_cast<std::size_t>(line.parity)]) + ',' +
           std::to_string(line.dataBits) + ',' + stopBitsText(line.stopBits);
}

std::string settingsText(const LineSettings& line) {
    return std::to_string(line.baud) + ',' + lineControlText(line);
}

std::string framingName(const LineSettings& line) {
    return std::to_string(line.dataBits) + parityLetter(line.parity) + stopBitsText(line.stopBits);
}

double bitsPerCharacter(const LineSettings& line) {
    static constexpr double kStop[] = {1, 1.5, 2};
    return 1 + line.dataBits + (line.parity == Parity::None ? 0 : 1) +
           kStop[static_cast<std::size_t>(line.stopBits)];
}

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
    s.baud = parseBaud(fields[0], reject);
    parseLine(fields.data() + 1, s, reject);
    return s;
}

LineSettings parseSettings(std::string_view baud, std::string_view lineControl) {
    LineSettings s = parseLineControl(lineControl);
    s.baud = parseBaud(trimBlanks(baud), [&](const std::string& why) {
        throw SettingsFailure("Invalid settings " +
                              quoted(std::string(baud) + ',' + std::string(lineControl)) + ": " +
                              why);
    });
    return s;
}

} // namespace varnok::serial
