#pragma once
// Polling over Modbus TCP through the engine while the libmodbus server is stopped and started
// again on its own port, for a test's row and for bench_soak_tcp. Two reads of registers whose
// values differ (10-13 and 40-43) take turns, so a reply taken for the other read shows as a
// shifted value; Reopen finds the server again each time. Header only: the benchmark needs no
// test library.
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>

#include "engine/modbus_master.h"
#include "engine/terminal_engine.h"
#include "logic/serial/port_map.h"
#include "loopback/modbus_servers.h"

namespace varnok::test {

class TcpSoak {
  public:
    struct Result {
        int polls = 0;   // ended transactions
        int shifted = 0; // ok, but with values of other registers
        int restarts = 0;
        int messages = 0; // the engine's, one per loss
        // Requests on the wire, and what became of them.
        unsigned long long requests = 0, replies = 0, timeouts = 0, errors = 0, waiting = 0;
        long long ms = 0;
        bool addsUp() const { return requests == replies + timeouts + errors + waiting; }
        QString text() const {
            return QString::asprintf("polls=%d shifted=%d requests=%llu replies=%llu "
                                     "timeouts=%llu errors=%llu waiting=%llu restarts=%d "
                                     "losses=%d ms=%lld",
                                     polls, shifted, requests, replies, timeouts, errors, waiting,
                                     restarts, messages, ms);
        }
    };

    // `polls` in all; the server goes down `restarts` times, evenly spread, for `downMs`.
    TcpSoak(int polls, int restarts, int downMs = 200)
        : polls_(polls), restarts_(restarts), downMs_(downMs) {
        using E = engine::TerminalEngine;
        QObject::connect(&e_, &E::sent, &m_,
                         [this](const QByteArray&, engine::TrafficTime) { ++requests_; });
        QObject::connect(&e_, &E::message, &m_, [this](const QString&) { ++messages_; });
        QObject::connect(&m_, &engine::ModbusMaster::done, &m_,
                         [this](const engine::PollResult& p) { onDone(p); });
        up_.setSingleShot(true);
        QObject::connect(&up_, &QTimer::timeout, &m_, [this] { server_.start({}, port_); });
    }
    ~TcpSoak() { serial::clearPortBindings(); }

    std::function<void()> finished;

    bool start() {
        if (!server_.start())
            return false;
        port_ = server_.port();
        serial::bindPort(1, "modbus-tcp://127.0.0.1:" + std::to_string(port_));
        if (!m_.setReads({{{1, 3, 10, 4, {}, {}}, 0, 500, 0}, {{1, 3, 40, 4, {}, {}}, 0, 500, 0}}))
            return false;
        e_.setReopen(true);
        m_.start(); // goes on once the port is open
        clock_.start();
        return e_.open({}).ok();
    }
    bool done() const { return done_; }

    Result result() const {
        Result r;
        r.polls = polls_ - left_;
        r.shifted = shifted_;
        r.restarts = restarted_;
        r.messages = messages_;
        r.requests = requests_;
        for (int i = 0; i < 2; ++i) {
            const modbus::PollStatus& s = m_.status(i);
            r.replies += s.valid;
            for (const auto& [code, n] : s.exceptions)
                r.replies += n;
            r.timeouts += s.timeouts;
            r.errors += s.crcErrors + s.otherErrors;
        }
        r.waiting = m_.busy() ? 1 : 0;
        r.ms = clock_.elapsed();
        return r;
    }

  private:
    void onDone(const engine::PollResult& p) {
        if (done_)
            return;
        if (p.ok) {
            const auto& v = p.reply.registers;
            for (std::size_t i = 0; i < v.size(); ++i)
                if (std::size_t(v[i]) != 1000u + p.request.address + i) {
                    ++shifted_;
                    break;
                }
        }
        if (--left_ <= 0) {
            done_ = true;
            m_.stop();
            if (finished)
                finished();
            return;
        }
        const int due = (restarted_ + 1) * polls_ / (restarts_ + 1);
        if (restarted_ < restarts_ && polls_ - left_ >= due) {
            ++restarted_;
            server_.stop(); // its connection closes: the engine loses the port
            up_.start(downMs_);
        }
    }

    const int polls_, restarts_, downMs_;
    int left_ = polls_, shifted_ = 0, restarted_ = 0, messages_ = 0;
    unsigned long long requests_ = 0;
    bool done_ = false;
    std::uint16_t port_ = 0;
    QElapsedTimer clock_;
    LibmodbusServer server_;
    engine::TerminalEngine e_;
    engine::ModbusMaster m_{e_};
    QTimer up_;
};

} // namespace varnok::test
