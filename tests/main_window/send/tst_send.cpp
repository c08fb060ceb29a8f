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
#include <memory>

#include "main_window/form1.h"
#include "main_window/message_box.h"
#include "serial/port_map.h"
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
    QRadioButton* option(int choice) const {
        const std::array<QRadioButton*, 6> o{f->Option1, f->Option2, f->Option3,
                                             f->Option4, f->Option5, f->Option6};
        return o.at(static_cast<size_t>(choice - 1));
    }
    // Sets the end-of-string choice the way a user does (before binary mode disables them).
    void choose(int choice) { QTest::mouseClick(option(choice), Qt::LeftButton); }
};

} // namespace

class TstSend : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    void wire_data() {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("choice"); // 1 None .. 6 Def
        QTest::addColumn<QString>("def");
        QTest::addColumn<QStringList>("writes"); // hex per write
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("grows");
        const QString abc = QStringLiteral("ABC");
        const QString list = QStringLiteral("01 03 00 00 00 01");
        QTest::newRow("ABC None") << false << abc << 1 << "" << QStringList{"414243"} << "3" << 3;
        QTest::newRow("ABC CR") << false << abc << 2 << "" << QStringList{"4142430D"} << "4" << 4;
        QTest::newRow("ABC LF") << false << abc << 3 << "" << QStringList{"4142430A"} << "4" << 4;
        QTest::newRow("ABC LF_CR")
            << false << abc << 4 << "" << QStringList{"4142430A0D"} << "5" << 5;
        QTest::newRow("ABC CR_LF")
            << false << abc << 5 << "" << QStringList{"4142430D0A"} << "5" << 5;
        QTest::newRow("ABC Def 1A")
            << false << abc << 6 << "1A" << QStringList{"414243", "1A"} << "4" << 4;
        QTest::newRow("ABC Def 0D0A")
            << false << abc << 6 << "0D0A" << QStringList{"414243", "0D0A"} << "5" << 5;
        QTest::newRow("ABC Def ABC")
            << false << abc << 6 << "ABC" << QStringList{"414243", "AB0C"} << "5" << 5;
        QTest::newRow("ABC Def lower")
            << false << abc << 6 << "0d0a" << QStringList{"414243", "0D0A"} << "5" << 5;
        QTest::newRow("ABC Def empty")
            << false << abc << 6 << "" << QStringList{"414243"} << "3" << 3;
        QTest::newRow("empty CR") << false << "" << 2 << "" << QStringList{"0D"} << "1" << 1;
        QTest::newRow("empty None") << false << "" << 1 << "" << QStringList{} << "0" << 0;
        QTest::newRow("Latin-1") << false << QStringLiteral("\u00E9\u00FF") << 1 << ""
                                 << QStringList{"E9FF"} << "2" << 2;
        QTest::newRow("no-break space")
            << false << QStringLiteral("A\u00A0B") << 1 << "" << QStringList{"41A042"} << "3" << 3;
        QTest::newRow("two lines CR")
            << false << "A\nB" << 2 << "" << QStringList{"410A420D"} << "4" << 4;
        QTest::newRow("binary None")
            << true << list << 1 << "" << QStringList{"010300000001"} << "6" << 17;
        QTest::newRow("binary CR")
            << true << list << 2 << "" << QStringList{"010300000001"} << "7" << 18;
        QTest::newRow("binary short tokens")
            << true << "1 3 0 0 0 1" << 1 << "" << QStringList{"010300000001"} << "4" << 11;
        QTest::newRow("binary Def counts, not sent")
            << true << "01 02" << 6 << "1A" << QStringList{"0102"} << "2" << 6;
        QTest::newRow("binary runs of blanks")
            << true << "  ff   7 " << 1 << "" << QStringList{"FF07"} << "4" << 9;
    }
    void wire() {
        QFETCH(bool, binary);
        QFETCH(QString, text);
        QFETCH(int, choice);
        QFETCH(QString, def);
        QFETCH(QStringList, writes);
        QFETCH(QString, shown);
        QFETCH(int, grows);

        Rig r;
        QVERIFY(r.f->Port_Opened);
        MessageCatcher catcher;
        r.choose(choice);
        r.f->Text5->setText(def);
        if (binary)
            QTest::mouseClick(r.f->SetBinary, Qt::LeftButton);
        r.f->txt_TotalSendLen->setText(QStringLiteral("10"));
        r.f->Text2->setPlainText(text);
        r.send();

        QByteArray expected;
        QList<int> sizes;
        for (const QString& w : writes) {
            expected += QByteArray::fromHex(w.toLatin1());
            sizes << static_cast<int>(QByteArray::fromHex(w.toLatin1()).size());
        }
        const QByteArray got = r.pty.readExactly(expected.size(), 2000) + r.pty.readFor(100);
        QCOMPARE(got.toHex(' '), expected.toHex(' '));
        QCOMPARE(r.port->chunks, sizes);
        QCOMPARE(r.f->SendStrNum->text(), shown);
        QCOMPARE(r.f->txt_TotalSendLen->text(), QString::number(10 + grows));
        QVERIFY2(catcher.texts.isEmpty(), qPrintable(catcher.texts.join(QLatin1Char('|'))));
        // A send leaves the box as it was (raw: toPlainText() shows a no-break space as a blank).
        QCOMPARE(r.f->Text2->document()->toRawText().replace(QChar::ParagraphSeparator, u'\n'),
                 text);
    }

    // Failures and sends that write nothing: message, counters, Send_Data and history.
    void nothingWritten_data() {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("def");
        QTest::addColumn<QString>("message"); // empty: none; else the text must contain it
        QTest::addColumn<QString>("shown");   // SendStrNum after (it was "7")
        QTest::addColumn<int>("total");       // txt_TotalSendLen after (it was 100)
        QTest::addColumn<QString>("sendData");
        const QString def = QStringLiteral("Don't use space in \"Def\" field !!");
        const QString notHex = QStringLiteral("Please send binary data (00~FF) !!");
        const QString spacing =
            QStringLiteral("Space need to be placed between every binary data  !!");
        QTest::newRow("Def 1A 0D") << false << "ABC" << 6 << "1A 0D" << def << "7" << 100 << "ABC";
        QTest::newRow("Def G1") << false << "ABC" << 6 << "G1" << def << "7" << 100 << "ABC";
        QTest::newRow("Def odd blank")
            << false << "ABC" << 6 << "1A " << def << "7" << 100 << "ABC";
        QTest::newRow("Def bad in binary mode")
            << true << "01 02" << 6 << "1 A" << def << "7" << 100 << "01 02";
        QTest::newRow("binary 0103")
            << true << "0103" << 1 << "" << spacing << "4" << 104 << "0103";
        QTest::newRow("binary 100")
            << true << "01 100" << 1 << "" << spacing << "6" << 106 << "01 100";
        QTest::newRow("binary 0G") << true << "0G" << 1 << "" << notHex << "2" << 102 << "0G";
        QTest::newRow("binary 0G with Def")
            << true << "0G" << 6 << "1A" << notHex << "3" << 103 << "0G";
        QTest::newRow("binary 0x01")
            << true << "0x01" << 2 << "" << notHex << "5" << 105 << "0x01\r";
        QTest::newRow("binary line break")
            << true << "01 02\n03" << 1 << "" << notHex << "8" << 108 << "01 02\n03";
        QTest::newRow("binary blanks only") << true << "   " << 1 << ""
                                            << ""
                                            << "3" << 103 << "   ";
        QTest::newRow("binary empty CR") << true << "" << 2 << ""
                                         << ""
                                         << "1" << 101 << "\r";
        QTest::newRow("euro") << false << QStringLiteral("A\u20ACB") << 2 << ""
                              << QStringLiteral("\u20AC") << "7" << 100
                              << QStringLiteral("A\u20ACB\r");
        QTest::newRow("CJK") << false << QStringLiteral("\u4E2D") << 1 << ""
                             << QStringLiteral("\u4E2D") << "7" << 100 << QStringLiteral("\u4E2D");
        QTest::newRow("outside the BMP")
            << false << QStringLiteral("x\U0001F600") << 1 << "" << QStringLiteral("\U0001F600")
            << "7" << 100 << QStringLiteral("x\U0001F600");
    }
    void nothingWritten() {
        QFETCH(bool, binary);
        QFETCH(QString, text);
        QFETCH(int, choice);
        QFETCH(QString, def);
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QFETCH(int, total);
        QFETCH(QString, sendData);

        Rig r;
        MessageCatcher catcher;
        r.choose(choice);
        r.f->Text5->setText(def);
        if (binary)
            QTest::mouseClick(r.f->SetBinary, Qt::LeftButton);
        r.f->SendStrNum->setText(QStringLiteral("7"));
        r.f->txt_TotalSendLen->setText(QStringLiteral("100"));
        r.f->Text2->setPlainText(text);
        r.send();

        QCOMPARE(r.pty.readFor(200).toHex(' '), QByteArray());
        QVERIFY(r.port->chunks.isEmpty());
        if (message.isEmpty()) {
            QVERIFY2(catcher.texts.isEmpty(), qPrintable(catcher.texts.join(QLatin1Char('|'))));
        } else {
            QCOMPARE(catcher.texts.size(), 1);
            QVERIFY2(catcher.texts.first().contains(message), qPrintable(catcher.texts.first()));
            QVERIFY(catcher.okOnly());
            if (message.size() > 2) // the fixed messages exactly, blanks included
                QCOMPARE(catcher.texts.first(), message);
        }
        QCOMPARE(r.f->SendStrNum->text(), shown);
        QCOMPARE(r.f->txt_TotalSendLen->text(), QString::number(total));
        QCOMPARE(QString::fromStdU16String(r.f->Send_Data), sendData);
        // The history step ran before anything failed.
        const bool recorded = !text.isEmpty();
        QCOMPARE(r.f->Send_History.count(), recorded ? 1 : 0);
        if (recorded)
            QCOMPARE(QString::fromStdU16String(r.f->Send_History.entry(0)), text);
    }

    void history() {
        Rig r;
        r.choose(1);
        for (int i = 0; i < 33; ++i) {
            r.f->Text2->setPlainText(QStringLiteral("t%1").arg(i));
            r.send();
        }
        QCOMPARE(r.pty.readExactly(2 * 10 + 3 * 23, 2000).size(), 89);
        QCOMPARE(r.f->Send_History.count(), 31);
        for (int i = 0; i < 31; ++i)
            QCOMPARE(QString::fromStdU16String(r.f->Send_History.entry(i)),
                     QStringLiteral("t%1").arg(i));
        QCOMPARE(QString::fromStdU16String(r.f->Send_History.entry(31)), QStringLiteral("t32"));

        Rig r2;
        for (const char* t : {"abc", "ABC", "aBc"}) {
            r2.f->Text2->setPlainText(QLatin1String(t));
            r2.send();
        }
        QCOMPARE(r2.pty.readExactly(12, 2000), QByteArray("abc\rABC\raBc\r"));
        QCOMPARE(r2.f->Send_History.count(), 1);
        QCOMPARE(QString::fromStdU16String(r2.f->Send_History.entry(0)), QStringLiteral("abc"));
    }

    void upDown() {
        Rig r;
        for (const char* t : {"one", "two", "three"}) {
            r.f->Text2->setPlainText(QLatin1String(t));
            r.send();
        }
        QCOMPARE(r.f->Send_History.count(), 3);
        QCOMPARE(r.f->Send_History.cursor(), 2);
        const QList<QPair<Qt::Key, const char*>> walk = {
            {Qt::Key_Up, "two"},   {Qt::Key_Up, "one"},     {Qt::Key_Up, "one"},
            {Qt::Key_Down, "two"}, {Qt::Key_Down, "three"}, {Qt::Key_Down, ""},
            {Qt::Key_Down, ""},    {Qt::Key_Up, "three"}};
        for (const auto& [key, expected] : walk) {
            QTest::keyClick(r.f->Text2, key);
            QCOMPARE(r.f->Text2->toPlainText(), QLatin1String(expected));
        }
        // Other keys type as usual.
        QTest::keyClicks(r.f->Text2, QStringLiteral("xy"));
        QCOMPARE(r.f->Text2->toPlainText(), QStringLiteral("xythree"));
    }

    // The arrow is not swallowed: after the recall the caret still moves in the box.
    void arrowKeyMovesCaret() {
        Rig r;
        for (const char* t : {"a", "L1\nL2"}) {
            r.f->Text2->setPlainText(QLatin1String(t));
            r.send();
        }
        QTest::keyClick(r.f->Text2, Qt::Key_Up);
        QCOMPARE(r.f->Text2->toPlainText(), QStringLiteral("a"));
        QTest::keyClick(r.f->Text2, Qt::Key_Down);
        QCOMPARE(r.f->Text2->toPlainText(), QStringLiteral("L1\nL2"));
        QCOMPARE(r.f->Text2->textCursor().blockNumber(), 1);
    }

    void modeSwitching() {
        Rig r;
        const auto expectMode = [&](bool ascii) {
            QCOMPARE(r.f->Send_ASCII_Mode, ascii);
            QCOMPARE(r.f->Frame2->title(), ascii ? QStringLiteral("Varnok_SEND ( ASCII Mode )")
                                                 : QStringLiteral("Varnok_SEND ( Binary Mode )"));
            QCOMPARE(r.f->SetASCII->isEnabled(), !ascii);
            QCOMPARE(r.f->SetBinary->isEnabled(), ascii);
            for (int c = 1; c <= 6; ++c)
                QCOMPARE(r.option(c)->isEnabled(), ascii);
            QCOMPARE(r.f->Text5->isEnabled(), ascii);
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
        QVERIFY(!r.f->SetASCII->isEnabled());
        QVERIFY(!r.f->SetBinary->isEnabled());
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
        QTest::newRow("total abc") << "0"
                                   << "abc"
                                   << "4";
        QTest::newRow("total empty") << "0"
                                     << ""
                                     << "4";
        QTest::newRow("total 1.5") << "0"
                                   << "1.5"
                                   << "4";
        QTest::newRow("count abc") << "abc"
                                   << "3"
                                   << "7";
        QTest::newRow("just fits") << "0"
                                   << "2147483643"
                                   << "2147483647";
        QTest::newRow("would pass") << "0"
                                    << "2147483644"
                                    << "4";
        QTest::newRow("INT32_MAX") << "0"
                                   << "2147483647"
                                   << "4";
        QTest::newRow("past 32 bits") << "0"
                                      << "99999999999"
                                      << "4";
        QTest::newRow("negative") << "0"
                                  << "-10"
                                  << "-6";
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
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("interval");
        QTest::addColumn<bool>("active");
        QTest::newRow("100") << "100" << true << 100 << true;
        QTest::newRow("65535") << "65535" << true << 65535 << true;
        QTest::newRow("0 stops") << "0" << true << 500 << false;
        QTest::newRow("blanks around") << " 250 " << true << 250 << true;
        QTest::newRow("abc") << "abc" << false << 500 << true;
        QTest::newRow("65536") << "65536" << false << 500 << true;
        QTest::newRow("-1") << "-1" << false << 500 << true;
        QTest::newRow("empty") << "" << false << 500 << true;
        QTest::newRow("1.5") << "1.5" << false << 500 << true;
        QTest::newRow("huge") << "99999999999999999999" << false << 500 << true;
    }
    void periodInput() {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(int, interval);
        QFETCH(bool, active);
        Form1 f;
        f.show();
        MessageCatcher catcher;
        f.Text4->setText(typed);
        QTest::mouseClick(f.Command10, Qt::LeftButton);
        QCOMPARE(f.Timer2->isActive(), active);
        if (active)
            QCOMPARE(f.Timer2->interval(), interval);
        if (accepted) {
            QVERIFY(catcher.texts.isEmpty());
        } else {
            QCOMPARE(catcher.texts.size(), 1);
            QVERIFY(catcher.okOnly());
            QVERIFY2(catcher.texts.first().contains(QLatin1String("0 to 65535")),
                     qPrintable(catcher.texts.first()));
        }
    }

    void autoSendPeriod() {
        Rig r;
        r.choose(1);
        r.f->Text2->setPlainText(QStringLiteral("T"));
        r.f->Text4->setText(QStringLiteral("100"));
        QTest::mouseClick(r.f->Command10, Qt::LeftButton);
        QTest::mouseClick(r.f->Command11, Qt::LeftButton);
        QVERIFY(r.f->Auto_Send);
        QVERIFY(!r.f->Command11->isEnabled());
        QVERIFY(r.f->Command12->isEnabled());
        const QByteArray got = r.pty.readFor(3000);
        QCOMPARE(got, QByteArray(got.size(), 'T'));
        QVERIFY2(got.size() >= 20 && got.size() <= 32, qPrintable(QString::number(got.size())));
        QTest::mouseClick(r.f->Command12, Qt::LeftButton);
        QVERIFY(!r.f->Auto_Send);
        QVERIFY(r.f->Command11->isEnabled());
        QVERIFY(!r.f->Command12->isEnabled());
        QCOMPARE(r.pty.readFor(400), QByteArray());
    }

    void periodNotApplied() {
        Rig r;
        r.choose(1);
        r.f->Text2->setPlainText(QStringLiteral("T"));
        r.f->Text4->setText(QStringLiteral("1000")); // "Setting" not pressed
        QTest::mouseClick(r.f->Command11, Qt::LeftButton);
        const int n = static_cast<int>(r.pty.readFor(2600).size());
        QCOMPARE(r.f->Timer2->interval(), 500);
        QVERIFY2(n >= 4 && n <= 6, qPrintable(QString::number(n)));
    }

    void periodZeroStops() {
        Rig r;
        r.choose(1);
        r.f->Text2->setPlainText(QStringLiteral("T"));
        r.f->Text4->setText(QStringLiteral("0"));
        QTest::mouseClick(r.f->Command10, Qt::LeftButton);
        QTest::mouseClick(r.f->Command11, Qt::LeftButton);
        QCOMPARE(r.pty.readFor(800), QByteArray());
        r.f->Text4->setText(QStringLiteral("50"));
        QTest::mouseClick(r.f->Command10, Qt::LeftButton);
        QVERIFY(r.pty.readFor(400).size() >= 3);
    }

    // A failing auto-send: one message at a time, no send while it is open, on after OK.
    void autoSendFailing() {
        Rig r;
        r.choose(6);
        r.f->Text5->setText(QStringLiteral("1 A"));
        r.f->Text2->setPlainText(QStringLiteral("T"));
        r.f->Text4->setText(QStringLiteral("50"));
        QTest::mouseClick(r.f->Command10, Qt::LeftButton);

        int boxes = 0;
        int maxOpen = 0;
        QByteArray whileOpen;
        QElapsedTimer shown;
        QPointer<QMessageBox> current;
        QTimer answer;
        answer.setInterval(5);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            maxOpen = std::max(maxOpen, openMessageCount());
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (box != current) {
                current = box;
                ++boxes;
                shown.start();
                QCOMPARE(box->text(), QStringLiteral("Don't use space in \"Def\" field !!"));
                // Mend the field: a tick that sent while the box is open would now write.
                if (boxes == 2)
                    r.f->Text5->setText(QStringLiteral("1A"));
            }
            if (shown.elapsed() >= 400) {
                whileOpen += r.pty.readAvailable();
                box->button(QMessageBox::Ok)->click();
            }
        });
        answer.start();
        QTest::mouseClick(r.f->Command11, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(boxes, 2, 3000);
        const QByteArray got = r.pty.readExactly(2, 3000);
        QCOMPARE(got.toHex(' '), QByteArray("54 1a"));
        QCOMPARE(boxes, 2);
        QCOMPARE(maxOpen, 1);
        QCOMPARE(whileOpen, QByteArray());
        QVERIFY(r.f->Auto_Send);
        QVERIFY(r.f->Command12->isEnabled());
        QVERIFY(r.pty.readFor(300).size() >= 6); // it goes on
        QCOMPARE(boxes, 2);
    }

    // A failing manual send's message also holds back the ticks of a running auto-send.
    void manualFailureHoldsTicks() {
        Rig r;
        r.f->Text2->setPlainText(QStringLiteral("01"));
        QTest::mouseClick(r.f->SetBinary, Qt::LeftButton);
        r.f->Text4->setText(QStringLiteral("50"));
        QTest::mouseClick(r.f->Command10, Qt::LeftButton);
        QTest::mouseClick(r.f->Command11, Qt::LeftButton);
        QCOMPARE(r.pty.readExactly(1, 2000).toHex(), QByteArray("01"));

        int boxes = 0;
        int maxOpen = 0;
        QByteArray whileOpen;
        QTimer answer;
        answer.setInterval(5);
        QElapsedTimer shown;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            maxOpen = std::max(maxOpen, openMessageCount());
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            if (!shown.isValid()) {
                ++boxes;
                shown.start();
            }
            if (shown.elapsed() >= 300) {
                whileOpen += r.pty.readAvailable();
                r.f->Command12_Click();
                box->button(QMessageBox::Ok)->click();
            }
        });
        answer.start();
        r.pty.readAvailable();
        // Ticks would fail on this text too and stack their messages if not held back.
        r.f->Text2->setPlainText(QStringLiteral("0G"));
        r.send(); // returns once the message is answered
        QCOMPARE(boxes, 1);
        QCOMPARE(maxOpen, 1);
        QCOMPARE(whileOpen, QByteArray());
        QVERIFY(!r.f->Auto_Send);
        QCOMPARE(r.pty.readFor(200), QByteArray());
    }
};

QTEST_MAIN(TstSend)
#include "tst_send.moc"
