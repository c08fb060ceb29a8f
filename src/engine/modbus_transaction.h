#pragma once
// One Modbus transaction on a lease of the line, timed: writes the request, waits for the reply
// up to its timeout, ends a garbled reply after the line's silence, tries again as the rules
// say and tells when it has ended. The one running it reads the line and feeds what came.
#include <QByteArray>
#include <QObject>
#include <QTimer>

#include "engine/line_lease.h"
#include "logic/modbus/transaction.h"
#include "port/link.h"

namespace varnok::engine {

// How replies end on what carries the line.
modbus::Framing framingOf(serial::LinkKind kind);
// The next Modbus TCP transaction id, one series for every Modbus user of the program (the
// Modbus tool, the master, Find Device): a late reply to one is never taken by another.
std::uint16_t nextTransactionId();

class ModbusTransaction : public QObject {
    Q_OBJECT
  public:
    explicit ModbusTransaction(QObject* parent = nullptr);

    // Writes `frame` (the request built as an RTU frame) on `lease` at once, and again for a
    // retry, as long as it runs; the silence is the one of `line`. On Modbus TCP each try
    // goes out as an ADU with the next transaction id, the frame's station as its unit id.
    void start(LineLease& lease, const modbus::PollRequest& request, const QByteArray& frame,
               int timeoutMs, int retries, const serial::LineSettings& line,
               modbus::Framing framing = modbus::Framing::Line);
    void feed(const QByteArray& chunk);
    void cancel();
    bool running() const;
    const modbus::Transaction& rules() const { return rules_; }

  signals:
    void ended(); // rules() holds the outcome
    void lost();  // the port failed under it: it ends without an outcome

  private:
    void follow(modbus::Transaction::Step step);
    void write();

    LineLease* lease_ = nullptr;
    modbus::Transaction rules_;
    QByteArray frame_;
    int timeoutMs_ = 1000, silenceMs_ = 2;
    modbus::Framing framing_ = modbus::Framing::Line;
    QTimer timeout_, silence_;
};

} // namespace varnok::engine
