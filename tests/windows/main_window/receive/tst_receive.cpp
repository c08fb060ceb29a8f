// The receive side of the real window offscreen, fed from the device end of a pseudo-terminal.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <limits>
#include <memory>

#include "windows/main_window/form1.h"
#include "logic/serial/port_map.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using varnok::test::MessageCatcher;
using varnok::test::PtyPair;

namespace {

constexpr std::int32_t kInt32Max = std::numeric_limits<std::int32_t>::max();

const QString kAutoAscii = QStringLiteral("Varnok_RECV ( Auto-Recv )( ASCII Mode )");
const QString kAutoBinary = QStringLiteral("Varnok_RECV ( Auto-Recv )( Binary Mode )");
const QString kManualAscii = QStringLiteral("Varnok_RECV ( Manual-Recv )( ASCII Mode )");
const QString kManualBinary = QStringLiteral("Varnok_RECV ( Manual-Recv )( Binary Mode )");

// A window open on a fresh pair, in auto receive as opening leaves it.
struct Rig {
    PtyPair pty;
    std::unique_ptr<Form1> f;

    Rig() {
        serial::bindPort(1, pty.slavePath().toStdString());
        f = std::make_unique<Form1>();
        f->show();
        QTest::mouseClick(f->Command1, Qt::LeftButton);
        // Past the start-up shot of Timer3: it would turn a manual read back to auto receive.
        QElapsedTimer t;
        t.start();
        while (f->Timer3->isActive() && t.elapsed() < 3000)
            QTest::qWait(10);
    }
    // Waits until the port holds exactly `n` unread bytes (manual receive).
    bool waitBuffered(int n) {
        QElapsedTimer t;
        t.start();
        int have = -1;
        while (t.elapsed() < 5000) {
            try {
                have = f->MSComm1->inBufferCount();
            } catch (const Failure& e) {
                qWarning("the port failed: %s", e.what());
                return false;
            }
            if (have == n)
                return true;
            QTest::qWait(5);
        }
        qWarning("%d bytes buffered, %d expected", have, n);
        return false;
    }
};

// What the widget holds; a line break of any kind is one block separator there.
QString shown(const Form1& f) {
    return f.Text3->document()->toRawText();
}

QString asShown(QString text) {
    text.replace(QLatin1String("\r\n"), QString(QChar::ParagraphSeparator));
    text.replace(QLatin1Char('\r'), QChar::ParagraphSeparator);
    text.replace(QLatin1Char('\n'), QChar::ParagraphSeparator);
    return text;
}

QString hexOf(const QByteArray& bytes) {
    QString out;
    for (char c : bytes)
        out += QStringLiteral("%1 ")
                   .arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'))
                   .toUpper();
    return out;
}

// NUL, lone CR, lone LF, CR LF, a no-break space and the whole upper half.
QByteArray awkwardBytes() {
    QByteArray b("A\0B\rC\nD\r\nE\xA0 F", 12);
    for (int i = 0x80; i <= 0xFF; ++i)
        b.append(static_cast<char>(i));
    b.append("end");
    return b;
}

QByteArray filler(int n, char c = 'x') {
    return QByteArray(n, c);
}

} // namespace

class TstReceive : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    void displayOfAwkwardBytes_data() {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("manual");
        QTest::newRow("text, auto") << false << false;
        QTest::newRow("text, manual") << false << true;
        QTest::newRow("hex, auto") << true << false;
        QTest::newRow("hex, manual") << true << true;
    }
    void displayOfAwkwardBytes() {
        QFETCH(bool, binary);
        QFETCH(bool, manual);
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        if (binary)
            QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
        if (manual)
            QTest::mouseClick(f.Command2, Qt::LeftButton);
        const QByteArray bytes = awkwardBytes();
        const QString expected = binary ? hexOf(bytes) : QString::fromLatin1(bytes);
        QVERIFY(expected.size() < 1024); // under the clearing limit
        r.pty.write(bytes);
        if (manual) {
            QVERIFY(r.waitBuffered(int(bytes.size())));
            QTest::mouseClick(f.Command2, Qt::LeftButton);
        } else {
            QTRY_COMPARE(f.receiveDisplayLength(), expected.size());
        }
        QCOMPARE(f.receiveDisplayLength(), expected.size());
        QCOMPARE(shown(f), binary ? expected : asShown(expected));
        if (binary && manual) {
            QCOMPARE(f.Recv_Length->text(), QStringLiteral("0")); // binary manual: untouched
            QCOMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("0"));
        } else {
            QCOMPARE(f.Recv_Length->text(), QString::number(expected.size()));
            QCOMPARE(f.txt_TotalRecvLen->text(), QString::number(expected.size()));
        }
    }

    void hexOfThreeBytes() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
        r.pty.write(QByteArray::fromHex("010AFF"));
        QTRY_COMPARE(shown(f), QStringLiteral("01 0A FF "));
        QCOMPARE(f.Recv_Length->text(), QStringLiteral("9"));
    }

    void clearingRule_data() {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<int>("enlarge"); // 0 never touched, 1 checked, 2 checked and unchecked
        QTest::addColumn<int>("bytes");
        QTest::addColumn<int>("limit");
        QTest::newRow("text at 1024") << false << 0 << 1024 << 1024;
        QTest::newRow("text past 1024") << false << 0 << 1025 << 1024;
        QTest::newRow("hex just under 1024") << true << 0 << 341 << 1024;
        QTest::newRow("hex past 1024") << true << 0 << 342 << 1024;
        QTest::newRow("enlarged at 8192") << false << 1 << 8192 << 8192;
        QTest::newRow("enlarged past 8192") << false << 1 << 8193 << 8192;
        QTest::newRow("back to normal at 2048") << false << 2 << 2048 << 2048;
        QTest::newRow("back to normal past 2048") << false << 2 << 2049 << 2048;
    }
    void clearingRule() {
        QFETCH(bool, binary);
        QFETCH(int, enlarge);
        QFETCH(int, bytes);
        QFETCH(int, limit);
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        if (binary)
            QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
        for (int i = 0; i < enlarge; ++i)
            QTest::mouseClick(f.Chk_ReadEnLarge, Qt::LeftButton);
        QCOMPARE(f.Recv_Show_Limit, limit);

        const int chars = binary ? 3 * bytes : bytes;
        r.pty.write(filler(bytes, '7'));
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QString::number(chars));
        QCOMPARE(f.Recv_Length->text(), QString::number(chars));
        const bool cleared = chars > limit;
        QCOMPARE(f.receiveDisplayLength(), cleared ? 0 : chars);
        QCOMPARE(shown(f).size(), cleared ? 0 : chars);
        QCOMPARE(f.Recv_Total_Base, cleared ? chars : 0);

        // The total goes on from there without a jump.
        r.pty.write("abc");
        const int more = binary ? 9 : 3;
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QString::number(chars + more));
        QCOMPARE(f.Recv_Length->text(), QString::number(cleared ? more : chars + more));
    }

    void showDataOff() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        QTest::mouseClick(f.chk_RecvShowData, Qt::LeftButton);
        QVERIFY(!f.chk_RecvShowData->isChecked());
        r.pty.write("hello");
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("5"));
        QCOMPARE(f.Recv_Length->text(), QStringLiteral("5"));
        QCOMPARE(shown(f), QString());
        r.pty.write("abc");
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("8"));
        QCOMPARE(f.Recv_Length->text(), QStringLiteral("3")); // the last chunk
        QCOMPARE(shown(f), QString());
        QCOMPARE(f.Recv_Total_Base, 8);
    }

    void twoManualReads() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        QTest::mouseClick(f.Command2, Qt::LeftButton); // nothing buffered: only the way changes
        QVERIFY(f.Rec_Data_Manual);
        QCOMPARE(f.Frame1->title(), kManualAscii);
        QCOMPARE(f.Recv_Length->text(), QStringLiteral("0"));
        QTRY_VERIFY(!f.autoReceiveRunning());

        r.pty.write("12345");
        QVERIFY(r.waitBuffered(5));
        QTest::qWait(100);
        QCOMPARE(shown(f), QString()); // nothing is read without a press
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QCOMPARE(shown(f), QStringLiteral("12345"));
        QCOMPARE(f.Recv_Length->text(), QStringLiteral("5"));
        QCOMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("5"));

        r.pty.write("678");
        QVERIFY(r.waitBuffered(3));
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QCOMPARE(shown(f), QStringLiteral("12345678"));
        QCOMPARE(f.Recv_Length->text(), QStringLiteral("8"));
        QCOMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("8"));
    }

    void manualReadEndsAutoReceive() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        QVERIFY(f.autoReceiveRunning());
        QCOMPARE(f.Frame1->title(), kAutoAscii);
        r.pty.write("one");
        QTRY_COMPARE(shown(f), QStringLiteral("one"));

        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QCOMPARE(f.Frame1->title(), kManualAscii);
        QTRY_VERIFY(!f.autoReceiveRunning());
        r.pty.write("two");
        QVERIFY(r.waitBuffered(3));
        QTest::qWait(200);
        QCOMPARE(shown(f), QStringLiteral("one"));

        // "Auto Recv" resumes, and pressing it twice keeps one loop reading once.
        QTest::mouseClick(f.Command8, Qt::LeftButton);
        QTest::mouseClick(f.Command8, Qt::LeftButton);
        QCOMPARE(f.Frame1->title(), kAutoAscii);
        QVERIFY(!f.Rec_Data_Manual);
        QTRY_COMPARE(shown(f), QStringLiteral("onetwo"));
        r.pty.write("three");
        QTRY_COMPARE(shown(f), QStringLiteral("onetwothree"));
        QCOMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("11"));
    }

    void closingEndsAutoReceiveSilently() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        MessageCatcher messages;
        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QTRY_VERIFY(!f.autoReceiveRunning());
        QCOMPARE(f.Frame1->title(), kAutoAscii);
        QTest::qWait(200);
        QCOMPARE(messages.texts, QStringList());
    }

    void modeToggle_data() {
        QTest::addColumn<bool>("manual");
        QTest::newRow("auto") << false;
        QTest::newRow("manual") << true;
    }
    void modeToggle() {
        QFETCH(bool, manual);
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        auto readNow = [&](int bytes) {
            if (!manual)
                return true;
            if (!r.waitBuffered(bytes))
                return false;
            QTest::mouseClick(f.Command2, Qt::LeftButton);
            return true;
        };
        if (manual)
            QTest::mouseClick(f.Command2, Qt::LeftButton);
        r.pty.write("AB");
        QVERIFY(readNow(2));
        QTRY_COMPARE(shown(f), QStringLiteral("AB"));

        QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
        QVERIFY(f.Recive_Binary);
        QCOMPARE(f.btn_Receive_Binary->text(), QStringLiteral("ASCII"));
        QCOMPARE(f.MSComm1->inputMode(), 1);
        QCOMPARE(f.Frame1->title(), manual ? kManualBinary : kAutoBinary);
        r.pty.write(QByteArray("\x01\x0a\xff", 3));
        QVERIFY(readNow(3));
        // What came before the switch keeps its old form.
        QTRY_COMPARE(shown(f), QStringLiteral("AB01 0A FF "));

        QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
        QVERIFY(!f.Recive_Binary);
        QCOMPARE(f.btn_Receive_Binary->text(), QStringLiteral("Binary"));
        QCOMPARE(f.MSComm1->inputMode(), 0);
        QCOMPARE(f.Frame1->title(), manual ? kManualAscii : kAutoAscii);
        r.pty.write("z");
        QVERIFY(readNow(1));
        QTRY_COMPARE(shown(f), QStringLiteral("AB01 0A FF z"));
        QCOMPARE(f.receiveDisplayLength(), 12);

        // The mode survives closing and reopening.
        QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QTest::mouseClick(f.Command1, Qt::LeftButton);
        QVERIFY(f.Port_Opened);
        QVERIFY(f.Recive_Binary);
        QCOMPARE(f.Frame1->title(), kAutoBinary);
    }

    void enlarge() {
        Form1 f;
        f.show();
        const QRect normal(300, 300, 216, 89); // 4500, 4500, 3240, 1335 twips
        QCOMPARE(f.Text3->geometry(), normal);
        QCOMPARE(QRect(f.Text3_Left, f.Text3_Top, f.Text3_Width, f.Text3_Height), normal);
        QCOMPARE(f.Recv_Show_Limit, 1024);

        QTest::mouseClick(f.Chk_ReadEnLarge, Qt::LeftButton);
        const QRect big(16, 416, 513, 254); // 240, 6240, 7695, 3810 twips: the Modbus frame
        QCOMPARE(f.Text3->geometry(), big);
        QCOMPARE(f.Frame5->geometry(), big);
        QCOMPARE(f.Recv_Show_Limit, 8192);
        // It lies over the Modbus frame, not under it.
        QWidget* top = f.childAt(big.center());
        QVERIFY(top == f.Text3 || f.Text3->isAncestorOf(top));

        QTest::mouseClick(f.Chk_ReadEnLarge, Qt::LeftButton);
        QCOMPARE(f.Text3->geometry(), normal);
        QCOMPARE(f.Recv_Show_Limit, 2048);
        QWidget* under = f.childAt(big.center());
        QVERIFY(under != f.Text3 && !f.Text3->isAncestorOf(under));
    }

    void clearText() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        r.pty.write(filler(1500));
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("1500"));
        QVERIFY(f.Recv_Total_Base != 0);
        r.pty.write("hello");
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("1505"));

        QTest::mouseClick(f.Command3, Qt::LeftButton);
        QCOMPARE(shown(f), QString());
        QCOMPARE(f.Recv_Length->text(), QStringLiteral("0"));
        QCOMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("0"));
        QCOMPARE(f.Recv_Total_Base, 0);
        r.pty.write("ab");
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("2"));
        QCOMPARE(f.Recv_Length->text(), QStringLiteral("2"));
        QCOMPARE(shown(f), QStringLiteral("ab"));
    }

    void clearInputBuffer() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        MessageCatcher messages;
        r.pty.write("kept");
        QTRY_COMPARE(shown(f), QStringLiteral("kept"));
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        r.pty.write("junk");
        QVERIFY(r.waitBuffered(4));
        QTest::mouseClick(f.Command4, Qt::LeftButton);
        QCOMPARE(f.MSComm1->inBufferCount(), 0);
        QCOMPARE(shown(f), QStringLiteral("kept")); // display and counters untouched
        QCOMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("4"));
        r.pty.write("ok");
        QVERIFY(r.waitBuffered(2));
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QCOMPARE(shown(f), QStringLiteral("keptok"));

        // Closed: the button stays usable and does nothing, without a message.
        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QVERIFY(f.Command4->isEnabled());
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(f.Command4, Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(messages.texts, QStringList());
        QCOMPARE(shown(f), QStringLiteral("keptok"));
    }

    void clearInputBufferNeverOpened() {
        Form1 f;
        f.show();
        MessageCatcher messages;
        QTest::mouseClick(f.Command4, Qt::LeftButton);
        QTest::qWait(100);
        QCOMPARE(messages.texts, QStringList());
    }

    void totalPastInt32EndsAutoReceive() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        MessageCatcher messages;
        f.Recv_Total_Base = kInt32Max - 5;
        r.pty.write("abc");
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QString::number(kInt32Max - 2));
        r.pty.write("defg");
        QTRY_COMPARE(messages.texts.size(), 1);
        QCOMPARE(messages.texts[0], QStringLiteral("AutoRecv => ErrCode=6; ErrMsg=Overflow"));
        QVERIFY(messages.okOnly());
        QVERIFY(!f.autoReceiveRunning());
        QVERIFY(!f.Rec_Data_Manual);
        QCOMPARE(f.Frame1->title(), kAutoAscii);
        QCOMPARE(shown(f), QStringLiteral("abcdefg")); // what was read stays on display
        QCOMPARE(f.txt_TotalRecvLen->text(), QString::number(kInt32Max - 2));
        r.pty.write("h");
        QTest::qWait(200);
        QCOMPARE(messages.texts.size(), 1); // ended: no message per pass
        QVERIFY(f.Port_Opened);

        // "Clear Text" and "Auto Recv" start again from zero.
        QTest::mouseClick(f.Command3, Qt::LeftButton);
        QTest::mouseClick(f.Command8, Qt::LeftButton);
        QTRY_COMPARE(f.txt_TotalRecvLen->text(), QStringLiteral("1"));
        QCOMPARE(shown(f), QStringLiteral("h"));
    }

    void manualTotalPastInt32() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        MessageCatcher messages;
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        f.Recv_Total_Base = kInt32Max - 2;
        r.pty.write("abcd");
        QVERIFY(r.waitBuffered(4));
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QTRY_COMPARE(messages.texts.size(), 1);
        QCOMPARE(messages.texts[0], QStringLiteral("ManualRecv => ErrCode=6; ErrMsg=Overflow"));
        QCOMPARE(shown(f), QStringLiteral("abcd"));
        QCOMPARE(f.Recv_Total_Base, kInt32Max - 2);
    }

    void manualKeepsTheLastMiB() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        // Lines of 64 characters numbered from 0; 8192 bytes a read, as the buffer holds.
        const int cap = 1048576;
        auto lines = [](int first, int count) {
            QByteArray b;
            for (int i = first; i < first + count; ++i)
                b += QByteArray::number(i).rightJustified(63, '.') + '\n';
            return b;
        };
        for (int line = 0; line < cap / 64; line += 128) {
            r.pty.write(lines(line, 128));
            QVERIFY(r.waitBuffered(8192));
            f.Command2_Click();
        }
        QCOMPARE(f.receiveDisplayLength(), cap);
        QCOMPARE(f.txt_TotalRecvLen->text(), QString::number(cap));

        // One line more: the first line scrolls off, the total still counts it.
        r.pty.write(lines(cap / 64, 1));
        QVERIFY(r.waitBuffered(64));
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        qInfo("manual read at the cap: %lld ms", static_cast<long long>(t.elapsed()));
        QCOMPARE(f.receiveDisplayLength(), cap);
        QCOMPARE(f.Recv_Length->text(), QString::number(cap));
        QCOMPARE(f.txt_TotalRecvLen->text(), QString::number(cap + 64));
        QCOMPARE(f.Recv_Total_Base, 64);
        const QString text = shown(f);
        QCOMPARE(text.size(), cap); // every line break is one character here too
        QVERIFY(text.startsWith(asShown(QString::fromLatin1(lines(1, 1)))));
        QVERIFY(text.endsWith(asShown(QString::fromLatin1(lines(cap / 64, 1)))));

        // A hex read over the cap folds what scrolls off into the base as well.
        QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
        r.pty.write(filler(10, '\x55'));
        QVERIFY(r.waitBuffered(10));
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QCOMPARE(f.receiveDisplayLength(), cap);
        QCOMPARE(f.Recv_Total_Base, 64 + 30);
        QVERIFY(shown(f).endsWith(QStringLiteral("55 55 ")));
    }

    void manualHexPastTheCap() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        // Hex runs on without line breaks: one block of up to the cap in the widget.
        const int reads = 1048576 / (3 * 8192) + 1;
        qint64 slowest = 0;
        for (int i = 0; i < reads; ++i) {
            r.pty.write(filler(8192, static_cast<char>(i)));
            QVERIFY(r.waitBuffered(8192));
            QElapsedTimer t;
            t.start();
            f.Command2_Click();
            QCoreApplication::processEvents(); // layout and paint count too
            slowest = std::max(slowest, t.elapsed());
        }
        qInfo("slowest hex manual read up to and past the cap: %lld ms",
              static_cast<long long>(slowest));
        QCOMPARE(f.receiveDisplayLength(), 1048576);
        QCOMPARE(f.Recv_Total_Base, reads * 3 * 8192 - 1048576);
        const QString tail = hexOf(filler(2, static_cast<char>(reads - 1)));
        QVERIFY(shown(f).endsWith(tail));
        QVERIFY(slowest < 3000);
    }

    void timer3FiresOncePerEnabling() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        QTRY_VERIFY(!f.Timer3->isActive()); // the start-up shot
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QTRY_VERIFY(!f.autoReceiveRunning());
        f.Timer3->start(); // as the network dialog's "Exit" does
        QTest::qWait(200);
        QVERIFY(f.Rec_Data_Manual); // not yet
        QTRY_VERIFY(f.autoReceiveRunning());
        QVERIFY(!f.Timer3->isActive());
        QCOMPARE(f.Frame1->title(), kAutoAscii);
        r.pty.write("back");
        QTRY_COMPARE(shown(f), QStringLiteral("back"));
        QTest::mouseClick(f.Command2, Qt::LeftButton);
        QTest::qWait(1200);
        QVERIFY(f.Rec_Data_Manual); // it did not fire again
        QVERIFY(!f.autoReceiveRunning());
    }

    void idleAutoReceiveCostsNothing() {
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        QVERIFY(f.autoReceiveRunning());
        const double cpu0 = test::processCpuSeconds();
        test::serveEvents(2000);
        const double used = test::processCpuSeconds() - cpu0;
        qInfo("CPU over 2 s of idle auto receive: %.3f s", used);
        QVERIFY2(used < 0.1, "auto receive is busy on an idle line");
        QVERIFY(f.autoReceiveRunning());
    }

    void deviceVanishes_data() {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("manual");
        QTest::addColumn<bool>("clearBufferAtOnce");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("auto, text") << false << false << false << "AutoRecv => ErrCode=";
        QTest::newRow("auto, hex") << true << false << false << "AutoRecv => ErrCode=";
        QTest::newRow("manual") << false << true << false << "ErrCode=";
        QTest::newRow("auto, then Clear Input Buffer") << false << false << true << "";
    }
    void deviceVanishes() {
        QFETCH(bool, binary);
        QFETCH(bool, manual);
        QFETCH(bool, clearBufferAtOnce);
        QFETCH(QString, prefix);
        Rig r;
        QVERIFY(r.f->Port_Opened);
        Form1& f = *r.f;
        if (binary)
            QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
        r.pty.write("hello");
        const QString expected = binary ? hexOf("hello") : QStringLiteral("hello");
        QTRY_COMPARE(shown(f), expected);
        if (manual) {
            QTest::mouseClick(f.Command2, Qt::LeftButton);
            QTRY_VERIFY(!f.autoReceiveRunning());
        }

        MessageCatcher messages;
        r.pty.closeMaster();
        if (clearBufferAtOnce)
            QTest::mouseClick(f.Command4, Qt::LeftButton);
        QTRY_COMPARE(messages.texts.size(), 1);
        QVERIFY2(messages.texts[0].startsWith(prefix), qPrintable(messages.texts[0]));
        QVERIFY(messages.texts[0].contains(QLatin1String("; ErrMsg=")));
        QVERIFY(messages.okOnly());
        QTRY_VERIFY(!f.Port_Opened);
        QVERIFY(!f.autoReceiveRunning());

        const double cpu0 = test::processCpuSeconds();
        test::serveEvents(2000);
        const double used = test::processCpuSeconds() - cpu0;
        QVERIFY2(used < 0.1, qPrintable(QStringLiteral("%1 s of CPU after the loss").arg(used)));
        QCOMPARE(messages.texts.size(), 1);
        QCOMPARE(shown(f), expected);
        QCOMPARE(f.txt_TotalRecvLen->text(), QString::number(expected.size()));
        QVERIFY(f.Command1->isVisible() && f.Command1->isEnabled());
        QCOMPARE(f.txt_DSR->text(), QString());

        // The device comes back: open again, and receiving goes on after what was kept.
        PtyPair again;
        serial::bindPort(1, again.slavePath().toStdString());
        QTest::mouseClick(f.Command1, Qt::LeftButton);
        QVERIFY(f.Port_Opened);
        QVERIFY(f.autoReceiveRunning());
        again.write("!");
        QTRY_COMPARE(shown(f), expected + (binary ? QStringLiteral("21 ") : QStringLiteral("!")));
        QTest::mouseClick(f.Command7, Qt::LeftButton);
        QVERIFY(!f.Port_Opened);
        QCOMPARE(messages.texts.size(), 1);
    }
};

QTEST_MAIN(TstReceive)
#include "tst_receive.moc"
