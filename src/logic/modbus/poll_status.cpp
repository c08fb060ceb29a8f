#include "logic/modbus/poll_status.h"

#include <algorithm>
#include <cstdio>

#include "logic/monitor/rtu_decoder.h"

namespace varnok::modbus {

std::string statusText(const PollStatus& s, const std::string& clock) {
    std::uint64_t exceptions = 0;
    std::string byName;
    for (const auto& [code, n] : s.exceptions) {
        exceptions += n;
        char one[80];
        std::snprintf(one, sizeof one, "%s%02X %s x%llu", byName.empty() ? " (" : ", ", code,
                      monitor::exceptionName(code).c_str(), static_cast<unsigned long long>(n));
        byName += one;
    }
    if (!byName.empty())
        byName += ")";
    char text[320];
    std::snprintf(
        text, sizeof text,
        "polls %llu  valid %llu  timeouts %llu  CRC errors %llu  exceptions %llu%s",
        static_cast<unsigned long long>(s.polls), static_cast<unsigned long long>(s.valid),
        static_cast<unsigned long long>(s.timeouts), static_cast<unsigned long long>(s.crcErrors),
        static_cast<unsigned long long>(exceptions), byName.c_str());
    std::string out = text;
    if (s.times.count() > 0) {
        std::snprintf(text, sizeof text, "  response min %.2f / mean %.2f / p99 %.2f / max %.2f ms",
                      double(s.times.minUs()) / 1000, s.times.meanUs() / 1000,
                      double(s.times.p99Us()) / 1000, double(s.times.maxUs()) / 1000);
        out += text;
    }
    if (s.staleReplies > 0)
        out += "  stale replies dropped: " + std::to_string(s.staleReplies);
    if (!s.lastError.empty())
        out += "  last error " + clock + " " + s.lastError;
    return out;
}

} // namespace varnok::modbus
