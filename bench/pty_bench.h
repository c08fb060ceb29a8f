#pragma once
// What the benchmarks that time exchanges over a pseudo-terminal share: a raw pair, µs from
// a clock's duration, a percentile and a read until a text has come.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace varnok::bench {

using Clock = std::chrono::steady_clock;

struct Pair {
    int master = -1, slave = -1;
    char name[256] = {};
    Pair() {
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            std::exit(2);
        termios t{};
        for (int fd : {master, slave}) {
            ::tcgetattr(fd, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd, TCSANOW, &t);
        }
    }
    ~Pair() {
        ::close(master);
        ::close(slave);
    }
    Pair(const Pair&) = delete;
    Pair& operator=(const Pair&) = delete;
};

inline double us(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

inline double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * double(v.size())))];
}

// Reads from `fd` until `want` has arrived (the bytes are dropped).
inline bool readUntil(int fd, const std::string& want, int timeoutMs = 2000) {
    std::string got;
    char buf[256];
    while (got.find(want) == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return false;
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return false;
        got.append(buf, std::size_t(n));
    }
    return true;
}

} // namespace varnok::bench
