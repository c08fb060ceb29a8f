// scripts/demo.sh offscreen, in a session of its own: its devices answer as their kinds, and
// however it ends, it leaves no process (not even a zombie) and none of its temporary files.
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class TestDemo : public QObject {
    Q_OBJECT
  private slots:
    void startsAndStops_data() {
        QTest::addColumn<int>("sig"); // to the script; < 0 to the terminal; 0: it closes itself
        QTest::newRow("SIGTERM to the script") << SIGTERM;
        QTest::newRow("Ctrl-C to the script") << SIGINT;
        QTest::newRow("hang-up of the script") << SIGHUP;
        QTest::newRow("terminal killed") << -SIGKILL;
        QTest::newRow("terminal closes itself") << 0;
    }
    void startsAndStops() {
        QFETCH(int, sig);
        QTemporaryDir tmp;
        QProcess demo;
        QStringList args{"TMPDIR=" + tmp.path(), "QT_QPA_PLATFORM=offscreen", "VARNOK_NO_BUILD=1",
                         "VARNOK_BUILD_DIR=" VARNOK_BUILD_DIR};
        args += {"setsid", VARNOK_DEMO_SCRIPT, "--screenshot", tmp.filePath("shot.png")};
        demo.start("env", args.mid(0, sig ? 6 : 8));
        QVERIFY(demo.waitForStarted(5000));
        const QString sid = QString::number(demo.processId());
        auto guard = qScopeGuard([pid = sid.toInt()] { ::kill(-pid, SIGKILL); });
        const auto run = [](const QString& script, const QString& arg) {
            QProcess sh;
            sh.start("bash", {"-c", script, arg});
            sh.waitForFinished(5000);
            return sh.readAllStandardOutput();
        };

        QByteArray out;
        while (!out.contains("Close the terminal") && demo.waitForReadyRead(10000))
            out += demo.readAllStandardOutput();
        QTRY_COMPARE_WITH_TIMEOUT(run("ps -o comm= -s $0 | grep varnok | sort", sid),
                                  "varnok-binary\nvarnok-devsim\nvarnok-devsim\nvarnok-devsim\n",
                                  5000);
        if (sig) {
            // Com1 is the I/O module (holding register 0 = 0x1234), Com2 the N500 console,
            // Com4 another module's Modbus TCP server, Com3 the same module through ser2net
            // (its 21 bytes of Telnet options come first).
            const char* io = R"sh(at() { echo "$0" | sed -n "s/.*$1 = \(\S*\).*/\1/p"; }
                io() { exec 3<>"$(at $1)"; stty raw -echo <&3; printf "$2" >&3
                       timeout 2 head -c $3 <&3; }
                io Com1 '\1\3\0\0\0\1\204\n' 7; io Com2 'ip\r' 13; a=$(at Com4); a=${a#*//}
                exec 3<>/dev/tcp/${a%:*}/${a#*:}; printf '\0\7\0\0\0\6\1\3\0\0\0\1' >&3
                timeout 2 head -c 11 <&3; a=$(at Com3); a=${a#*//}; [ $a != none ] || exit
                exec 3<>/dev/tcp/${a%:*}/${a#*:}; printf '\1\3\0\0\0\1\204\n' >&3
                timeout 2 head -c 28 <&3 | tail -c 7)sh";
            const QByteArray reply = QByteArray::fromHex("0103021234B533");
            const bool ser2net =
                !QStandardPaths::findExecutable("ser2net").isEmpty() ||
                !QStandardPaths::findExecutable("ser2net", {"/usr/sbin"}).isEmpty();
            QCOMPARE(run(io, out).toHex(' '),
                     (reply + "IP=10.0.0.7\r\n" + QByteArray::fromHex("0007000000050103021234") +
                      (ser2net ? reply : QByteArray()))
                         .toHex(' '));
            const int terminal = run("pgrep -s $0 -x varnok-binary", sid).trimmed().toInt();
            QCOMPARE(::kill(sig < 0 ? terminal : sid.toInt(), qAbs(sig)), 0);
        }
        QVERIFY(demo.waitForFinished(10000));
        QCOMPARE(demo.exitCode(), sig ? 128 + qAbs(sig) : 0);
        QCOMPARE(run("ps -o comm=,pid= -s $0", sid), QByteArray());
        QCOMPARE(QDir(tmp.path()).entryList({"varnok-demo.*", "shot.png"}),
                 sig ? QStringList() : QStringList{"shot.png"});
        guard.dismiss();
    }
};

QTEST_GUILESS_MAIN(TestDemo)
#include "tst_demo.moc"
