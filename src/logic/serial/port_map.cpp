#include "logic/serial/port_map.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace varnok::serial {

namespace {

std::mutex& bindingMutex() {
    static std::mutex m;
    return m;
}

struct Bound {
    std::string path;
    Binding kind;
};

std::map<int, Bound>& bindings() {
    static std::map<int, Bound> b;
    return b;
}

std::string device(const PortRange& r, int number) {
    return r.prefix + std::to_string(number - r.first + 1 - kRuleIndexBase);
}

} // namespace

std::string ruleDevicePath(int number) {
    for (const PortRange& r : kPortRule)
        if (number >= r.first && number <= r.last)
            return *r.prefix ? device(r, number) : std::string();
    return {};
}

std::string portRuleText() {
    std::string text;
    for (const PortRange& r : kPortRule) {
        std::string numbers = "Com" + std::to_string(r.first) + "-Com" + std::to_string(r.last);
        numbers.resize(std::max<std::size_t>(numbers.size() + 1, 15), ' ');
        text += "  " + numbers +
                (*r.prefix ? device(r, r.first) + "-" + device(r, r.last)
                           : std::string("no device unless bound")) +
                "\n";
    }
    return text;
}

bool pathLengthAllowed(std::string_view path) {
    if (path.size() >= kPathMax)
        return false;
    std::size_t name = 0;
    for (const char c : path) {
        name = c == '/' ? 0 : name + 1;
        if (name > kNameMax)
            return false;
    }
    return true;
}

void bindPort(int number, std::string path, Binding kind) {
    std::lock_guard lock(bindingMutex());
    if (path.empty())
        bindings().erase(number);
    else
        bindings()[number] = {std::move(path), kind};
}

void clearPortBindings() {
    std::lock_guard lock(bindingMutex());
    bindings().clear();
}

std::vector<std::pair<int, std::string>> portBindings() {
    std::lock_guard lock(bindingMutex());
    std::vector<std::pair<int, std::string>> list;
    for (const auto& [number, b] : bindings())
        list.emplace_back(number, b.path);
    return list;
}

bool isPortBound(int number) {
    std::lock_guard lock(bindingMutex());
    return bindings().count(number) != 0;
}

bool isBoundForThisRun(int number) {
    std::lock_guard lock(bindingMutex());
    const auto it = bindings().find(number);
    return it != bindings().end() && it->second.kind == Binding::ForThisRun;
}

std::string devicePathFor(int number) {
    {
        std::lock_guard lock(bindingMutex());
        const auto it = bindings().find(number);
        if (it != bindings().end())
            return it->second.path;
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
