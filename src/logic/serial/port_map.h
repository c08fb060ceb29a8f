#pragma once
// Which device a port number opens: a fixed rule, or a path bound to the number.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnok::serial {

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 255;

// The rule alone. Linux: Com1-Com32 /dev/ttyS0-31, Com33-Com64 /dev/ttyUSB0-31, Com65-Com96
// /dev/ttyACM0-31, higher numbers none (""); Windows: ComN is COMN.
std::string ruleDevicePath(int number);

// Binds a number to an explicit device path (a pseudo-terminal, /dev/serial/by-id/...); an
// empty path removes the binding. Bindings last for the run.
void bindPort(int number, std::string path);
void clearPortBindings();
bool isPortBound(int number);
// Every binding, by number.
std::vector<std::pair<int, std::string>> portBindings();

// The device a number opens: its binding, else the rule ("" when neither gives one).
std::string devicePathFor(int number);

// "Com3=/dev/pts/4" (the --port option) -> {3, "/dev/pts/4"}; nullopt when malformed.
std::optional<std::pair<int, std::string>> parsePortBinding(std::string_view text);

} // namespace varnok::serial
