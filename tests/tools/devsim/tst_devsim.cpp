// Drives varnok-devsim from outside as the terminal would, and checks libmodbus's own
// master frames against the list parser.
#include "logic/modbus/rtu_frame.h"
#include "support/devsim_process.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace varnok::modbus;
using Clock = std::chrono::steady_clock;

namespace {

int openRaw(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

// Reads until `want` bytes have come (want < 0: until the deadline) or the deadline passes.
QByteArray readFor(int fd, int ms, qsizetype want = -1) {
    QByteArray got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (want < 0 || got.size() < want) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char buf[512];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            got.append(buf, n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
    }
    return got;
}

bool writeBytes(int fd, const QByteArray& data) {
    return ::write(fd, data.constData(), static_cast<size_t>(data.size())) == data.size();
}

QByteArray frameOf(const char16_t* list) {
    const RtuFrame f = Build_RTU_Frame(list);
    return QByteArray(reinterpret_cast<const char*>(f.frame.data()),
                      static_cast<qsizetype>(f.frame.size()));
}

const QByteArray kRead = QByteArray::fromHex("010300000001840A");
const QByteArray kReply = QByteArray::fromHex("0103021234B533");
const QByteArray kIp = "ip\rmask\rgateway\r";
const QByteArray kIpReply = "IP=10.0.0.7\r\nMASK=255.0.0.0\r\nGATEWAY=10.0.0.1\r\n";

// One simulator process and the terminal's end of its device.
class Sim : public varnok::test::DevsimProcess {
  public:
    ~Sim() { closeFd(); }
    bool start(const QStringList& args, bool keepLog = false) {
        if (!DevsimProcess::start(args, keepLog))
            return false;
        fd_ = openRaw(device());
        return fd_ >= 0;
    }
    void closeFd() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }
    QByteArray device() const { return path().toLocal8Bit(); }

  private:
    int fd_ = -1;
};

} // namespace

class TestDevsim : public QObject {
    Q_OBJECT
  private slots:
    void exchanges_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArrayList>("requests"); // sent in turn, each with its answer
        QTest::addColumn<QByteArrayList>("answers");  // all that comes within 400 ms of each
        const QStringList fixed{"--static"}, n500{"--mode", "n500"};
        QTest::newRow("bad CRC ignored")
            << fixed << QByteArrayList{QByteArray::fromHex("010300000001840B"), kRead}
            << QByteArrayList{{}, kReply};
        QTest::newRow("only its own station") << QStringList{"--static", "--slave-id", "17"}
                                              << QByteArrayList{kRead, frameOf(u"11 3 0 0 0 1")}
                                              << QByteArrayList{{}, frameOf(u"11 3 2 12 34")};
        QTest::newRow("silent station")
            << QStringList{"--silent"} << QByteArrayList{kRead} << QByteArrayList{{}};
        // An empty request only waits another 400 ms.
        QTest::newRow("delay") << QStringList{"--static", "--delay", "600"}
                               << QByteArrayList{kRead, {}} << QByteArrayList{{}, kReply};
        QTest::newRow("address, range past the end")
            << fixed
            << QByteArrayList{frameOf(u"1 3 0 40 0 1"), frameOf(u"1 10 0 3F 0 2 4 0 0 0 0")}
            << QByteArrayList{frameOf(u"1 83 2"), frameOf(u"1 90 2")};
        QTest::newRow("n500 first value only")
            << n500 + QStringList{"--values", "1"} << QByteArrayList{kIp}
            << QByteArrayList{"IP=10.0.0.7\r\n"};
        QTest::newRow("n500 banner")
            << n500 + QStringList{"--banner", "echo x=1"} << QByteArrayList{kIp}
            << QByteArrayList{"echo x=1\r\n" + kIpReply};
        QTest::newRow("n500 delay") << n500 + QStringList{"--delay", "600"}
                                    << QByteArrayList{kIp, {}} << QByteArrayList{{}, kIpReply};
        QTest::newRow("n500 silent")
            << n500 + QStringList{"--silent"} << QByteArrayList{kIp} << QByteArrayList{{}};
        QTest::newRow("n500 one command, unknown one, no CR")
            << n500 << QByteArrayList{"gateway\r", "reboot\r", "ip"}
            << QByteArrayList{"GATEWAY=10.0.0.1\r\n", "Unknown command\r\n", {}};
        QTest::newRow("n500 read, write, read")
            << n500
            << QByteArrayList{kIp, "ip 192.168.0.1\rmask 255.255.255.0\rgateway 192.168.0.254\r",
                              kIp}
            << QByteArrayList{kIpReply, "OK\r\nOK\r\nOK\r\n",
                              "IP=192.168.0.1\r\nMASK=255.255.255.0\r\nGATEWAY=192.168.0.254\r\n"};
    }

    void exchanges() {
        QFETCH(QStringList, args);
        QFETCH(QByteArrayList, requests);
        QFETCH(QByteArrayList, answers);
        Sim sim;
        QVERIFY(sim.start(args));
        for (qsizetype i = 0; i < requests.size(); ++i) {
            QVERIFY(writeBytes(sim.fd(), requests[i]));
            // The full window, so that extra bytes after the expected answer show up too.
            QCOMPARE(readFor(sim.fd(), 400).toHex(' '), answers[i].toHex(' '));
        }
    }

    void inputsChangeUnlessStatic() {
        for (const bool frozen : {false, true}) {
            Sim sim;
            QVERIFY(sim.start(frozen ? QStringList{"--static"} : QStringList{}));
            QByteArray first;
            for (int round = 0; round < 2; ++round) {
                QVERIFY(writeBytes(sim.fd(), frameOf(u"1 4 0 0 0 4")));
                const QByteArray got = readFor(sim.fd(), 2000, 13);
                QCOMPARE(got.size(), 13);
                if (round == 0)
                    first = got;
                else
                    QCOMPARE(got == first, frozen);
                QTest::qSleep(500);
            }
        }
    }

    void stopsCleanly_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::newRow("modbus, SIGTERM") << "modbus" << int(SIGTERM);
        QTest::newRow("n500, SIGINT") << "n500" << int(SIGINT);
    }

    void stopsCleanly() {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QTemporaryDir dir;
        const QString link = dir.filePath("device");
        Sim sim;
        QVERIFY(sim.start({"--mode", mode, "--link", link}));
        char target[256] = {};
        QVERIFY(::readlink(link.toLocal8Bit().constData(), target, sizeof target - 1) > 0);
        QCOMPARE(QByteArray(target), sim.device());

        QVERIFY(::kill(static_cast<pid_t>(sim.process().processId()), signal) == 0);
        QVERIFY(sim.process().waitForFinished(2000));
        QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.process().exitCode(), 0);
        struct stat st {};
        QCOMPARE(::lstat(link.toLocal8Bit().constData(), &st), -1);
    }

    void badOptions_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("unknown option") << QStringList{"--baud"} << 2;
        QTest::newRow("unknown mode") << QStringList{"--mode", "ascii"} << 2;
        QTest::newRow("slave id 0") << QStringList{"--slave-id", "0"} << 2;
        QTest::newRow("missing value") << QStringList{"--delay"} << 2;
    }

    void badOptions() {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QProcess p;
        p.start(QStringLiteral(VARNOK_DEVSIM), args);
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), exitCode);
        QVERIFY(!p.readAllStandardOutput().startsWith("DEVICE"));
    }

    void logsEachRequest_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QList<QByteArray>>("requests");
        QTest::addColumn<QByteArrayList>("logLines");
        QTest::newRow("modbus, hex")
            << "modbus" << QList<QByteArray>{frameOf(u"1 3 0 0 0 1"), frameOf(u"1 6 0 1 0 5")}
            << QByteArrayList{"modbus 01 03 00 00 00 01 84 0A -> 7 bytes",
                              "modbus 01 06 00 01 00 05 18 09 -> 8 bytes"};
        QTest::newRow("console, text")
            << "n500" << QList<QByteArray>{"ip\r", "mask 255.255.0.0\r", "reboot\r"}
            << QByteArrayList{"n500 \"ip\" -> \"IP=10.0.0.7\"",
                              "n500 \"mask 255.255.0.0\" -> \"OK\"",
                              "n500 \"reboot\" -> \"Unknown command\""};
    }

    // One line on stderr per request answered, between the start and stop lines.
    void logsEachRequest() {
        QFETCH(QString, mode);
        QFETCH(QList<QByteArray>, requests);
        QFETCH(QByteArrayList, logLines);
        Sim sim;
        QVERIFY(sim.start({"--mode", mode}, true));
        for (const QByteArray& request : requests) {
            QVERIFY(writeBytes(sim.fd(), request));
            QVERIFY(!readFor(sim.fd(), 300).isEmpty());
        }
        sim.closeFd();
        QProcess& p = sim.process();
        const QByteArray device = sim.device();
        QVERIFY(::kill(static_cast<pid_t>(p.processId()), SIGTERM) == 0);
        QVERIFY(p.waitForFinished(2000));
        const QByteArrayList lines = p.readAllStandardError().trimmed().split('\n');
        QByteArrayList expected{"varnok-devsim: " + mode.toLatin1() + " mode on " + device};
        expected << logLines << "varnok-devsim: stopped";
        QCOMPARE(lines, expected);
    }

    // Property: for random requests, the frame libmodbus puts on the line equals the frame
    // built from the same bytes written as a (loosely formatted) hexadecimal list.
    void libmodbusMasterFramesMatchBuilder() {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QByteArray slavePath = ::ptsname(master);
        modbus_t* ctx = modbus_new_rtu(slavePath.constData(), 9600, 'N', 8, 1);
        QVERIFY(ctx);
        QVERIFY2(modbus_connect(ctx) == 0, modbus_strerror(errno));

        std::mt19937 rng(4711);
        auto pick = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(rng);
        };
        for (int round = 0; round < 300; ++round) {
            std::vector<std::uint8_t> request(static_cast<std::size_t>(pick(2, 254)));
            QString list = QString(pick(0, 2), ' ');
            for (auto& b : request) {
                b = static_cast<std::uint8_t>(pick(0, 255));
                QString value = QString(pick(0, 2), '0') + QString::number(b, 16);
                list += pick(0, 1) ? value.toUpper() : value;
                list += QString(pick(1, 3), ' ');
            }
            QCOMPARE(modbus_send_raw_request(ctx, request.data(), static_cast<int>(request.size())),
                     static_cast<int>(request.size()) + 2);
            const QByteArray onLine =
                readFor(master, 2000, static_cast<qsizetype>(request.size()) + 2);

            const RtuFrame built =
                Build_RTU_Frame(std::u16string_view(reinterpret_cast<const char16_t*>(list.utf16()),
                                                    static_cast<std::size_t>(list.size())));
            QCOMPARE(built.count, static_cast<int>(request.size()));
            const QByteArray expected(reinterpret_cast<const char*>(built.frame.data()),
                                      static_cast<qsizetype>(built.frame.size()));
            if (onLine != expected)
                QFAIL(qPrintable(
                    QStringLiteral("round %1: list '%2'\nline  %3\nbuilt %4")
                        .arg(round)
                        .arg(list, QString(onLine.toHex(' ')), QString(expected.toHex(' ')))));
        }
        modbus_close(ctx);
        modbus_free(ctx);
        ::close(master);
    }
};

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
