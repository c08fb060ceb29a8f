#include "logic/script/tap_text.h"

namespace varnok::script {

std::string tapLine(bool passed, int number, std::string_view text) {
    std::string line = passed ? "ok " : "not ok ";
    line += std::to_string(number);
    if (!text.empty())
        line += " - ";
    for (const char c : text) {
        if (c == '\r' || c == '\n')
            line += ' ';
        else if (c == '#')
            line += "\\#";
        else if (c == '\\')
            line += "\\\\";
        else
            line += c;
    }
    line += '\n';
    return line;
}

std::string tapPlan(int count) {
    return "1.." + std::to_string(count) + "\n";
}

} // namespace varnok::script
