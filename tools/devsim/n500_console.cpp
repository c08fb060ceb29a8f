#include "n500_console.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace devsim {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

} // namespace

std::string N500Console::feed(std::string_view bytes) {
    std::string reply;
    for (char c : bytes) {
        // CR ends a command; a stray LF (from a CR LF sender) is taken as an end too.
        if (c != '\r' && c != '\n') {
            partial_ += c;
            continue;
        }
        if (partial_.empty())
            continue;
        const std::string answer = handleLine(partial_);
        if (silent_)
            std::fprintf(stderr, "n500 \"%s\" -> silent\n", partial_.c_str());
        else
            std::fprintf(stderr, "n500 \"%s\" -> \"%s\"\n", partial_.c_str(),
                         answer.substr(0, answer.find('\r')).c_str());
        if (!silent_)
            reply += answer;
        partial_.clear();
    }
    return reply;
}

std::string N500Console::handleLine(const std::string& line) {
    struct Field {
        const char* keyword;
        const char* label;
        std::string* value;
    };
    const Field fields[] = {{"ip", "IP", &values_.ip},
                            {"mask", "MASK", &values_.mask},
                            {"gateway", "GATEWAY", &values_.gateway}};

    const std::size_t space = line.find(' ');
    const std::string keyword = lower(line.substr(0, space));
    for (int i = 0; i < 3; ++i) {
        if (keyword != fields[i].keyword)
            continue;
        if (space == std::string::npos)
            return i < answered_ ? std::string(fields[i].label) + "=" + *fields[i].value + "\r\n"
                                 : std::string();
        // Stored as sent: the console does not validate addresses.
        *fields[i].value = line.substr(space + 1);
        return "OK\r\n";
    }
    return "Unknown command\r\n";
}

} // namespace devsim
