#include "support/ser2net_process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>

namespace varnok::test {

bool Ser2netProcess::installed() {
    return QFileInfo(kProgram).isExecutable();
}

namespace {

// Whether a socket of 127.0.0.1 listens on `port` (/proc/net/tcp: address:port in hexadecimal,
// state 0A).
bool listening(quint16 port) {
    QFile table("/proc/net/tcp");
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local =
        "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 3 && f[1] == local && f[3] == "0A")
            return true;
    }
    return false;
}

} // namespace

quint16 freeLocalPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool Ser2netProcess::start(const QString& device, const QString& settings) {
    rawPort_ = freeLocalPort();
    rfc2217Port_ = freeLocalPort();
    const QString connector = "  connector: serialdev," + device + "," + settings + ",local\n" +
                              "  options:\n    chardelay: false\n";
    QFile config(dir_.filePath("ser2net.yaml"));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(("%YAML 1.1\n---\nconnection: &raw\n  accepter: tcp,127.0.0.1," +
                  QString::number(rawPort_) + "\n" + connector +
                  "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                  QString::number(rfc2217Port_) + "\n" + connector)
                     .toUtf8());
    config.close();
    // A test that dies (a crash, a sanitizer abort) takes its server with it.
    proc_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proc_.start(kProgram, {"-n", "-u", "-c", config.fileName()});
    if (!proc_.waitForStarted(5000))
        return false;
    // A bad line leaves it running without that port: only a port that listens counts. It is
    // not tried by connecting: the server would open the device for that connection and turn
    // the next one away while it closes it ("Port's device already in use").
    QElapsedTimer t;
    t.start();
    while (!listening(rawPort_) || !listening(rfc2217Port_)) {
        if (t.elapsed() > 5000 || proc_.state() != QProcess::Running)
            return false;
        QThread::msleep(10);
    }
    return true;
}

void Ser2netProcess::stop() {
    if (proc_.state() == QProcess::NotRunning)
        return;
    proc_.terminate();
    if (!proc_.waitForFinished(2000)) {
        proc_.kill();
        proc_.waitForFinished(2000);
    }
}

} // namespace varnok::test
