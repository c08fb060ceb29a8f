#pragma once
// The port's settings text: baud, parity, data bits and stop bits ("115200,n,8,1").
#include <cstdint>
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
};

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

} // namespace varnok::serial
