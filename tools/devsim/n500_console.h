#pragma once
// The line console of the network module: "ip", "mask", "gateway" read a value,
// the same keyword followed by one space and a value stores it.
#include <string>
#include <string_view>
#include <utility>

namespace devsim {

struct NetValues {
    std::string ip = "10.0.0.7";
    std::string mask = "255.0.0.0";
    std::string gateway = "10.0.0.1";
};

class N500Console {
  public:
    // answeredValues: how many of ip, mask, gateway (in that order) a read answers; a silent
    // console takes every command and answers none.
    N500Console(NetValues values, int answeredValues, bool silent = false)
        : values_(std::move(values)), answered_(answeredValues), silent_(silent) {}

    // Takes received bytes; returns the reply to every command they complete. Each
    // command handled is logged on stderr, with its answer or "silent".
    std::string feed(std::string_view bytes);

    const NetValues& values() const { return values_; }

  private:
    std::string handleLine(const std::string& line);

    NetValues values_;
    int answered_;
    bool silent_;
    std::string partial_;
};

} // namespace devsim
