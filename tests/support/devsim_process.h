// One varnok-devsim process for a test; the target passes the program as VARNOK_DEVSIM.
// Header only, so pure-logic tests can use it without the window library.
#pragma once

#include <QProcess>
#include <QStringList>
#include <csignal>
#include <sys/prctl.h>

namespace varnok::test {

class DevsimProcess {
  public:
    ~DevsimProcess() {
        if (proc_.state() == QProcess::NotRunning)
            return;
        proc_.terminate();
        if (!proc_.waitForFinished(2000)) {
            proc_.kill();
            proc_.waitForFinished(2000);
        }
    }
    // Starts it and reads the "DEVICE <path>" line it prints first. Its log goes to the
    // test's stderr unless kept for readAllStandardError().
    bool start(const QStringList& args, bool keepLog = false) {
        proc_.setReadChannel(QProcess::StandardOutput);
        proc_.setProcessChannelMode(keepLog ? QProcess::SeparateChannels
                                            : QProcess::ForwardedErrorChannel);
        // A test that dies (a crash, a sanitizer abort) takes its simulator with it.
        proc_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        proc_.start(QStringLiteral(VARNOK_DEVSIM), args);
        if (!proc_.waitForStarted(5000))
            return false;
        while (!proc_.canReadLine())
            if (!proc_.waitForReadyRead(5000))
                return false;
        const QByteArray line = proc_.readLine().trimmed();
        if (!line.startsWith("DEVICE "))
            return false;
        path_ = QString::fromLocal8Bit(line.mid(7));
        return true;
    }
    QString path() const { return path_; }
    QProcess& process() { return proc_; }

  private:
    QProcess proc_;
    QString path_;
};

} // namespace varnok::test
