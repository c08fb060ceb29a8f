#pragma once
// Far ends of a link that write numbered bytes (byte k is k % 251) to every descriptor and,
// when asked, read and check as many back: nothing lost, nothing reordered. Blocking in
// itself: run it in a thread or a child process.
#include <algorithm>
#include <chrono>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace varnok::test {

struct FloodPlan {
    long long bytes = 0; // written to each descriptor
    double rate = 0;     // bytes a second to each, 0 as fast as taken
    bool check = true;   // read as many from each and check them
    int stallFd = -1;    // this descriptor is not read for the first stallMs
    int stallMs = 0;
    int chunk = 64;
};

// The bytes missing, extra or out of order (0: all arrived in order).
inline long numberedFlood(const std::vector<int>& fds, const FloodPlan& plan) {
    using Clock = std::chrono::steady_clock;
    const std::size_t n = fds.size();
    std::vector<long long> out(n, 0), in(n, 0);
    long errors = 0;
    const auto start = Clock::now();
    const auto end =
        start + std::chrono::seconds(30 + int(plan.rate > 0 ? plan.bytes / plan.rate : 0));
    char buf[65536];
    while (Clock::now() < end) {
        const double since = std::chrono::duration<double>(Clock::now() - start).count();
        bool left = false;
        std::vector<pollfd> p(n);
        for (std::size_t i = 0; i < n; ++i) {
            const bool writes =
                out[i] < plan.bytes && (plan.rate <= 0 || out[i] < since * plan.rate);
            const bool reads = plan.check && in[i] < plan.bytes &&
                               !(fds[i] == plan.stallFd && since * 1000 < plan.stallMs);
            left = left || out[i] < plan.bytes || (plan.check && in[i] < plan.bytes);
            p[i] = {fds[i], short((writes ? POLLOUT : 0) | (reads ? POLLIN : 0)), 0};
        }
        if (!left)
            break;
        ::poll(p.data(), nfds_t(n), 1);
        for (std::size_t i = 0; i < n; ++i) {
            if (p[i].revents & POLLOUT) {
                const int len = int(std::min<long long>(plan.chunk, plan.bytes - out[i]));
                for (int k = 0; k < len; ++k)
                    buf[k] = char((out[i] + k) % 251);
                out[i] += std::max<ssize_t>(::write(fds[i], buf, std::size_t(len)), 0);
            }
            if (p[i].revents & POLLIN) {
                const ssize_t r = ::read(fds[i], buf, sizeof buf);
                for (ssize_t k = 0; k < r; ++k)
                    errors += buf[k] != char((in[i] + k) % 251);
                in[i] += std::max<ssize_t>(r, 0);
            }
        }
    }
    for (std::size_t i = 0; plan.check && i < n; ++i)
        errors += std::labs(long(in[i] - plan.bytes));
    return errors;
}

} // namespace varnok::test
