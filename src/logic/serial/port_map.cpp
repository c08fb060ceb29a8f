#include "logic/serial/port_map.h"

#include <map>
#include <mutex>

namespace varnok::serial {

namespace {

std::mutex& bindingMutex() {
    static std::mutex m;
    return m;
}

std::map<int, std::string>& bindings() {
    static std::map<int, std::string> b;
    return b;
}

} // namespace

std::string ruleDevicePath(int number) {
    if (number < kFirstPort || number > kLastPort)
        return {};
#ifdef _WIN32
    return "COM" + std::to_string(number);
#else
    if (number <= 32)
        return "/dev/ttyS" + std::to_string(number - 1);
    if (number <= 64)
        return "/dev/ttyUSB" + std::to_string(number - 33);
    if (number <= 96)
        return "/dev/ttyACM" + std::to_string(number - 65);
    return {};
#endif
}

void bindPort(int number, std::string path) {
    std::lock_guard lock(bindingMutex());
    if (path.empty())
        bindings().erase(number);
    else
        bindings()[number] = std::move(path);
}

void clearPortBindings() {
    std::lock_guard lock(bindingMutex());
    bindings().clear();
}

std::vector<std::pair<int, std::string>> portBindings() {
    std::lock_guard lock(bindingMutex());
    return {bindings().begin(), bindings().end()};
}

bool isPortBound(int number) {
    std::lock_guard lock(bindingMutex());
    return bindings().count(number) != 0;
}

std::string devicePathFor(int number) {
    {
        std::lock_guard lock(bindingMutex());
        const auto it = bindings().find(number);
        if (it != bindings().end())
            return it->second;
    }
    return ruleDevicePath(number);
}

std::optional<std::pair<int, std::string>> parsePortBinding(std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos || eq < 4 || eq + 1 >= text.size())
        return std::nullopt;
    const std::string_view name = text.substr(0, eq);
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm')
        return std::nullopt;
    int number = 0;
    for (const char c : name.substr(3)) {
        if (c < '0' || c > '9' || number > kLastPort)
            return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number < kFirstPort || number > kLastPort)
        return std::nullopt;
    return std::make_pair(number, std::string(text.substr(eq + 1)));
}

} // namespace varnok::serial
