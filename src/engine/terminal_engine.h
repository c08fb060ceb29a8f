#pragma once
// The terminal without its window: owns the port and holds the receive, send and auto-send
// state with their rules. A window (or a test) calls it and follows its signals; it never
// touches a widget and never asks the user anything.
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/line_lease.h"
#include "engine/outcome.h"
#include "logic/codec/send_encoding.h"
#include "logic/codec/send_history.h"
#include "logic/serial/settings_text.h"
#include "port/device_watcher.h"
#include "port/link.h"

namespace varnok::engine {

// When bytes passed the port: monotonic for intervals, wall clock for showing.
struct TrafficTime {
    qint64 monotonicNs = 0;
    qint64 wallMs = 0;
    static TrafficTime now();
};

// What "Open COM" opens with.
struct OpenRequest {
    int portNumber = 1;
    QString baud = QStringLiteral("115200");
    QString lineControl = QStringLiteral("n,8,1");
    serial::Handshaking handshaking = serial::Handshaking::None;
    bool dtrAsserted = true;
};

// What one press of "Send " sends.
struct SendRequest {
    std::u16string text;
    codec::EndOfString eos = codec::EndOfString::CR;
    std::u16string defText;
};

class TerminalEngine : public QObject {
    Q_OBJECT
  public:
    static constexpr std::int32_t kShowLimit = 1024;         // auto receive display, normal
    static constexpr std::int32_t kShowLimitShrunk = 2048;   // after "Enlarge" was undone
    static constexpr std::int32_t kShowLimitEnlarged = 8192; // while enlarged
    // Auto receive tells the display at most once a frame of about this length. Once input
    // has kept every frame busy for kCounterFrameMs, the receive counters are told at most that
    // often: nobody reads a number that changes sixty times a second, and each change repaints
    // the frame around it. They are told with the text again as soon as a frame is quiet.
    static constexpr int kDisplayFrameMs = 16;
    static constexpr int kCounterFrameMs = 100;

    // Takes a link (tests hand in one whose modem lines they play); else makes the local
    // serial device, the one place a concrete link is made.
    explicit TerminalEngine(std::unique_ptr<serial::Link> port = nullptr,
                            QObject* parent = nullptr);
    ~TerminalEngine() override;

    serial::Link& port() { return *port_; }
    // The serial devices present and the paths watched; one watcher for the whole program.
    serial::DeviceWatcher& devices() { return devices_; }

    // ---- port ----
    // Failed with the text to show; the display is told first, so it stands as the user reads.
    Outcome open(const OpenRequest& request);
    // When the open device vanishes, watch for its path to return and open it again with the
    // same settings and receive way, without a message.
    void setReopen(bool on);
    bool reopen() const { return reopen_; }
    bool watchingForReopen() const { return !reopenPath_.isEmpty(); }
    // Closes the port, or cancels a connection under way.
    void close();
    void shutdown(); // the program ends: close quietly, stop everything
    bool isOpen() const { return portOpened_; }
    // Whether the last closing came from the device vanishing rather than a close.
    bool closedByLoss() const { return closedByLoss_; }
    // A port over the network connects: open() has returned, and the opening ends later
    // (portOpenChanged, or one message naming the host, the port and the reason).
    bool connecting() const { return connecting_; }
    const OpenRequest& lastOpenRequest() const { return openRequest_; }
    // The line settings in force since the last opening, as the port reports them.
    const serial::LineSettings& lineSettings() const { return port_->settingsInForce(); }
    // What the window says once of the open device ("" for a real line).
    QString deviceNote() const { return deviceNote_; }
    void setDtrAsserted(bool asserted);
    // The link state text from DCD and the open state; a line that cannot be read is reported.
    void pollLink();
    QString linkState() const { return linkState_; }

    // ---- receive ----
    void startAutoReceive();               // auto receive from now on
    void scheduleAutoReceive(int delayMs); // the same, once delayMs have passed
    void manualRead();                     // manual receive from now on, and read once
    void clearReceive();                   // display and counters to zero
    void clearInput();                     // drop what arrived and was not shown
    void setReceiveBinary(bool binary);
    void setShowData(bool show) { showData_ = show; }
    void setShowLimit(std::int32_t limit) { showLimit_ = limit; }
    bool manualReceive() const { return manual_; }
    bool receiveBinary() const { return binary_; }
    bool autoReceiveRunning() const { return loop_ != AutoLoop::Off; }
    std::int32_t showLimit() const { return showLimit_; }
    // What the receive display holds, also what is not yet told through displayAppended.
    const QString& displayText() const { return display_; }
    std::int32_t receiveLength() const { return recvLength_; }
    std::int32_t receiveTotal() const { return recvTotal_; }

    // ---- the line, one user at a time (see line_lease.h) ----
    // Asks for the line: `granted` gets the lease at once when nobody holds it (before this
    // returns), else once those asking before have given theirs back, as long as `context`
    // lives. The ticket withdraws an ask still waiting. Closing the port ends every lease and
    // drops every ask: each user follows portOpenChanged.
    std::uint64_t askForLine(const LineUse& use, QObject* context,
                             std::function<void(LineLease)> granted);
    void withdrawAsk(std::uint64_t ticket);
    QString lineHolder() const { return holder_ ? holder_->use.who : QString(); }

    // ---- the console of a network device ----
    // Takes the line, drops input left from before (an answer that came late), writes the
    // command and, once pauseMs have passed, reads the reply until a turn of the event loop
    // brings no more; then hands it to `done`, as long as `context` lives, and gives the line
    // back. Nothing waits meanwhile. A closed port fails, and so does a port that refuses the
    // drop or the write when the line is free at once, with a text naming the command as
    // `what`. A failure met later is reported once like any other, and `done` gets nothing; so
    // does closing the port meanwhile. A new exchange ends the one before without its call.
    Outcome consoleExchange(const QString& command, int pauseMs, const QString& what,
                            QObject* context, std::function<void(std::optional<QString>)> done);
    static Outcome consoleNotOpen(const QString& what);    // the failure of a closed port
    static constexpr qsizetype kConsoleReplyLimit = 65536; // characters read at most

    // ---- send ----
    void setSendAscii(bool ascii);
    bool sendAscii() const { return sendAscii_; }
    // One press of "Send " (or an auto-send tick): encode, count, write; failures reported.
    void send(const SendRequest& request, bool autoTick = false);
    std::u16string historyUp() { return history_.up(); }
    std::u16string historyDown() { return history_.down(); }
    // The total box as the user left it: the next send adds to what it says.
    void setSendTotalText(const QString& text) { sendTotalText_ = text.toStdU16String(); }
    void clearSendCounters();
    std::int32_t sendShown() const { return sendShown_; }

    // ---- auto-send ----
    // Validates the typed period; 0 stops the ticks. Failed with the text to show.
    Outcome setAutoSendPeriod(const QString& typed);
    void setAutoSend(bool on);
    bool autoSend() const { return autoSend_; }
    QTimer* autoSendTimer() { return &autoSendTimer_; }

    // ---- Modbus ----
    // Builds the frame with its CRC and writes it; the frame, or nothing after one message.
    // On Modbus TCP the first byte is the unit id and the rest the PDU, sent behind an MBAP
    // header with the next transaction id instead of the CRC.
    std::optional<std::vector<std::uint8_t>> sendRtuRequest(std::u16string_view list);

    // ---- other senders (stored sends, files) ----
    // Writes the bytes as they are and counts them as sent; a closed port or a full output
    // queue fails with the port's description and nothing is written.
    Outcome sendBytes(const QByteArray& bytes);

    // ---- listen only ----
    // While on, nothing this program makes is sent: every sender is refused with
    // kListenOnlyText, and the one write path refuses whatever still reaches it. Only a lease
    // asked with LineUse::forwards (the bridge) writes.
    void setListenOnly(bool on);
    bool listenOnly() const { return listenOnly_; }
    static QString listenOnlyText();
    // The failure a sender answers with while listen only is on (done otherwise).
    Outcome checkListenOnly() const;

    // ---- low latency ----
    // Asks the serial driver to hand over input at once (kept across openings); "" when
    // granted or off, else why not. A closed port answers "" and asks at the next opening.
    QString setLowLatency(bool on);
    bool lowLatency() const { return lowLatency_; }

  signals:
    void listenOnlyChanged(bool on);
    void portOpenChanged(bool open);
    void connectingChanged(bool connecting);
    void lineSettingsChanged(const varnok::serial::LineSettings& inForce); // while open
    void receiveModeChanged(); // manual/auto or binary/ASCII
    void sendModeChanged(bool ascii);
    void autoSendChanged(bool on);
    void autoSendDue(); // a tick: the window hands in the send box as it is now
    // Auto receive tells these at most once a frame, and every one of them before any
    // message; a manual read and a clear by hand tell theirs at once.
    void displayAppended(const QString& chunk);
    void displayCleared();
    void displayReplaced(const QString& whole); // the manual cap dropped text off the front
    void receiveCountersChanged(std::int32_t length, std::int32_t total);
    void sendCountersChanged(std::int32_t shown, std::int32_t total);
    void modemLinesChanged(bool known, serial::ModemLines lines); // unknown while closed
    void linkStateChanged(const QString& text);
    void reopened(const QString& path);
    // Reopen waits for `path` to return (true) or has stopped waiting (false).
    void reopenWaitingChanged(bool waiting, const QString& path);
    void lineHolderChanged(const QString& who); // "" once nobody holds the line
    void message(const QString& text);          // one modal message; returns once answered

    // Every byte that leaves or arrives, one signal per write or read.
    void sent(const QByteArray& bytes, varnok::engine::TrafficTime time);
    void received(const QByteArray& bytes, varnok::engine::TrafficTime time);
    // Every byte once, as it reaches the program, in every receive mode: with `received` when
    // it is read at once, else while it waits for the manual read (which still takes it).
    void arrived(const QByteArray& bytes);

  private:
    friend class LineLease;
    friend class SendHold;
    // The holder of the line and what it changed; an ask waiting for it.
    struct Holder {
        std::uint64_t id = 0;
        LineUse use;
        bool inputTaken = false;
        bool settingsChanged = false;
        bool wantedTold = false;
        std::function<void()> onData, onWanted;
    };
    struct Ask {
        std::uint64_t ticket = 0;
        LineUse use;
        QPointer<QObject> context;
        std::function<void(LineLease)> granted;
    };
    void grantNext();
    void giveBack(std::uint64_t id);
    Holder* holder(std::uint64_t id) { return holder_ && holder_->id == id ? &*holder_ : nullptr; }
    void takeInput(Holder& h);
    void returnInput();
    void endLeases(); // the port closed: nobody holds the line, nobody waits for it
    void endSendHold();
    Outcome changeLineSettings(const serial::LineSettings& line);
    void write(const QByteArray& bytes);
    QByteArray read();
    void tellWaiting(); // what waits unread, to `arrived`
    Outcome tryOpen(const OpenRequest& request);
    Outcome finishOpen();
    void onOpenSettled(const QString& failure);
    void setConnecting(bool on);
    void cancelConnecting();
    void finishReopen(const QString& path);
    void enterClosed(bool lost = true);
    void watchForReopen();
    void stopReopenWatch();
    void tryReopen();
    void onDeviceLost();
    void closeIfLost();
    void fail(const char* form, const Failure& e);
    void receivePass();
    void readLines();
    void runPass();
    void stopAutoLoop();
    QString displayChunk(const QByteArray& bytes) const;
    void appendDisplay(const QString& chunk);
    void appendManual(const QString& chunk, std::int64_t dropFront);
    void setReceiveCounters(std::int32_t length, std::int32_t total);
    void tellDisplayLater();
    // What the window has not been told; the counters only when `countersNow` or due.
    void tellDisplay(bool countersNow = true);
    void setSendCounters(std::int32_t shown, std::int32_t total);
    void showLines(bool known, serial::ModemLines lines);
    void report(const QString& text);
    // What the device line adds for the open link: framing not applied, settings not confirmed.
    QString noteOnLink() const;

    std::unique_ptr<serial::Link> port_;
    OpenRequest openRequest_;
    bool portOpened_ = false;
    bool closedByLoss_ = false;
    QString linkState_ = QStringLiteral("Local Breaking");
    bool linkMessageOpen_ = false;
    bool reopen_ = false;
    QString reopenPath_;   // the vanished device watched for ("" when not watching)
    QString reopenTarget_; // what the path led to when the device vanished
    bool reopenSeenGone_ = false;
    serial::DeviceWatcher devices_;
    QString deviceNote_;
    QTimer reopenRetry_;
    static constexpr int kDeviceRetryMs = 500;    // a device present but not ready yet
    static constexpr int kNetworkReopenMs = 1000; // a server asked again at most this often
    bool connecting_ = false;
    QString reopenConnecting_; // the port Reopen connects to now ("" otherwise)
    bool reopenManual_ = false, reopenBinary_ = false, reopenAscii_ = true;

    bool manual_ = false;
    bool binary_ = false;
    bool showData_ = true;
    std::int32_t showLimit_ = kShowLimit;
    std::int32_t totalBase_ = 0;
    std::int32_t recvLength_ = 0;
    std::int32_t recvTotal_ = 0;
    QString display_;
    // Auto receive: off, waiting for input, a pass queued for what the last one left, or a
    // pass running (input told then, in a nested loop, only leaves a note).
    enum class AutoLoop { Off, Waiting, Queued, Passing } loop_ = AutoLoop::Off;
    bool arrivedInPass_ = false;
    QTimer autoStart_;
    // What the window has not been told yet: display_ past toldLength_, a clear, counters.
    qsizetype toldLength_ = 0;
    bool clearUntold_ = false;
    int inputLent_ = 0; // leases taking the input (one at a time; a count for hand-overs)
    bool manualBeforeLease_ = false; // the receive way the input comes back to
    qsizetype toldWaiting_ = 0;      // the front of the port's waiting input told to `arrived`
    bool windowEmpty_ = true; // nothing told since the last clear: another clear would only repaint
    bool countersUntold_ = false;
    QTimer displayFrame_;
    QElapsedTimer clock_;    // the times below are ms on it
    qint64 toldMs_ = -1000;  // the last telling
    qint64 busySinceMs_ = 0; // the first of the frames told one after another since
    qint64 countersToldMs_ = -1000;
    qint64 frameDueMs_ = 0; // when displayFrame_ ends, while it runs
    std::optional<serial::ModemLines> shownLines_;

    bool sendAscii_ = true;
    codec::SendHistory history_;
    std::int32_t sendShown_ = 0;
    std::u16string sendTotalText_ = u"0";
    bool sendMessageOpen_ = false;
    bool blockedTold_ = false; // auto-send said once that its ticks are skipped
    bool autoSend_ = false;
    QTimer autoSendTimer_;

    // ---- the console exchange under way ----
    void consoleBegin(const QString& command, int pauseMs);
    void consoleStep();
    void endConsoleExchange(std::optional<QString> reply);
    QTimer consoleStep_;
    QString consoleReply_;
    QPointer<QObject> consoleContext_;
    std::function<void(std::optional<QString>)> consoleDone_;
    LineLease consoleLease_;
    SendHold consoleHold_;
    std::uint64_t consoleAsk_ = 0;
    bool consoleAsking_ = false;

    // ---- the line's users ----
    std::optional<Holder> holder_;
    std::deque<Ask> asks_;
    std::uint64_t nextTicket_ = 0;
    bool listenOnly_ = false;
    bool lowLatency_ = false;
    int sendHolds_ = 0;
    QList<QByteArray> heldSends_;
};

} // namespace varnok::engine
