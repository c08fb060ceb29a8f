// scripts/demo.sh offscreen: its simulators and terminal come up, each device answers as its kind,
// and however the demo ends, no process of it and none of its temporary files are left.
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// The processes of a session by name, zombies included.
QMultiMap<QByteArray, pid_t> sessionOf(pid_t sid) {
    QProcess ps;
    ps.start(QStringLiteral("ps"), {"-o", "pid=,comm=", "-s", QString::number(sid)});
    ps.waitForFinished();
    QMultiMap<QByteArray, pid_t> found;
    for (const QByteArray& line : ps.readAllStandardOutput().split('\n'))
        if (const QList<QByteArray> f = line.simplified().split(' '); f.size() == 2)
            found.insert(f[1], f[0].toInt());
    return found;
}

// The answer of the device the demo printed for com to one request: what it sends back
// within 2 s, up to want bytes.
QByteArray exchange(const QByteArray& out, const char* com, const QByteArray& request, int want) {
    const QString device =
        QString::fromUtf8(out).section(com + QString(" = "), 1).section(' ', 0, 0);
    QProcess sh;
    sh.start("sh", {"-c", "exec 3<>\"$0\"; stty raw -echo <&3; cat >&3; timeout 2 head -c $1 <&3",
                    device, QString::number(want)});
    sh.write(request);
    sh.closeWriteChannel();
    sh.waitForFinished(5000);
    return sh.readAllStandardOutput();
}

} // namespace

class TestDemo : public QObject {
    Q_OBJECT
  private slots:
    void startsAndStops_data() {
        QTest::addColumn<int>("sig"); // to the script; < 0 to the terminal; 0: it closes itself
        QTest::newRow("SIGTERM to the script") << SIGTERM;
        QTest::newRow("Ctrl-C to the script") << SIGINT;
        QTest::newRow("hang-up of the script") << SIGHUP;
        QTest::newRow("terminal killed") << -SIGTERM;
        QTest::newRow("terminal closes itself") << 0;
    }
    void startsAndStops() {
        QFETCH(int, sig);
        QTemporaryDir tmp;
        QProcess demo;
        demo.setEnvironment(QProcess::systemEnvironment()
                            << "VARNOK_NO_BUILD=1"
                            << "VARNOK_BUILD_DIR=" VARNOK_BUILD_DIR << "TMPDIR=" + tmp.path());
        const QString shot = tmp.filePath(QStringLiteral("shot.png"));
        QStringList args{VARNOK_DEMO_SCRIPT, "-platform", "offscreen"};
        if (!sig)
            args << QStringLiteral("--screenshot") << shot;
        // A session of its own, so that all it starts can be listed and, on a failure, ended.
        demo.start(QStringLiteral("setsid"), args);
        QVERIFY(demo.waitForStarted(5000));
        const auto pid = pid_t(demo.processId());
        auto guard = qScopeGuard([pid] { ::kill(-pid, SIGKILL); });

        // The bindings are printed once both simulators are up.
        QByteArray out;
        while (!out.contains("Close the terminal") && demo.waitForReadyRead(10000))
            out += demo.readAllStandardOutput();
        QVERIFY2(out.contains("Com2 = /"), out.constData());

        // The terminal is started right after; it is seen once it has run its own program.
        QMultiMap<QByteArray, pid_t> procs;
        QTRY_COMPARE_WITH_TIMEOUT((procs = sessionOf(pid)).count("varnok-binary"), 1, 5000);
        QCOMPARE(procs.count("varnok-devsim"), 2);
        if (sig) {
            // Com1 is the I/O module (holding register 0 = 0x1234), Com2 the N500 console.
            QCOMPARE(exchange(out, "Com1", QByteArray::fromHex("010300000001840A"), 7).toHex(' '),
                     QByteArray("01 03 02 12 34 b5 33"));
            QCOMPARE(exchange(out, "Com2", "ip\r", 13), QByteArray("IP=10.0.0.7\r\n"));
            QCOMPARE(::kill(sig < 0 ? procs.value("varnok-binary") : pid, qAbs(sig)), 0);
        }
        QVERIFY(demo.waitForFinished(10000));
        out += demo.readAllStandardOutput();
        QVERIFY2(sig || out.contains("Varnok_Binary  v" VARNOK_VERSION "  ( KOVRAN )"),
                 out.constData());
        QCOMPARE(QFile::exists(shot), !sig);
        QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
        QCOMPARE(demo.exitCode(), sig ? 128 + qAbs(sig) : 0);

        // The script has waited for each of them: not running, not even a zombie.
        QCOMPARE(sessionOf(pid).keys(), QList<QByteArray>());
        QCOMPARE(QDir(tmp.path()).entryList({QStringLiteral("varnok-demo.*")}), QStringList());
        guard.dismiss();
    }
};

QTEST_GUILESS_MAIN(TestDemo)
#include "tst_demo.moc"
