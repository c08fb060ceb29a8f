#pragma once
// A Modbus RTU master over the terminal's port: one transaction at a time, with a reply
// timeout and retries, polling a list of reads in turn and putting writes before the next
// read. Event-driven: nothing blocks and nothing waits in a loop. It holds a lease on the line
// while it has work (the terminal's receive goes to manual and comes back), holds the
// terminal's own sends while a transaction is on the line, and gives the line up between two
// transactions to anyone who asks for it (a sweep, the console, a sequence), then waits its turn.
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "engine/modbus_transaction.h"
#include "engine/outcome.h"
#include "logic/modbus/poll_request.h"
#include "logic/modbus/poll_status.h"

namespace varnok::engine {

class TerminalEngine;

struct PollRead {
    modbus::PollRequest request; // function 01-04
    int periodMs = 1000;         // from the start of one poll to the next; 0: back to back
    int timeoutMs = 1000;
    int retries = 0; // 0-3, after a timeout or a garbled reply (never after an exception)
};

// How one transaction ended.
struct PollResult {
    std::optional<int> read; // the read's index in reads(); none for a write
    modbus::PollRequest request;
    bool ok = false;          // the values asked for, or a write confirmed
    bool timedOut = false;    // the last try got no reply at all
    modbus::ReplyCheck reply; // the last try's reply as checked (status, values, text)
    QString text;             // "ok", "timeout", "exception 02 illegal data address", ...
    int attempts = 0;
    std::int64_t responseUs = -1; // request written to the reply's first byte read
    qint64 wallMs = 0;
};

class ModbusMaster : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxRetries = 3;

    explicit ModbusMaster(TerminalEngine& engine, QObject* parent = nullptr);
    ~ModbusMaster() override;

    // Each request is built once here: a bad one fails naming the read, and the reads stay
    // as they were.
    Outcome setReads(const std::vector<PollRead>& reads);
    const std::vector<PollRead>& reads() const { return reads_; }

    // Polling is wanted from start() to stop(); it runs while the port is open. A port
    // closed by the user ends it; a device that vanished with Reopen on resumes it on return.
    void start();
    void stop();
    bool polling() const { return wanted_; }
    bool busy() const { return inFlight_; }

    // Queued before the next read. A bad request or a closed port fails with its text;
    // nothing is queued then.
    Outcome write(const modbus::PollRequest& request, int timeoutMs = 1000, int retries = 0);

    const modbus::PollStatus& status(int read) const { return status_.at(std::size_t(read)); }
    void resetStatus();

  signals:
    void done(const varnok::engine::PollResult& result);
    void cycleDone(); // the last read of the list has ended: one completed poll
    void pollingChanged(bool on);
    // The master has work but another user holds the line ("Find Device"); "" once it has it.
    void waitingForLine(const QString& holder);
    // Polling stopped, or did not start, because listen only is on (the text to show).
    void refused(const QString& text);

  private:
    struct Job {
        std::optional<int> read; // none for a write
        bool replaced = false;   // a read of a list replaced meanwhile: told to nobody
        modbus::PollRequest request;
        QByteArray frame;
        int timeoutMs = 1000;
        int retries = 0;
    };
    void next();
    void send();
    void onData();
    void finish();
    void count(const modbus::Transaction& t);
    void abort();
    void askForLine();
    void onGranted(LineLease lease);
    void giveBack();
    void onPortOpen(bool open);
    bool refuseWhileListening(); // true when listen only stopped everything

    TerminalEngine& engine_;
    std::vector<PollRead> reads_;
    std::vector<QByteArray> frames_;
    std::vector<std::int64_t> dueUs_;
    std::vector<modbus::PollStatus> status_;
    std::deque<Job> writes_;
    int lastRead_ = -1;
    bool wanted_ = false;
    LineLease lease_;
    SendHold hold_;         // while a transaction is on the line
    std::uint64_t ask_ = 0; // an ask for the line still waiting
    bool toldWaiting_ = false;

    bool inFlight_ = false;
    Job job_;
    ModbusTransaction tx_;
    bool reading_ = false; // inside onData: the port's signals are that read's bytes
    modbus::Framing framing_ = modbus::Framing::Line; // of the link, read at each send
    QByteArray early_;                                // Modbus TCP bytes between two transactions
    QTimer idle_;
};

} // namespace varnok::engine
