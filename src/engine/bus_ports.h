#pragma once
// The second port of the bus: port B beside the terminal's own port A. A tap opens B with
// A's line settings and only listens on both (the other direction of a tapped link); a
// bridge connects A and B, B being another port number or a pseudo-terminal made here for
// another program on this computer. Nothing this program makes is sent while either runs.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

#include "engine/line_lease.h"
#include "engine/outcome.h"
#include "engine/terminal_engine.h"

namespace varnok::serial {
class Link;
class PtyLink;
} // namespace varnok::serial

namespace varnok::engine {

class BusPorts : public QObject {
    Q_OBJECT
  public:
    enum class Mode { Single, Tap, Bridge };
    // A side's output queue above this stops reading the other side until it drains.
    static constexpr qint64 kQueueBound = 64 * 1024;

    explicit BusPorts(TerminalEngine& engine, QObject* parent = nullptr);
    ~BusPorts() override;

    // Opens port B with port A's line settings (A must be open) and listens on both.
    Outcome startTap(int portNumber);
    // Connects A and B both ways: B is that port number, or (nullopt) a pseudo-terminal made
    // here, reached through ptyPath().
    Outcome startBridge(std::optional<int> portNumber);
    void stop();
    Mode mode() const { return mode_; }

    // The created pseudo-terminal's stable link and its device ("" without one).
    QString ptyPath() const;
    QString ptyDevice() const;
    // What runs and where, with the last word on a side ("Tap: Port B (Com2, /dev/pts/7) and
    // port A (/dev/pts/6) hear one side each; nothing is sent. Port B (...) is gone"); "" in
    // one-port mode without such a word.
    QString stateText() const;
    // The last word on a side (gone, back), until the next start.
    const QString& note() const { return note_; }
    // "Port B (Com3, /dev/pts/7)", or the created pseudo-terminal's device.
    QString labelB() const;
    // Bytes carried from B to A and from A to B since the bridge started.
    qint64 forwardedToA() const { return toA_; }
    qint64 forwardedToB() const { return toB_; }
    // The most either side's output queue held since the bridge started (a diagnostic).
    qint64 peakQueued() const { return peak_; }

  signals:
    void modeChanged(varnok::engine::BusPorts::Mode mode);
    // What B brought in, as read (in a bridge the same bytes are then told by the terminal
    // as `sent`, written to A).
    void received(const QByteArray& bytes, varnok::engine::TrafficTime time);
    // Port B vanished or its server refused (told once per loss, naming it); the tap keeps A,
    // the bridge stops. Port A's loss is told by the terminal's own message; a bridge stops
    // on it quietly.
    void sideLost(const QString& text);
    // Port B is open again after a loss (Reopen on).
    void sideBack(const QString& text);
    // note() changed without a message of its own (port A gone or back under a tap).
    void noteChanged();

  private:
    Outcome openB(int portNumber);
    void tellLost(const QString& text);
    void tellBack();
    void closeB();
    void setMode(Mode mode);
    void onBData();
    void onBLost();
    void watchB();
    void tryReopenB();
    void onGranted(LineLease lease);
    void pump(); // moves what waits on either side, as far as the queues allow
    qint64 queuedToB() const;
    qint64 queuedToA() const;
    void setBReading(bool on);
    void endBridge();

    TerminalEngine& engine_;
    Mode mode_ = Mode::Single;
    bool listenOnlyBefore_ = false;
    std::unique_ptr<serial::Link> link_;   // B when it is a port number
    std::unique_ptr<serial::PtyLink> pty_; // B when made here
    int numberB_ = 0;
    QString pathB_;
    QString note_;
    bool bLost_ = false;
    QTimer reopenB_;
    LineLease lease_;
    std::uint64_t ask_ = 0;
    bool pumping_ = false, pumpAgain_ = false;
    qint64 toA_ = 0, toB_ = 0, peak_ = 0;
    QMetaObject::Connection aLeft_;
    QByteArray fromB_; // read from B, not yet taken by A's queue
};

} // namespace varnok::engine
