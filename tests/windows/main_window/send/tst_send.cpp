// The send side of the main window offscreen: bytes checked on the far end of a pty pair.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <functional>
#include <memory>

#include "windows/main_window/form1.h"
#include "windows/main_window/message_box.h"
#include "logic/serial/port_map.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using varnok::test::MessageCatcher;
using varnok::test::PtyPair;

namespace {

// A real port that also tells how the bytes were handed to the system, one chunk per write.
class SpyPort : public serial::CommPort {
  public:
    SpyPort() {
        connect(&device(), &QSerialPort::bytesWritten, this,
                [this](qint64 n) { chunks << static_cast<int>(n); });
    }
    QList<int> chunks;
};

// A window with Com1 bound to a fresh pty pair and opened by a click on "Open COM".
struct Rig {
    PtyPair pty;
    SpyPort* port = nullptr;
    std::unique_ptr<Form1> f;

    Rig() {
        serial::bindPort(1, pty.slavePath().toStdString());
        auto p = std::make_unique<SpyPort>();
        port = p.get();
        f = std::make_unique<Form1>(std::move(p));
        f->show();
        QTest::mouseClick(f->Command1, Qt::LeftButton);
    }
    void send() { QTest::mouseClick(f->Command5, Qt::LeftButton); }
    void send(const QString& text) {
        f->Text2->setPlainText(text);
        send();
    }
    QRadioButton* option(int choice) const {
        const std::array<QRadioButton*, 6> o{f->Option1, f->Option2, f->Option3,
                                             f->Option4, f->Option5, f->Option6};
        return o.at(static_cast<size_t>(choice - 1));
    }
    // Sets the end-of-string choice the way a user does (before binary mode disables them).
    void choose(int choice) { QTest::mouseClick(option(choice), Qt::LeftButton); }
    void prepare(bool binary, const QString& text, int choice, const QString& def) {
        choose(choice);
        f->Text5->setText(def);
        if (binary)
            QTest::mouseClick(f->SetBinary, Qt::LeftButton);
        f->Text2->setPlainText(text);
    }
};

// Answers each message box `holdMs` after it shows, noting how many came, the most open at
// once and what reached the far end while one was open.
struct Answerer {
    Answerer(PtyPair& pty, int holdMs, std::function<void(QMessageBox*, int)> onNew,
             std::function<void()> beforeOk = {}) {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [=, this, &pty] {
            maxOpen = std::max(maxOpen, openMessageCount());
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (box != current) {
                current = box;
                shown.start();
                if (onNew)
                    onNew(box, ++boxes);
                else
                    ++boxes;
            }
            if (shown.elapsed() >= holdMs) {
                whileOpen += pty.readAvailable();
                if (beforeOk)
                    beforeOk();
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer.start();
    }
    int boxes = 0;
    int maxOpen = 0;
    QByteArray whileOpen;
    QTimer timer;
    QPointer<QMessageBox> current;
    QElapsedTimer shown;
};

} // namespace

class TstSend : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    // What a send writes (hex per write; none for a failure), the counters after it (they
    // were "7" and 100), the message if any (contained; the fixed ones exactly) and Send_Data.
    void sendButton_data() {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("choice"); // 1 None .. 6 Def
        QTest::addColumn<QString>("def");
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("grows");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("sendData"); // null: not checked
        const auto row = [](const char* name, bool binary, const QString& text, int choice,
                            const char* def, const QStringList& writes, int shown, int grows,
                            const QString& message = {}, const QString& sendData = {}) {
            QTest::newRow(name) << binary << text << choice << QString::fromLatin1(def) << writes
                                << shown << grows << message << sendData;
        };
        const QString abc = QStringLiteral("ABC");
        const QString list = QStringLiteral("01 03 00 00 00 01");
        row("ABC None", false, abc, 1, "", {"414243"}, 3, 3);
        row("ABC CR", false, abc, 2, "", {"4142430D"}, 4, 4);
        row("ABC LF", false, abc, 3, "", {"4142430A"}, 4, 4);
        row("ABC LF_CR", false, abc, 4, "", {"4142430A0D"}, 5, 5);
        row("ABC CR_LF", false, abc, 5, "", {"4142430D0A"}, 5, 5);
        row("ABC Def 1A", false, abc, 6, "1A", {"414243", "1A"}, 4, 4);
        row("ABC Def 0D0A", false, abc, 6, "0D0A", {"414243", "0D0A"}, 5, 5);
        row("ABC Def ABC", false, abc, 6, "ABC", {"414243", "AB0C"}, 5, 5);
        row("ABC Def empty", false, abc, 6, "", {"414243"}, 3, 3);
        row("empty CR", false, "", 2, "", {"0D"}, 1, 1);
        row("Latin-1", false, QStringLiteral("\u00E9\u00FF"), 1, "", {"E9FF"}, 2, 2);
        row("no-break space", false, QStringLiteral("A\u00A0B"), 1, "", {"41A042"}, 3, 3);
        row("binary None", true, list, 1, "", {"010300000001"}, 6, 17);
        row("binary CR", true, list, 2, "", {"010300000001"}, 7, 18);
        row("binary short tokens", true, "1 3 0 0 0 1", 1, "", {"010300000001"}, 4, 11);
        row("binary Def counts, not sent", true, "01 02", 6, "1A", {"0102"}, 2, 6);
        row("binary runs of blanks", true, "  ff   7 ", 1, "", {"FF07"}, 4, 9);

        const QString def = QStringLiteral("Don't use space in \"Def\" field !!");
        const QString notHex = QStringLiteral("Please send binary data (00~FF) !!");
        const QString spacing =
            QStringLiteral("Space need to be placed between every binary data  !!");
        row("Def 1A 0D", false, abc, 6, "1A 0D", {}, 7, 0, def, abc);
        row("Def bad in binary mode", true, "01 02", 6, "1 A", {}, 7, 0, def, "01 02");
        row("binary 0103", true, "0103", 1, "", {}, 4, 4, spacing, "0103");
        row("binary 0x01", true, "0x01", 2, "", {}, 5, 5, notHex, "0x01\r");
        row("binary line break", true, "01 02\n03", 1, "", {}, 8, 8, notHex, "01 02\n03");
        row("binary blanks only", true, "   ", 1, "", {}, 3, 3, {}, "   ");
        row("euro", false, QStringLiteral("A\u20ACB"), 2, "", {}, 7, 0, QStringLiteral("\u20AC"),
            QStringLiteral("A\u20ACB\r"));
        row("outside the BMP", false, QStringLiteral("x\U0001F600"), 1, "", {}, 7, 0,
            QStringLiteral("\U0001F600"), QStringLiteral("x\U0001F600"));
    }
    void sendButton() {
        QFETCH(bool, binary);
        QFETCH(QString, text);
        QFETCH(int, choice);
        QFETCH(QString, def);
        QFETCH(QStringList, writes);
        QFETCH(int, shown);
        QFETCH(int, grows);
        QFETCH(QString, message);
        QFETCH(QString, sendData);
        Rig r;
        QVERIFY(r.f->Port_Opened);
        MessageCatcher catcher;
        r.prepare(binary, text, choice, def);
        r.f->SendStrNum->setText(QStringLiteral("7"));
        r.f->txt_TotalSendLen->setText(QStringLiteral("100"));
        r.send();

        QByteArray expected;
        QList<int> sizes;
        for (const QString& w : writes) {
            expected += QByteArray::fromHex(w.toLatin1());
            sizes << static_cast<int>(w.size() / 2);
        }
        const QByteArray got = r.pty.readExactly(expected.size(), 2000) + r.pty.readFor(100);
        QCOMPARE(got.toHex(' '), expected.toHex(' '));
        QCOMPARE(r.port->chunks, sizes);
        QCOMPARE(r.f->SendStrNum->text(), QString::number(shown));
        QCOMPARE(r.f->txt_TotalSendLen->text(), QString::number(100 + grows));
        if (message.isEmpty()) {
            QVERIFY2(catcher.texts.isEmpty(), qPrintable(catcher.texts.join(QLatin1Char('|'))));
        } else {
            QCOMPARE(catcher.texts.size(), 1);
            QVERIFY2(catcher.texts.first().contains(message), qPrintable(catcher.texts.first()));
            QVERIFY(catcher.okOnly());
            if (message.size() > 2)
                QCOMPARE(catcher.texts.first(), message);
        }
        if (!sendData.isNull())
            QCOMPARE(QString::fromStdU16String(r.f->Send_Data), sendData);
        // The history step runs before anything can fail; the box is left as it was (raw:
        // toPlainText() shows a no-break space as a blank).
        QCOMPARE(r.f->Send_History.count(), text.isEmpty() ? 0 : 1);
        QCOMPARE(r.f->Text2->document()->toRawText().replace(QChar::ParagraphSeparator, u'\n'),
                 text);
    }

    void history() {
        Rig r;
        r.choose(1);
        for (int i = 0; i < 33; ++i)
            r.send(QStringLiteral("t%1").arg(i));
        QCOMPARE(r.pty.readExactly(2 * 10 + 3 * 23, 2000).size(), 89);
        QCOMPARE(r.f->Send_History.count(), 31);
        for (int i = 0; i < 31; ++i)
            QCOMPARE(QString::fromStdU16String(r.f->Send_History.entry(i)),
                     QStringLiteral("t%1").arg(i));
        QCOMPARE(QString::fromStdU16String(r.f->Send_History.entry(31)), QStringLiteral("t32"));

        Rig r2;
        for (const char* t : {"abc", "ABC", "aBc"})
            r2.send(QLatin1String(t));
        QCOMPARE(r2.pty.readExactly(12, 2000), QByteArray("abc\rABC\raBc\r"));
        QCOMPARE(r2.f->Send_History.count(), 1);
        QCOMPARE(QString::fromStdU16String(r2.f->Send_History.entry(0)), QStringLiteral("abc"));
    }

    void upDown() {
        Rig r;
        for (const char* t : {"one", "two", "L1\nL2"})
            r.send(QLatin1String(t));
        QCOMPARE(r.f->Send_History.cursor(), 2);
        const QList<QPair<Qt::Key, const char*>> walk = {
            {Qt::Key_Up, "two"},   {Qt::Key_Up, "one"},      {Qt::Key_Up, "one"},
            {Qt::Key_Down, "two"}, {Qt::Key_Down, "L1\nL2"}, {Qt::Key_Down, ""},
            {Qt::Key_Down, ""},    {Qt::Key_Up, "L1\nL2"}};
        for (const auto& [key, expected] : walk) {
            QTest::keyClick(r.f->Text2, key);
            QCOMPARE(r.f->Text2->toPlainText(), QLatin1String(expected));
            // The arrow is not swallowed: after the recall it still moves the caret.
            const int lines = int(QByteArray(expected).count('\n'));
            QCOMPARE(r.f->Text2->textCursor().blockNumber(), key == Qt::Key_Down ? lines : 0);
        }
        QTest::keyClicks(r.f->Text2, QStringLiteral("xy")); // other keys type as usual
        QCOMPARE(r.f->Text2->toPlainText(), QStringLiteral("xyL1\nL2"));
    }

    void modeSwitching() {
        Rig r;
        const auto expectMode = [&](bool ascii) {
            QCOMPARE(r.f->Send_ASCII_Mode, ascii);
            QCOMPARE(r.f->Frame2->title(), ascii ? QStringLiteral("Varnok_SEND ( ASCII Mode )")
                                                 : QStringLiteral("Varnok_SEND ( Binary Mode )"));
            QCOMPARE(r.f->SetASCII->isEnabled(), !ascii);
            for (QWidget* w : std::initializer_list<QWidget*>{r.option(1), r.option(2), r.option(3),
                                                              r.option(4), r.option(5), r.option(6),
                                                              r.f->Text5, r.f->SetBinary})
                QCOMPARE(w->isEnabled(), ascii);
        };
        expectMode(true);
        r.choose(4);
        r.f->Text5->setText(QStringLiteral("7E"));
        r.f->Text2->setPlainText(QStringLiteral("01 02"));
        QTest::mouseClick(r.f->SetBinary, Qt::LeftButton);
        expectMode(false);
        QVERIFY(r.option(4)->isChecked());
        QCOMPARE(r.f->Text5->text(), QStringLiteral("7E"));
        QCOMPARE(r.f->SendStrNum->text(), QStringLiteral("0"));
        r.send();
        QCOMPARE(r.pty.readExactly(2, 2000).toHex(' '), QByteArray("01 02"));
        QCOMPARE(QString::fromStdU16String(r.f->Send_Data), QStringLiteral("01 02\n\r"));
        QCOMPARE(r.f->SendStrNum->text(), QStringLiteral("3"));
        QCOMPARE(r.f->txt_TotalSendLen->text(), QStringLiteral("7"));
        QTest::mouseClick(r.f->SetASCII, Qt::LeftButton);
        expectMode(true);
        QVERIFY(r.option(4)->isChecked());
        QCOMPARE(r.f->Text2->toPlainText(), QStringLiteral("01 02"));
        QCOMPARE(r.f->txt_TotalSendLen->text(), QStringLiteral("7"));
        r.send();
        QCOMPARE(r.pty.readExactly(7, 2000), QByteArray("01 02\n\r"));

        // Closing and opening again comes back in ASCII mode.
        QTest::mouseClick(r.f->SetBinary, Qt::LeftButton);
        QTest::mouseClick(r.f->Command7, Qt::LeftButton);
        QVERIFY(!r.f->SetASCII->isEnabled() && !r.f->SetBinary->isEnabled());
        QTest::mouseClick(r.f->Command1, Qt::LeftButton);
        expectMode(true);
    }

    void counterClearing() {
        Rig r;
        r.send();
        QCOMPARE(r.pty.readExactly(7, 2000), QByteArray("KOVRAN\r"));
        QCOMPARE(r.f->txt_TotalSendLen->text(), QStringLiteral("7"));
        QTest::mouseClick(r.f->Command6, Qt::LeftButton);
        QCOMPARE(r.f->SendStrNum->text(), QStringLiteral("0"));
        QCOMPARE(r.f->txt_TotalSendLen->text(), QStringLiteral("0"));
        QCOMPARE(r.f->Text2->toPlainText(), QStringLiteral("KOVRAN"));
        QCOMPARE(r.f->Send_History.count(), 1);
        r.send();
        QCOMPARE(r.f->txt_TotalSendLen->text(), QStringLiteral("7"));
    }

    void badCounter_data() {
        QTest::addColumn<QString>("shownBefore");
        QTest::addColumn<QString>("totalBefore");
        QTest::addColumn<QString>("totalAfter");
        // clang-format off
        QTest::newRow("total abc") << "0" << "abc" << "4";
        QTest::newRow("count abc") << "abc" << "3" << "7";
        QTest::newRow("just fits") << "0" << "2147483643" << "2147483647";
        QTest::newRow("would pass") << "0" << "2147483644" << "4";
        QTest::newRow("past 32 bits") << "0" << "99999999999" << "4";
        // clang-format on
    }
    void badCounter() {
        QFETCH(QString, shownBefore);
        QFETCH(QString, totalBefore);
        QFETCH(QString, totalAfter);
        Rig r;
        MessageCatcher catcher;
        r.f->SendStrNum->setText(shownBefore);
        r.f->txt_TotalSendLen->setText(totalBefore);
        r.f->Text2->setPlainText(QStringLiteral("ABC"));
        r.send();
        QCOMPARE(r.pty.readExactly(4, 2000), QByteArray("ABC\r"));
        QCOMPARE(r.f->SendStrNum->text(), QStringLiteral("4"));
        QCOMPARE(r.f->txt_TotalSendLen->text(), totalAfter);
        QVERIFY(catcher.texts.isEmpty());
    }

    void periodInput_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("interval"); // 0: stopped; 500: the old period kept, a message
        QTest::newRow("65535") << "65535" << 65535;
        QTest::newRow("0 stops") << "0" << 0;
        QTest::newRow("abc") << "abc" << 500;
        QTest::newRow("65536") << "65536" << 500;
        QTest::newRow("-1") << "-1" << 500;
        QTest::newRow("huge") << "99999999999999999999" << 500;
    }
    void periodInput() {
        QFETCH(QString, typed);
        QFETCH(int, interval);
        Form1 f;
        f.show();
        MessageCatcher catcher;
        f.Text4->setText(typed);
        QTest::mouseClick(f.Command10, Qt::LeftButton);
        QCOMPARE(f.Timer2->isActive() ? f.Timer2->interval() : 0, interval);
        QCOMPARE(catcher.texts.size(), interval == 500 ? 1 : 0);
        if (interval == 500)
            QVERIFY2(catcher.okOnly() &&
                         catcher.texts.first().contains(QLatin1String("0 to 65535")),
                     qPrintable(catcher.texts.first()));
    }

    // Ticks counted on the far end with a generous tolerance; "Setting" not pressed leaves
    // the old period of 500 ms.
    void autoSendPeriod_data() {
        QTest::addColumn<bool>("setting");
        QTest::addColumn<int>("ms");
        QTest::addColumn<int>("least");
        QTest::addColumn<int>("most");
        QTest::newRow("100 ms after Setting") << true << 3000 << 20 << 32;
        QTest::newRow("Setting not pressed") << false << 2600 << 4 << 6;
    }
    void autoSendPeriod() {
        QFETCH(bool, setting);
        QFETCH(int, ms);
        QFETCH(int, least);
        QFETCH(int, most);
        Rig r;
        r.prepare(false, QStringLiteral("T"), 1, QString());
        r.f->Text4->setText(QStringLiteral("100"));
        if (setting)
            QTest::mouseClick(r.f->Command10, Qt::LeftButton);
        QTest::mouseClick(r.f->Command11, Qt::LeftButton);
        QVERIFY(r.f->Auto_Send && !r.f->Command11->isEnabled() && r.f->Command12->isEnabled());
        const QByteArray got = r.pty.readFor(ms);
        QCOMPARE(got, QByteArray(got.size(), 'T'));
        QVERIFY2(got.size() >= least && got.size() <= most,
                 qPrintable(QString::number(got.size())));
        QTest::mouseClick(r.f->Command12, Qt::LeftButton);
        QVERIFY(!r.f->Auto_Send && r.f->Command11->isEnabled() && !r.f->Command12->isEnabled());
        QCOMPARE(r.pty.readFor(400), QByteArray());
    }

    // A failing auto-send: one message at a time, no send while it is open, on after OK.
    void autoSendFailing() {
        Rig r;
        r.prepare(false, QStringLiteral("T"), 6, QStringLiteral("1 A"));
        r.f->Text4->setText(QStringLiteral("50"));
        QTest::mouseClick(r.f->Command10, Qt::LeftButton);
        Answerer a(r.pty, 400, [&](QMessageBox* box, int n) {
            QCOMPARE(box->text(), QStringLiteral("Don't use space in \"Def\" field !!"));
            if (n == 2) // mended: a tick that sent while the box is open would now write
                r.f->Text5->setText(QStringLiteral("1A"));
        });
        QTest::mouseClick(r.f->Command11, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(a.boxes, 2, 3000);
        QCOMPARE(r.pty.readExactly(2, 3000).toHex(' '), QByteArray("54 1a"));
        QCOMPARE(a.maxOpen, 1);
        QCOMPARE(a.whileOpen, QByteArray());
        QVERIFY(r.f->Auto_Send && r.f->Command12->isEnabled());
        QVERIFY(r.pty.readFor(300).size() >= 6); // it goes on
        QCOMPARE(a.boxes, 2);
    }

    // A failing manual send's message also holds back the ticks of a running auto-send.
    void manualFailureHoldsTicks() {
        Rig r;
        r.prepare(true, QStringLiteral("01"), 2, QString());
        r.f->Text4->setText(QStringLiteral("50"));
        QTest::mouseClick(r.f->Command10, Qt::LeftButton);
        QTest::mouseClick(r.f->Command11, Qt::LeftButton);
        QCOMPARE(r.pty.readExactly(1, 2000).toHex(), QByteArray("01"));
        Answerer a(r.pty, 300, {}, [&r] { r.f->Command12_Click(); });
        r.pty.readAvailable();
        // Ticks would fail on this text too and stack their messages if not held back.
        r.f->Text2->setPlainText(QStringLiteral("0G"));
        r.send(); // returns once the message is answered
        QCOMPARE(a.boxes, 1);
        QCOMPARE(a.maxOpen, 1);
        QCOMPARE(a.whileOpen, QByteArray());
        QVERIFY(!r.f->Auto_Send);
        QCOMPARE(r.pty.readFor(200), QByteArray());
    }
};

QTEST_MAIN(TstSend)
#include "tst_send.moc"
