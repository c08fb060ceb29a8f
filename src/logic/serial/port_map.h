#pragma once
// Which device a port number opens: a fixed rule, or a path bound to the number.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnok::serial {

inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 255;

// The rule, one range of numbers a row: numbers first..last open prefix + (n - first), or no
// device where prefix is empty. Windows has one row: ComN is COMN.
struct PortRange {
    int first;
    int last;
    const char* prefix;
};
#ifdef _WIN32
inline constexpr PortRange kPortRule[] = {{1, 255, "COM"}};
inline constexpr int kRuleIndexBase = 0; // COM1 is Com1
#else
inline constexpr PortRange kPortRule[] = {
    {1, 32, "/dev/ttyS"}, {33, 64, "/dev/ttyUSB"}, {65, 96, "/dev/ttyACM"}, {97, 255, ""}};
inline constexpr int kRuleIndexBase = 1; // /dev/ttyS0 is Com1
#endif

// The rule alone ("" where it gives no device).
std::string ruleDevicePath(int number);
// The rule as the help text shows it: one line a row, "  Com1-Com32     /dev/ttyS0-/dev/ttyS31".
std::string portRuleText();

// The longest device path the system takes, in bytes with the final NUL, and the longest
// name in it.
inline constexpr std::size_t kPathMax = 4096;
inline constexpr std::size_t kNameMax = 255;
bool pathLengthAllowed(std::string_view path);

// How long a binding lasts: for this run only (the command line), or remembered between runs
// (chosen in the window).
enum class Binding { ForThisRun, Remembered };

// Binds a number to an explicit device path (a pseudo-terminal, /dev/serial/by-id/...); an
// empty path removes the binding.
void bindPort(int number, std::string path, Binding kind = Binding::Remembered);
void clearPortBindings();
bool isPortBound(int number);
bool isBoundForThisRun(int number);
// Every binding, by number.
std::vector<std::pair<int, std::string>> portBindings();

// The device a number opens: its binding, else the rule ("" when neither gives one).
std::string devicePathFor(int number);

// "Com3=/dev/pts/4" (the --port option) -> {3, "/dev/pts/4"}; nullopt when malformed.
std::optional<std::pair<int, std::string>> parsePortBinding(std::string_view text);

} // namespace varnok::serial
