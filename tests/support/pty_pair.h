#pragma once
// A pseudo-terminal pair as the null-modem cable: the test holds the master end (the device),
// the program under test opens the slave path.
#include <QByteArray>
#include <QString>

namespace varnok::test {

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    QString slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Writes everything from the device end, serving window events while the line is full.
    void write(const QByteArray& bytes);
    // What the device end has received so far (non-blocking).
    QByteArray readAvailable();
    // Reads until `count` bytes came or `timeoutMs` passed, serving window events meanwhile.
    QByteArray readExactly(qsizetype count, int timeoutMs);
    // Everything that arrives within `ms`, serving window events meanwhile.
    QByteArray readFor(int ms);
    // The device vanishes (as a pulled adapter does).
    void closeMaster();

  private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};

} // namespace varnok::test
