#pragma once
// The port's settings text: baud, parity, data bits and stop bits ("115200,n,8,1").
#include <cstdint>
#include <string>
#include <string_view>

#include "logic/failure.h"

namespace varnok::serial {

enum class Parity { None, Even, Odd, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct LineSettings {
    std::int32_t baud = 115200;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;
    bool operator==(const LineSettings&) const = default;
};

// The parity as one capital letter (N, E, O, M, S) and as a word ("none", "even", ...).
char parityLetter(Parity parity);
const char* parityName(Parity parity);
// The stop bits as written in a settings text: "1", "1.5" or "2".
const char* stopBitsText(StopBits stop);
// The line control as it is typed ("e,7,2", what parseLineControl reads), the whole settings
// text with the baud in front ("115200,e,7,2"), and the framing's short name ("7E2").
std::string lineControlText(const LineSettings& line);
std::string settingsText(const LineSettings& line);
std::string framingName(const LineSettings& line);
// Bits on the line per character: start bit, data bits, parity bit if any, stop bits.
double bitsPerCharacter(const LineSettings& line);

// A settings text the port cannot take.
class SettingsFailure : public Failure {
  public:
    explicit SettingsFailure(std::string description) : Failure(380, std::move(description)) {}
};

// Baud is any positive whole number; parity n, e, o, m or s in either case; data bits 5 to 8;
// stop bits 1, 1.5 or 2; four fields separated by commas, blanks around a field allowed.
// Throws SettingsFailure with a description that quotes the text and says what is wrong.
LineSettings parseSettings(std::string_view text);

// The line-control part alone ("e,7,2"): parity, data bits and stop bits, with messages that
// quote only that text (at most about 60 characters of it). The baud stays at its default.
LineSettings parseLineControl(std::string_view text);

// The baud box and the line control of an opening, each field read once: a fault in the line
// control quotes it alone, a fault in the baud quotes "baud,line control" as parseSettings does.
LineSettings parseSettings(std::string_view baud, std::string_view lineControl);

} // namespace varnok::serial
