// Drives varnok-devsim from outside as the terminal would.
#include "logic/modbus/rtu_frame.h"
#include "support/devsim_process.h"
#include "support/files.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <unistd.h>

namespace {

QByteArray frameOf(std::u16string_view list) {
    const auto f = varnok::modbus::Build_RTU_Frame(list);
    return QByteArray(reinterpret_cast<const char*>(f.frame.data()), qsizetype(f.frame.size()));
}

const QByteArray kRead = frameOf(u"1 3 0 0 0 1"), kReply = frameOf(u"1 3 2 12 34");
const QByteArray kIp = "ip\rmask\rgateway\r";
const QByteArray kIpReply = "IP=10.0.0.7\r\nMASK=255.0.0.0\r\nGATEWAY=10.0.0.1\r\n";

// One simulator process and the terminal's end of its device (made raw by the simulator).
struct Sim : varnok::test::DevsimProcess {
    int fd = -1;
    ~Sim() { ::close(fd); }
    bool open(const QStringList& args) {
        return start(args, true) &&
               (fd = ::open(qPrintable(path()), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) >= 0;
    }
    // All that comes within `ms` after `request`, so that extra bytes show up too.
    QByteArray ask(const QByteArray& request, int ms = 400) {
        if (::write(fd, request.constData(), size_t(request.size())) != request.size())
            return "write failed";
        QByteArray got;
        char buf[512];
        for (QDeadlineTimer end(ms); !end.hasExpired();) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(end.remainingTime())) > 0)
                got.append(buf, std::max<ssize_t>(::read(fd, buf, sizeof buf), 0));
        }
        return got;
    }
};

} // namespace

class TestDevsim : public QObject {
    Q_OBJECT
  private slots:
    void exchanges_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArrayList>("requests"); // sent in turn; an empty one only waits
        QTest::addColumn<QByteArrayList>("answers");  // all that comes within 400 ms of each
        QTest::addColumn<QByteArrayList>("logLines"); // among those on stderr
        const auto row = [](const char* name, const char* args, const QByteArrayList& requests,
                            const QByteArrayList& answers, const QByteArrayList& log = {}) {
            QTest::newRow(name) << QProcess::splitCommand(QString(args)) << requests << answers
                                << log;
        };
        const QByteArray inputs = frameOf(u"1 4 0 0 0 4");
        const QByteArray fixedInputs = frameOf(u"1 4 8 30 0 30 1 30 2 30 3");
        row("static: bad CRC ignored, inputs stay", "--static",
            {QByteArray::fromHex("010300000001840B"), kRead, inputs, inputs},
            {{}, kReply, fixedInputs, fixedInputs}, {"modbus 01 03 00 00 00 01 84 0A -> 7 bytes"});
        // The request after one for another station is served, not dropped as a stray reply.
        row("only its own station", "--static --slave-id 17", {kRead, frameOf(u"11 3 0 0 0 1")},
            {{}, frameOf(u"11 3 2 12 34")});
        QByteArray garbled = kReply;
        for (char& c : garbled)
            c = char(0xF8 | (c & 7));
        row("another speed: garbled", "--static --station 1 --baud 300", {kRead}, {garbled},
            {"modbus 01 03 00 00 00 01 84 0A -> 7 bytes garbled (the line is at another setting)"});
        row("43/14 and 17", "--static", {frameOf(u"1 2B E 1 0"), frameOf(u"1 11")},
            {frameOf(u"1 2B E 1 1 0 0 3 0 6 56 61 72 6E 6F 6B 1 6 44 45 56 53 49 4D 2 3 31 2E 30"),
             frameOf(u"1 11 A B4 FF 4C 4D 42 33 2E 31 2E 36")});
        row("silent station", "--silent", {kRead}, {{}},
            {"modbus 01 03 00 00 00 01 84 0A -> silent"});
        row("delay", "--static --delay 600", {kRead, {}}, {{}, kReply});
        row("exception 02: address, range past the end", "",
            {frameOf(u"1 3 0 40 0 1"), frameOf(u"1 10 0 3F 0 2 4 0 0 0 0")},
            {frameOf(u"1 83 2"), frameOf(u"1 90 2")});
        row("n500 delay, banner, first value only",
            "--mode n500 --delay 600 --banner \"echo x=1\" --values 1", {kIp, {}},
            {{}, "echo x=1\r\nIP=10.0.0.7\r\n"});
        row("n500 silent, logged as silent, not as an answer", "--mode n500 --silent", {kIp}, {{}},
            {"n500 \"ip\" -> silent"});
        row("n500 read, write, read, unknown, no CR", "--mode n500",
            {kIp, "ip 192.168.0.1\rmask 255.255.255.0\rgateway 192.168.0.254\r", kIp, "reboot\r",
             "ip"},
            {kIpReply,
             "OK\r\nOK\r\nOK\r\n",
             "IP=192.168.0.1\r\nMASK=255.255.255.0\r\nGATEWAY=192.168.0.254\r\n",
             "Unknown command\r\n",
             {}},
            {"n500 \"ip\" -> \"IP=10.0.0.7\"", "n500 \"mask 255.255.255.0\" -> \"OK\"",
             "n500 \"reboot\" -> \"Unknown command\""});
        row("login: Enter and a wrong pair ask again, a good one gets the prompt, reboot boots",
            "--mode login --user u --password p",
            {"\r", "\r", "u\r", "x\r", "u\r\n", "p\r", "reboot\r"},
            {"login: ", "login: ", "Password: ", "\r\nLogin incorrect\r\nlogin: ", "Password: ",
             "\r\nWelcome, u\r\n> ",
             "Rebooting...\r\n\r\nvarnok-devsim console 1.0 booted\r\nlogin: "},
            {"login \"u\" -> incorrect", "login \"u\" -> welcome"});
    }

    // Each run also keeps the --link symlink for its lifetime and ends cleanly on a signal.
    void exchanges() {
        QFETCH(QStringList, args);
        QFETCH(QByteArrayList, requests);
        QFETCH(QByteArrayList, answers);
        QFETCH(QByteArrayList, logLines);
        QTemporaryDir dir;
        const QString link = dir.filePath("device");
        Sim sim;
        QVERIFY(sim.open(args + QStringList{"--link", link}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path());
        for (qsizetype i = 0; i < requests.size(); ++i)
            QCOMPARE(sim.ask(requests[i]).toHex(' '), answers[i].toHex(' '));
        const bool n500 = args.contains("n500");
        const QByteArray mode = n500 ? "n500" : args.contains("login") ? "login" : "modbus";
        QProcess& p = sim.process();
        QVERIFY(::kill(pid_t(p.processId()), n500 ? SIGINT : SIGTERM) == 0);
        QVERIFY(p.waitForFinished(2000));
        QVERIFY(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        const QByteArrayList log = p.readAllStandardError().trimmed().split('\n');
        QCOMPARE(log.first(), "varnok-devsim: " + mode + " mode on " + sim.path().toLocal8Bit());
        QCOMPARE(log.last(), "varnok-devsim: stopped");
        for (const QByteArray& line : logLines)
            QVERIFY2(log.contains(line), line);
    }

    // --tcp serves the same station over Modbus TCP: libmodbus' client, which checks that the
    // transaction id comes back, reads holding register 0 as the station and as unit 255.
    void modbusTcp() {
        Sim sim;
        QVERIFY(sim.open({"--static", "--station", "17", "--tcp", "0"}));
        QProcess& p = sim.process();
        while (!p.canReadLine())
            QVERIFY(p.waitForReadyRead(5000));
        const QByteArray line = p.readLine().trimmed();
        QVERIFY2(line.startsWith("LISTEN modbus-tcp://127.0.0.1:"), line);
        for (int unit : {17, 255}) {
            modbus_t* ctx =
                modbus_new_tcp("127.0.0.1", line.mid(line.lastIndexOf(':') + 1).toInt());
            std::uint16_t r[2] = {};
            const bool read = ctx && modbus_set_slave(ctx, unit) == 0 && modbus_connect(ctx) == 0 &&
                              modbus_read_registers(ctx, 0, 2, r) == 2;
            modbus_close(ctx);
            modbus_free(ctx);
            QVERIFY2(read, modbus_strerror(errno));
            QCOMPARE(r[0], 0x1234);
        }
    }

    // The manual page's options are those --help prints: no option is missing from either.
    void manualFollowsHelp() {
        QProcess help;
        help.start(QStringLiteral(VARNOK_DEVSIM), {QStringLiteral("--help")});
        QVERIFY(help.waitForFinished(10000) && help.exitCode() == 0);
        const QString manual =
            QString::fromUtf8(varnok::test::fileBytes(QStringLiteral(VARNOK_DEVSIM_MANUAL)));
        QVERIFY(manual != u"missing");
        const qsizetype from = manual.indexOf(QStringLiteral(".SH OPTIONS"));
        const qsizetype to = manual.indexOf(QStringLiteral(".SH"), from + 1);
        QVERIFY(from >= 0 && to > from);
        const auto options = [](const QString& text, const QString& dash) {
            QStringList out;
            const QRegularExpression option(dash + dash + QStringLiteral("([a-z][a-z\\\\-]*)"));
            for (auto m = option.globalMatch(text); m.hasNext();)
                out << m.next().captured(1).remove(u'\\');
            out.removeDuplicates();
            out.sort();
            return out;
        };
        QCOMPARE(options(manual.mid(from, to - from), QStringLiteral("\\\\-")),
                 options(QString::fromUtf8(help.readAllStandardOutput()), QStringLiteral("-")));
    }
};

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
