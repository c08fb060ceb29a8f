// Runs scripts/demo.sh offscreen against the built programs: both simulators and the terminal
// come up, each bound device answers as its kind of device, and however the demo is ended
// no process of it is left and its temporary directory is gone.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Proc {
    pid_t pid;
    QByteArray name;
};

QByteArray commOf(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/comm").arg(pid));
    return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
}

pid_t parentOf(pid_t pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // pid (comm) state ppid ...: comm may hold blanks, so start after its closing bracket.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? static_cast<pid_t>(fields[1].toInt()) : -1;
}

// Every process below `root`, at any depth.
QList<Proc> descendantsOf(pid_t root) {
    QList<pid_t> all;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const pid_t pid = static_cast<pid_t>(entry.toInt(&ok));
        if (ok)
            all.append(pid);
    }
    QList<Proc> found;
    QList<pid_t> parents{root};
    while (!parents.isEmpty()) {
        const pid_t parent = parents.takeFirst();
        for (pid_t pid : all) {
            if (parentOf(pid) == parent) {
                found.append({pid, commOf(pid)});
                parents.append(pid);
            }
        }
    }
    return found;
}

int countNamed(const QList<Proc>& procs, const char* name) {
    return static_cast<int>(
        std::count_if(procs.begin(), procs.end(), [&](const Proc& p) { return p.name == name; }));
}

// A device's answer to one request, read until `want` bytes or 2 s.
QByteArray exchange(const QByteArray& device, const QByteArray& request, qsizetype want) {
    const int fd = ::open(device.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "cannot open " + device;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    QByteArray got;
    if (::write(fd, request.constData(), static_cast<size_t>(request.size())) == request.size()) {
        QElapsedTimer clock;
        clock.start();
        while (got.size() < want && clock.elapsed() < 2000) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(2000 - clock.elapsed())) <= 0)
                continue;
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    ::close(fd);
    return got;
}

// On a failed check, ends what the demo left so that later tests start clean.
struct KillLeftovers {
    QList<Proc>* procs;
    ~KillLeftovers() {
        for (const Proc& p : *procs)
            if (commOf(p.pid) == p.name)
                ::kill(p.pid, SIGKILL);
    }
};

} // namespace

class TestDemo : public QObject {
    Q_OBJECT
  private slots:
    void startsAndStops_data();
    void startsAndStops();
};

void TestDemo::startsAndStops_data() {
    QTest::addColumn<QString>("ending");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("SIGTERM to the script") << "script TERM" << 128 + SIGTERM;
    QTest::newRow("Ctrl-C to the script") << "script INT" << 128 + SIGINT;
    QTest::newRow("hang-up of the script") << "script HUP" << 128 + SIGHUP;
    QTest::newRow("terminal killed") << "terminal TERM" << 128 + SIGTERM;
    QTest::newRow("terminal closes itself") << "screenshot" << 0;
}

void TestDemo::startsAndStops() {
    QFETCH(QString, ending);
    QFETCH(int, exitCode);

    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VARNOK_NO_BUILD"), QStringLiteral("1"));
    env.insert(QStringLiteral("VARNOK_BUILD_DIR"), QStringLiteral(VARNOK_BUILD_DIR));
    env.insert(QStringLiteral("TMPDIR"), tmp.path());
    QProcess demo;
    demo.setProcessEnvironment(env);
    demo.setProcessChannelMode(QProcess::SeparateChannels);
    QStringList args{QStringLiteral("-platform"), QStringLiteral("offscreen")};
    const QString shot = tmp.filePath(QStringLiteral("shot.png"));
    if (ending == QLatin1String("screenshot"))
        args << QStringLiteral("--screenshot") << shot;
    demo.start(QStringLiteral(VARNOK_DEMO_SCRIPT), args);
    QVERIFY(demo.waitForStarted(5000));
    const auto pid = static_cast<pid_t>(demo.processId());

    // The bindings are printed once both simulators are up.
    QByteArray out;
    while (!out.contains("Close the terminal") && demo.waitForReadyRead(10000))
        out += demo.readAllStandardOutput();
    const QRegularExpression binding(QStringLiteral("Com(\\d) = (\\S+)"));
    QMap<QString, QByteArray> device;
    for (auto it = binding.globalMatch(QString::fromUtf8(out)); it.hasNext();) {
        const auto m = it.next();
        device[m.captured(1)] = m.captured(2).toUtf8();
    }
    QVERIFY2(device.size() == 2, out.constData());

    // The terminal is started right after; it is seen once it has run its own program.
    QList<Proc> procs;
    const KillLeftovers guard{&procs};
    QElapsedTimer clock;
    clock.start();
    do {
        procs = descendantsOf(pid);
        if (countNamed(procs, "varnok-binary") == 1)
            break;
        QTest::qWait(10);
    } while (clock.elapsed() < 5000);
    QCOMPARE(countNamed(procs, "varnok-devsim"), 2);
    QCOMPARE(countNamed(procs, "varnok-binary"), 1);

    if (ending == QLatin1String("screenshot")) {
        QVERIFY(demo.waitForFinished(10000));
        out += demo.readAllStandardOutput();
        QVERIFY2(out.contains("Varnok_Binary  v" VARNOK_VERSION "  ( KOVRAN )"), out.constData());
        QVERIFY(QFile::exists(shot));
    } else {
        // Com1 is the I/O module (holding register 0 = 0x1234), Com2 the N500 console.
        QCOMPARE(exchange(device["1"], QByteArray::fromHex("010300000001840A"), 7).toHex(' '),
                 QByteArray("01 03 02 12 34 b5 33"));
        QCOMPARE(exchange(device["2"], "ip\r", 13), QByteArray("IP=10.0.0.7\r\n"));

        const QStringList how = ending.split(' ');
        const int sig = how[1] == QLatin1String("TERM")  ? SIGTERM
                        : how[1] == QLatin1String("INT") ? SIGINT
                                                         : SIGHUP;
        pid_t target = pid;
        if (how[0] == QLatin1String("terminal"))
            for (const Proc& p : procs)
                if (p.name == "varnok-binary")
                    target = p.pid;
        QCOMPARE(::kill(target, sig), 0);
        QVERIFY(demo.waitForFinished(10000));
    }
    QCOMPARE(demo.exitStatus(), QProcess::NormalExit);
    QCOMPARE(demo.exitCode(), exitCode);

    // The script has waited for each of them: not running, not even a zombie.
    for (const Proc& p : procs)
        QVERIFY2(!QFile::exists(QStringLiteral("/proc/%1").arg(p.pid)), p.name.constData());
    const QStringList left =
        QDir(tmp.path()).entryList(QStringList{QStringLiteral("varnok-demo.*")}, QDir::AllEntries);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
}

QTEST_GUILESS_MAIN(TestDemo)
#include "tst_demo.moc"
