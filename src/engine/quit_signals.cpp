#include "engine/quit_signals.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace varnok::engine {

namespace {

int quitPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(quitPipe[1], &byte, 1);
}

} // namespace

void onQuitSignals(QObject* context, std::initializer_list<int> which, std::function<void()> then) {
    if (quitPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [then = std::move(then)] {
        char byte = 0;
        [[maybe_unused]] const ssize_t n = ::read(quitPipe[0], &byte, 1);
        then();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : which)
        ::sigaction(sig, &action, nullptr);
}

} // namespace varnok::engine
