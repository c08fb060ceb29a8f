#include "logic/modbus/find_plan.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "logic/modbus/crc16.h"
#include "logic/modbus/function_code.h"

namespace varnok::modbus {

using serial::LineSettings;
using serial::Parity;
using serial::StopBits;

namespace {

LineSettings framing(int dataBits, Parity parity, StopBits stop, int baud = 0) {
    return {baud, parity, dataBits, stop};
}

bool sameSetting(const LineSettings& a, const LineSettings& b) {
    return a == b;
}

int baudIndex(int baud) {
    const auto* it = std::find(std::begin(kFindBauds), std::end(kFindBauds), baud);
    return it == std::end(kFindBauds) ? -1 : static_cast<int>(it - std::begin(kFindBauds));
}

} // namespace

std::vector<LineSettings> framings(bool sevenBit) {
    std::vector<LineSettings> f{
        framing(8, Parity::Even, StopBits::One), framing(8, Parity::None, StopBits::Two),
        framing(8, Parity::None, StopBits::One), framing(8, Parity::Odd, StopBits::One)};
    if (sevenBit)
        for (const LineSettings& s :
             {framing(7, Parity::Even, StopBits::One), framing(7, Parity::Odd, StopBits::One),
              framing(7, Parity::None, StopBits::Two)})
            f.push_back(s);
    return f;
}

std::string settingName(const LineSettings& line) {
    return std::to_string(line.baud) + " " + framingName(line);
}

std::vector<LineSettings> sweepOrder(const std::vector<int>& bauds,
                                     const std::vector<LineSettings>& framings) {
    std::vector<LineSettings> all;
    for (const int b : bauds)
        for (LineSettings f : framings) {
            f.baud = b;
            if (std::none_of(all.begin(), all.end(), [&](auto& s) { return sameSetting(s, f); }))
                all.push_back(f);
        }
    const LineSettings likely[] = {framing(8, Parity::Even, StopBits::One, 19200),
                                   framing(8, Parity::None, StopBits::One, 9600),
                                   framing(8, Parity::Even, StopBits::One, 9600),
                                   framing(8, Parity::None, StopBits::One, 115200)};
    std::vector<LineSettings> order;
    for (const LineSettings& l : likely) {
        const auto it = std::find(all.begin(), all.end(), l);
        if (it != all.end()) {
            order.push_back(*it);
            all.erase(it);
        }
    }
    order.insert(order.end(), all.begin(), all.end());
    return order;
}

std::vector<LineSettings> neighboursFirst(std::vector<LineSettings> rest,
                                          const LineSettings& around) {
    const int at = baudIndex(around.baud);
    const auto distance = [&](const LineSettings& s) {
        const int i = baudIndex(s.baud);
        const int steps = s.baud == around.baud ? 0 : (i < 0 || at < 0) ? 100 : std::abs(i - at);
        return steps;
    };
    std::stable_sort(rest.begin(), rest.end(),
                     [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
    return rest;
}

double lineMs(const LineSettings& line, double bytes) {
    return bytes * serial::bitsPerCharacter(line) * 1000.0 / std::max(line.baud, 1);
}

std::size_t longestReply(const PollRequest& probe) {
    return std::max<std::size_t>(replyLength(probe), 5);
}

int autoTimeoutMs(const LineSettings& line, const PollRequest& probe, int allowanceMs) {
    const double request = static_cast<double>(buildRequest(probe).size());
    const double onLine = lineMs(line, request + static_cast<double>(longestReply(probe)) + 3.5);
    return static_cast<int>(std::ceil(onLine - 1e-9)) + std::max(allowanceMs, 0);
}

std::vector<int> sweepStations(int first, int last, bool modbusTcp) {
    std::vector<int> stations;
    for (int s = first; s <= last; ++s)
        stations.push_back(s);
    if (modbusTcp)
        for (const int unit : {0, 255})
            if (std::find(stations.begin(), stations.end(), unit) == stations.end())
                stations.push_back(unit);
    return stations;
}

double sweepMs(const std::vector<int>& timeoutMsPerSetting, int stations) {
    double ms = 0;
    for (const int t : timeoutMsPerSetting)
        ms += kChangeMs + static_cast<double>(t) * std::max(stations, 0);
    return ms;
}

double timeLeftMs(double plannedLeftMs, double plannedDoneMs, double actualDoneMs) {
    if (plannedDoneMs <= 0 || actualDoneMs <= 0)
        return plannedLeftMs;
    return plannedLeftMs * actualDoneMs / plannedDoneMs;
}

std::vector<FrameSpan> framesIn(std::span<const std::uint8_t> bytes) {
    static constexpr std::size_t kLongest = 256; // an RTU frame's limit
    const CrcTables& t = crcTables();
    std::vector<FrameSpan> found;
    std::size_t i = 0;
    while (i + 4 <= bytes.size()) {
        std::size_t length = 0;
        if (bytes[i] <= 247 && isPublicFunction(withoutException(bytes[i + 1]))) {
            // The CRC register runs on from the start; after n bytes it is compared with the
            // two that follow.
            CrcRegisters r;
            const std::size_t end = std::min(bytes.size(), i + kLongest);
            for (std::size_t k = i; k + 2 < end; ++k) {
                const std::uint8_t idx = r.hi ^ bytes[k];
                r.hi = t.hi[idx] ^ r.lo;
                r.lo = t.lo[idx];
                if (k + 1 - i >= 2 && bytes[k + 1] == r.hi && bytes[k + 2] == r.lo) {
                    length = k + 3 - i;
                    break;
                }
            }
        }
        if (length == 0) {
            ++i;
            continue;
        }
        found.push_back({i, length});
        i += length;
    }
    return found;
}

Heard heard(std::span<const std::uint8_t> bytes) {
    if (bytes.empty())
        return Heard::Nothing;
    return framesIn(bytes).empty() ? Heard::Garbled : Heard::Frame;
}

std::string garbledHint(const LineSettings& line) {
    return "something answered garbled at " + settingName(line);
}

} // namespace varnok::modbus
