// The command line: help, version and mistakes are answered without any display, the help
// and the manual page say the port-number rule the program follows, and bindings given on it
// last for their run.
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include "logic/serial/network_port.h"
#include "logic/serial/port_map.h"
#include "support/files.h"

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

Run run(const QStringList& arguments, const QString& configHome = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    if (!configHome.isEmpty())
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VARNOK_BINARY), arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit)
        return {};
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

// A pseudo-terminal for Com1: the test keeps both ends, so nothing sent is lost at the close.
struct Pty {
    int master = -1, slave = -1;
    char name[256] = {};
    Pty() {
        termios raw{};
        ::cfmakeraw(&raw);
        ::openpty(&master, &slave, name, &raw, nullptr);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
    QByteArray sent() const {
        char buf[256];
        const ssize_t n = ::read(master, buf, sizeof buf);
        return QByteArray(buf, int(std::max<ssize_t>(n, 0)));
    }
};

QString roff(QString text) {
    return text.replace(u'-', QStringLiteral("\\-"));
}

} // namespace

class TstCommandLine : public QObject {
    Q_OBJECT
  private slots:
    void answersWithoutDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("outHas");
        QTest::addColumn<QString>("errHas");
        QTest::addColumn<int>("errLines");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "--port"
                              << "" << 0;
        QTest::newRow("version") << QStringList{"--version"} << 0 << kVersion << "" << 0;
        QTest::newRow("port zero") << QStringList{"--port", "Com0=/x"} << 2 << ""
                                   << "--port" << 2;
        QTest::newRow("port garbage") << QStringList{"--port", "garbage"} << 2 << ""
                                      << "garbage" << 2;
        QTest::newRow("two devices") << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1"} << 2 << ""
                                     << "one DEVICE" << 2;
        QTest::newRow("network port without its port: refused, naming what is missing")
            << QStringList{"--port", "Com5=rfc2217://127.0.0.1"} << 2 << ""
            << "the port is missing" << 2;
        QTest::newRow("lone argument with an unknown scheme: refused, naming the scheme")
            << QStringList{"ftp://127.0.0.1:21"} << 2 << ""
            << "unknown scheme \"ftp\"" << 2;
        QTest::newRow("no display: one line, status 1, no abort with status 134")
            << QStringList{"/dev/ttyUSB0"} << 1 << ""
            << "no display found" << 1;
    }
    void answersWithoutDisplay() {
        QFETCH(QStringList, arguments);
        const Run r = run(arguments);
        QTEST(r.exitCode, "exitCode");
        QFETCH(QString, outHas);
        QFETCH(QString, errHas);
        QVERIFY2(r.out.contains(outHas.toUtf8()), r.out.constData());
        QVERIFY2(r.err.contains(errHas.toUtf8()), r.err.constData());
        // Errors are said on stderr, answers on stdout.
        QCOMPARE(r.out.isEmpty(), r.exitCode != 0);
        QTEST(int(r.err.count('\n')), "errLines");
    }

    // The help prints the rule from the program's own table; the manual page must say the
    // same rule and the same options.
    void helpAndManualFollowTheRule() {
        const Run help = run({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        const QString manual = QString::fromUtf8(varnok::test::fileBytes(VARNOK_MANUAL));
        const QString readme = QString::fromUtf8(varnok::test::fileBytes(VARNOK_README));
        QVERIFY(help.out.contains(varnok::serial::portRuleText().c_str()));
        // The network forms come from the parser's own table, and both documents name each.
        QVERIFY(help.out.contains(varnok::serial::networkFormsText().c_str()));
        for (const char* form : {"rfc2217://", "tcp://", "modbus-tcp://"}) {
            QVERIFY2(manual.contains(roff(QString::fromLatin1(form))), form);
            QVERIFY2(readme.contains(QString::fromLatin1(form)), form);
        }
        for (const varnok::serial::PortRange& r : varnok::serial::kPortRule) {
            const auto device = [](int n) {
                return QString::fromStdString(varnok::serial::ruleDevicePath(n));
            };
            const bool none = device(r.first).isEmpty();
            const QString row = QStringLiteral("Com%1\\(enCom%2\t").arg(r.first).arg(r.last) +
                                (none ? QStringLiteral("no device unless bound")
                                      : device(r.first) + QStringLiteral("\\(en") + device(r.last));
            QVERIFY2(manual.contains(row + u'\n'), qPrintable(row));
            const QString line =
                QStringLiteral("| Com%1–Com%2 | ").arg(r.first).arg(r.last) +
                (none ? QStringLiteral("none unless bound")
                      : QStringLiteral("`%1`–`%2`").arg(device(r.first), device(r.last)));
            QVERIFY2(readme.contains(line + QStringLiteral(" |")), qPrintable(line));
        }
        static const QRegularExpression option(QStringLiteral("^  (-\\w, )?--([\\w-]+)"),
                                               QRegularExpression::MultilineOption);
        QStringList helpOptions;
        for (auto m = option.globalMatch(QString::fromUtf8(help.out)); m.hasNext();)
            helpOptions << m.next().captured(2);
        QVERIFY(helpOptions.contains(QStringLiteral("port")));
        static const QRegularExpression entry(
            QStringLiteral("^\\.TP\\n\\.BR? .*\\\\-\\\\-([\\w\\\\-]+)"),
            QRegularExpression::MultilineOption);
        QStringList manualOptions;
        for (auto m = entry.globalMatch(manual); m.hasNext();)
            manualOptions << m.next().captured(1).remove(u'\\');
        // The rule's own lines name --port again.
        helpOptions.removeDuplicates();
        helpOptions.sort();
        manualOptions.sort();
        QCOMPARE(manualOptions, helpOptions);
        QVERIFY(manual.contains(roff(QStringLiteral(VARNOK_DESKTOP_FILE))));
    }

    void bindingsOfTheCommandLineLastTheirRun_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("key");
        QTest::newRow("--port: kept out of the settings file")
            << QStringList{"--port", "Com7=/dev/pts/varnok-9"} << "ports/Com7";
        QTest::newRow("lone DEVICE") << QStringList{"/dev/pts/varnok-9"} << "ports/Com1";
    }
    void bindingsOfTheCommandLineLastTheirRun() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, key);
        QTemporaryDir home;
        const QString ini = home.filePath(QStringLiteral("varnok-binary/varnok-binary.ini"));
        QSettings(ini, QSettings::IniFormat).setValue(key, QStringLiteral("/dev/ttyUSB3"));
        const Run r = run(QStringList{"-platform", "offscreen", "--screenshot",
                                      home.filePath(QStringLiteral("shot.png"))} +
                              arguments,
                          home.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(QSettings(ini, QSettings::IniFormat).value(key).toString(),
                 QStringLiteral("/dev/ttyUSB3"));
    }

    // SIGTERM ends the program through its close path (a capture flushed, a bridge's link
    // removed), not by the signal's default death.
    void terminateClosesAsTheWindowDoes() {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VARNOK_BINARY), {"-platform", "offscreen"});
        QVERIFY(p.waitForStarted());
        QTest::qWait(1000); // the window is up and the event loop runs
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }

    // --script runs a script without a window or a display: its output on stdout, its error
    // as one line on stderr, its status as the program's; Com1 is a pseudo-terminal.
    void scriptsRunHeadless_data() {
        QTest::addColumn<QByteArray>("source"); // "" : no file at all
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QString>("errHas");
        QTest::addColumn<QByteArray>("sent");
        const auto row = [](const char* name, const char* source, const QStringList& arguments,
                            int status, const char* out, const char* errHas = "",
                            const char* sent = "") {
            QTest::newRow(name) << QByteArray(source) << arguments << status << QByteArray(out)
                                << QString(errHas) << QByteArray(sent);
        };
        row("ends normally: status 0, print on stdout, the bytes on the line",
            "open{port = 1} send('a\\x42') print('hi', 1)", {}, 0, "hi\t1\n", "", "aB");
        row("a failed check: status 1, the script goes on", "check(false, 'x') print('on')", {}, 1,
            "on\n");
        row("a runtime error: status 2, file:line: message", "print('a')\nerror('boom')", {}, 2,
            "a\n", "s.lua:2: boom");
        row("a syntax error: status 2, its line, nothing sent",
            "open{port = 1}\nsend('x')\nlocal = 1", {}, 2, "", "s.lua:3:");
        row("a missing file: status 2", "", {}, 2, "", "s.lua");
        row("a port that does not open: status 3", "open{port = 9}",
            {"--port", "Com9=/nonexistent/tty"}, 3, "", "s.lua:1:");
        row("arg: the path, then the arguments after --", "print(#arg, arg[1], arg[2])",
            {"--", "-x", "two"}, 0, "2\t-x\ttwo\n");
        row("--tap: a line per check, the plan at the end",
            "check(true, 'one') check(false, 'two #2')", {"--tap"}, 1,
            "ok 1 - one\nnot ok 2 - two \\#2\n1..2\n");
        row("os.execute without --allow-exec: refused, naming the option", "os.execute('true')", {},
            2, "", "--allow-exec");
        row("os.execute with --allow-exec: runs", "print(os.execute('true'))", {"--allow-exec"}, 0,
            "true\texit\t0\n");
    }
    void scriptsRunHeadless() {
        QFETCH(QByteArray, source);
        QFETCH(QStringList, arguments);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("s.lua"));
        QVERIFY(source.isEmpty() || varnok::test::writeFile(file, source));
        Pty pty;
        const Run r =
            run(QStringList{"--script", file, "--port", QStringLiteral("Com1=") + pty.name} +
                arguments);
        QTEST(r.exitCode, "status");
        QTEST(r.out, "out");
        QFETCH(QString, errHas);
        QVERIFY2(r.err.contains(errHas.toUtf8()) &&
                     (r.err.isEmpty() || r.err.startsWith("varnok-binary: ")),
                 r.err.constData());
        QCOMPARE(int(r.err.count('\n')), r.exitCode >= 2 ? 1 : 0);
        QTEST(pty.sent(), "sent");
    }

    // SIGINT stops a script that waits: status 2, its port closed.
    void signalStopsTheScript() {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("s.lua"));
        QVERIFY(
            varnok::test::writeFile(file, "open{port = 1} send('r') while true do sleep(10) end"));
        Pty pty;
        QProcess p;
        p.start(QStringLiteral(VARNOK_BINARY),
                {"--script", file, "--port", QStringLiteral("Com1=") + pty.name});
        QByteArray got; // read once: the expression is evaluated again after it holds
        QTRY_VERIFY_WITH_TIMEOUT((got += pty.sent()).contains('r'), 10000);
        QVERIFY(::kill(pid_t(p.processId()), SIGINT) == 0);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 2);
    }

  private:
    const QString kVersion = QStringLiteral(VARNOK_VERSION);
};

QTEST_GUILESS_MAIN(TstCommandLine)
#include "tst_command_line.moc"
