// The command line is answered without any display: help, version and mistakes end the
// program with their exit code before a window system is looked for.
#include <QProcess>
#include <QTest>

class TstCommandLine : public QObject {
    Q_OBJECT
  private slots:
    void answersWithoutDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("stdoutHas");
        const QStringList none;
        QTest::newRow("help") << QStringList{"--help"} << 0
                              << QStringList{"--port", "/dev/ttyUSB0"};
        QTest::newRow("version") << QStringList{"--version"} << 0 << QStringList{"1.4.8"};
        QTest::newRow("port zero") << QStringList{"--port", "Com0=/x"} << 2 << none;
        QTest::newRow("port garbage") << QStringList{"--port", "garbage"} << 2 << none;
        QTest::newRow("two devices") << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1"} << 2 << none;
    }

    void answersWithoutDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, stdoutHas);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VARNOK_BINARY), arguments);
        QVERIFY(p.waitForFinished(30000));
        const QByteArray out = p.readAllStandardOutput();
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        for (const QString& text : stdoutHas)
            QVERIFY2(out.contains(text.toUtf8()), out.constData());
        // Errors are said on stderr, answers on stdout.
        QCOMPARE(out.isEmpty(), exitCode != 0);
        QCOMPARE(err.isEmpty(), exitCode == 0);
    }
};

QTEST_GUILESS_MAIN(TstCommandLine)
#include "tst_command_line.moc"
