#pragma once
// The device simulator for a benchmark: started with its log going nowhere (writing it would
// cost the simulator time), its device path read from its first line, stopped at the end.
// The target passes the program as VARNOK_DEVSIM.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace varnok::bench {

struct Simulator {
    QProcess process;
    QString path; // "" when it did not start
    explicit Simulator(const QStringList& args) {
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(QStringLiteral(VARNOK_DEVSIM), args);
        while (path.isEmpty() && process.waitForReadyRead(5000))
            if (process.canReadLine())
                path = QString::fromLocal8Bit(process.readLine().trimmed().mid(7));
    }
    ~Simulator() {
        process.terminate();
        process.waitForFinished(2000);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
};

} // namespace varnok::bench
