#pragma once
// What one polled read has met since its reset: polls, valid replies, failures by kind and
// the response times.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "logic/monitor/monitor_session.h"

namespace varnok::modbus {

struct PollStatus {
    std::uint64_t polls = 0;    // transactions ended, whatever their outcome
    std::uint64_t valid = 0;    // answered with the values asked for
    std::uint64_t requests = 0; // frames sent, retries included
    std::uint64_t retries = 0;
    std::uint64_t timeouts = 0; // requests without a reply in time
    std::uint64_t crcErrors = 0;
    std::uint64_t otherErrors = 0;  // short replies, wrong station, function, byte count, echo,
                                    // or the port closed before the reply
    std::uint64_t staleReplies = 0; // Modbus TCP replies of another transaction id, dropped
    std::map<int, std::uint64_t> exceptions; // by exception code
    std::string lastError;                   // "" while none
    std::int64_t lastErrorWallMs = 0;
    std::int64_t lastGoodWallMs = 0;
    bool stale = false;           // the last poll failed: the values shown are older
    monitor::ResponseTimes times; // the Monitor's own statistics
};

// One line for the window, e.g. "polls 12  valid 11  timeouts 1  CRC 0  exceptions 0  ...
// response min 1.02 / mean 1.30 / p99 2.10 / max 2.40 ms  last error 10:42:07.123 timeout";
// "stale replies dropped: N" joins it once there are any.
// `clock` is the last error's local time as the window shows it.
std::string statusText(const PollStatus& s, const std::string& clock);

} // namespace varnok::modbus
