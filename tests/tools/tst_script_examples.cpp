// The example scripts, run headless against the simulator as their headers say.
#include <QProcess>
#include <QTest>
#include <memory>
#include <vector>

#include "support/devsim_process.h"

class TstScriptExamples : public QObject {
    Q_OBJECT
  private slots:
    void runsAgainstTheSimulator_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("devices"); // one simulator each, bound to Com1, Com2...
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("outHas");
        QStringList stations;
        for (int n = 1; n <= 10; ++n)
            stations << QStringLiteral("--station %1").arg(n);
        QTest::newRow("n500 address: read, write, read back")
            << "n500_address.lua" << QStringList{"--mode n500"}
            << QStringList{"192.168.0.50", "255.255.255.0", "192.168.0.1"} << 0
            << "IP       10.0.0.7\nMASK     255.0.0.0\nGATEWAY  10.0.0.1\nwritten: 192.168.0.50";
        QTest::newRow("n500 address: a bad value stops before anything is sent")
            << "n500_address.lua" << QStringList{"--mode n500"}
            << QStringList{"192.168.0.256", "255.255.255.0", "192.168.0.1"} << 2 << "";
        QTest::newRow("register limits: ten stations, each on its port")
            << "register_limits.lua" << stations << QStringList{"apart"} << 0
            << "station 10  sine=";
        QTest::newRow("register limits: a missing station fails its check")
            << "register_limits.lua" << QStringList{"--station 2"} << QStringList{"one", "2"} << 1
            << "station  2  sine=";
        QTest::newRow("console login: in and out")
            << "console_login.lua" << QStringList{"--mode login"} << QStringList{"admin", "varnok"}
            << 0 << "version: varnok-devsim console 1.0";
        QTest::newRow("console login: a wrong password fails")
            << "console_login.lua" << QStringList{"--mode login"} << QStringList{"admin", "wrong"}
            << 1 << "";
        QTest::newRow("dtr reset: the boot banner comes")
            << "dtr_reset.lua" << QStringList{"--mode login"} << QStringList{} << 0
            << "booted after";
    }
    void runsAgainstTheSimulator() {
        QFETCH(QString, script);
        QFETCH(QStringList, devices);
        QFETCH(QStringList, args);
        std::vector<std::unique_ptr<varnok::test::DevsimProcess>> sims;
        QStringList arguments{"--script", QStringLiteral(VARNOK_EXAMPLES "/") + script};
        for (const QString& device : devices) {
            sims.push_back(std::make_unique<varnok::test::DevsimProcess>());
            QVERIFY(sims.back()->start(QProcess::splitCommand(device)));
            arguments << "--port"
                      << QStringLiteral("Com%1=%2").arg(sims.size()).arg(sims.back()->path());
        }
        QProcess p;
        p.start(QStringLiteral(VARNOK_BINARY), arguments + QStringList{"--"} + args);
        QVERIFY(p.waitForFinished(20000));
        const QByteArray out = p.readAllStandardOutput(), err = p.readAllStandardError();
        QFETCH(int, status);
        QFETCH(QString, outHas);
        QVERIFY2(p.exitCode() == status, (out + err).constData());
        QVERIFY2(out.contains(outHas.toUtf8()), (out + err).constData());
    }
};

QTEST_GUILESS_MAIN(TstScriptExamples)
#include "tst_script_examples.moc"
