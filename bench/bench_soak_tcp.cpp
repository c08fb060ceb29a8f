// Polling over Modbus TCP through the engine against the libmodbus server of the tests, which
// is stopped and started again on its port twice along the way (Reopen finds it each time).
// Two reads of registers whose values differ take turns; one line:
//   soak_tcp varnok polls=10000 shifted=0 requests=... replies=... timeouts=... errors=...
//       waiting=... restarts=2 losses=2 ms=... adds_up=yes
//   bench_soak_tcp [POLLS, default 10000]
// Exits 1 when a value shifted or the counts do not add up.
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/tcp_soak.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int polls = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 10000000) : 10000;
    varnok::test::TcpSoak soak(polls, 2);
    soak.finished = [&app] { QTimer::singleShot(0, &app, &QCoreApplication::quit); };
    if (!soak.start()) {
        std::printf("soak_tcp varnok: the libmodbus server did not start\n");
        return 2;
    }
    // Bounded in time: a soak that stops making progress still ends and says so.
    QTimer::singleShot(std::max(60000, polls * 10), &app, &QCoreApplication::quit);
    app.exec();
    const auto r = soak.result();
    std::printf("soak_tcp varnok %s adds_up=%s%s\n", qPrintable(r.text()),
                r.addsUp() ? "yes" : "no", soak.done() ? "" : " (ended by its time limit)");
    return soak.done() && r.shifted == 0 && r.addsUp() ? 0 : 1;
}
