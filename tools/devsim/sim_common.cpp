#include "sim_common.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace devsim {

namespace {

volatile std::sig_atomic_t g_stop = 0;
int g_wake[2] = {-1, -1};

void onStopSignal(int) {
    g_stop = 1;
    const char byte = 1;
    // Best effort: the flag alone still ends the loop at its next wake-up.
    [[maybe_unused]] ssize_t n = ::write(g_wake[1], &byte, 1);
}

} // namespace

bool stopRequested() {
    return g_stop != 0;
}

int wakeFd() {
    return g_wake[0];
}

void installStopHandlers() {
    if (::pipe(g_wake) == 0) {
        for (int fd : g_wake) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

std::string hexLine(const std::uint8_t* data, std::size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i) {
        if (i)
            out += ' ';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0x0F];
    }
    return out;
}

int msUntil(const Clock::time_point* when) {
    if (!when)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*when - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace devsim
