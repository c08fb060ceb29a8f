#include "logic/netsetting/console_protocol.h"

#include "logic/netsetting/extract_tokens.h"
#include "logic/netsetting/octet_check.h"

namespace varnok::netsetting {

std::string boxesProblem(const Boxes& boxes) {
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        std::string problem =
            octetProblem(kValueNames[i / 4], static_cast<int>(i % 4) + 1, boxes[i]);
        if (!problem.empty())
            return problem;
    }
    return {};
}

std::string setCommand(const Boxes& boxes) {
    static constexpr std::array<std::string_view, 3> kKeywords = {"ip", "mask", "gateway"};
    std::string out;
    for (std::size_t v = 0; v < 3; ++v) {
        out += kKeywords[v];
        for (std::size_t i = 0; i < 4; ++i)
            out += (i == 0 ? ' ' : '.') + boxes[v * 4 + i];
        out += '\r';
    }
    return out;
}

ConsoleValues scanReply(std::string_view reply) {
    // "IP=a.b.c.d", "MASK=...", "GATEWAY=...": from the reply's first character, the dotted
    // quads after the first three "=" fill the address, mask and gateway in that order.
    constexpr int kFromFirstChar = 1;
    constexpr int kThreeValues = 3;
    const TokenSlots slots = Extract_Tokens(reply, kFromFirstChar, "=", kThreeValues, kDottedQuad);
    ConsoleValues out;
    for (std::size_t v = 0; v < 3; ++v) {
        bool any = false;
        for (std::size_t i = v * 4; i < v * 4 + 4; ++i)
            any = any || (slots[i] && !slots[i]->empty());
        if (!any) {
            out.missing.push_back(kValueNames[v]);
            continue;
        }
        for (std::size_t i = v * 4; i < v * 4 + 4; ++i)
            out.boxes[i] = slots[i].value_or(std::string());
    }
    return out;
}

std::string joinNames(const std::vector<std::string_view>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            out += i + 1 == names.size() ? " and " : ", ";
        out += names[i];
    }
    return out;
}

std::string readProblem(std::string_view reply, const ConsoleValues& scanned, int waitMs) {
    if (scanned.missing.empty())
        return {};
    const std::string names = joinNames(scanned.missing);
    // A late or cut answer: what the boxes hold is still the best there is.
    const std::string what = reply.empty() ? "no reply within " + std::to_string(waitMs) +
                                                 " ms, so " + names + " are missing."
                                           : "the reply lacks " + names + ".";
    return "GET: " + what + " The boxes keep what they had.";
}

} // namespace varnok::netsetting
