#pragma once
// A pseudo-terminal this program creates for another program on this computer to open as
// its serial port: the program keeps the master end, reads and writes it without waiting,
// and keeps the terminal end open itself, so the master never hangs up while nobody else
// has it open. A stable link in the user's runtime folder leads to the terminal end.
#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <deque>

namespace varnok::serial {

class PtyLink : public QObject {
    Q_OBJECT
  public:
    explicit PtyLink(QObject* parent = nullptr);
    ~PtyLink() override;

    // The stable link: $XDG_RUNTIME_DIR/varnok-binary/bridge, or
    // /tmp/varnok-binary-UID/bridge without XDG_RUNTIME_DIR.
    static QString defaultLinkPath();

    // Creates the pseudo-terminal (raw) and points `linkPath` at it, replacing what was
    // there; "" when done, else why not.
    QString create(const QString& linkPath = defaultLinkPath());
    // Closes it and removes the link (when it still leads here).
    void close();
    bool isOpen() const { return master_ >= 0; }
    QString linkPath() const { return linkPath_; }
    QString devicePath() const { return device_; } // /dev/pts/N

    // Everything the other program wrote and this one has not taken yet.
    QByteArray read();
    // Reading stops while off: the kernel holds what comes, and the writer waits.
    void setReading(bool on);
    // Written now as far as the other end takes it; the rest leaves in order later.
    void write(const QByteArray& bytes);
    qint64 queuedOutput() const { return queued_; }

  signals:
    void dataArrived();
    void outputLeft(); // some queued bytes have left

  private:
    void flush();

    int master_ = -1;
    int slave_ = -1; // kept open: the master never sees a hang-up
    QString device_, linkPath_;
    QSocketNotifier* reader_ = nullptr;
    QSocketNotifier* writer_ = nullptr;
    std::deque<QByteArray> out_;
    qsizetype outFront_ = 0; // bytes of out_.front() already written
    qint64 queued_ = 0;
    char scratch_[65536];
};

} // namespace varnok::serial
