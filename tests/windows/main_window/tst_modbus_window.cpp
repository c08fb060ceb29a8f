// The Modbus frame of the main window, offscreen: requests typed into the box and sent to
// varnok-devsim, replies read back from the receive display; the log, Enter, the failure
// messages with the wire checked through a pseudo-terminal, and the function list.
#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <cstdint>
#include <memory>

#include "windows/main_window/form1.h"
#include "logic/modbus/catalogue.h"
#include "logic/serial/port_map.h"
#include "support/devsim_process.h"
#include "support/pty_pair.h"
#include "support/test_support.h"

using namespace varnok;
using varnok::test::MessageCatcher;
using varnok::test::PtyPair;

namespace {

// Bit by bit, as the protocol describes it; independent of the table-driven code under test.
QByteArray withCrc(QByteArray bytes) {
    std::uint16_t crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    bytes.append(static_cast<char>(crc & 0xFF));
    bytes.append(static_cast<char>(crc >> 8));
    return bytes;
}

// "01 03 02 " as the binary receive display and the log show bytes.
QString shown(const QByteArray& bytes) {
    return bytes.isEmpty() ? QString() : QString::fromLatin1(bytes.toHex(' ').toUpper()) + u' ';
}

// Types the list into the box as a user would (a long list, or one with a tab, is pasted).
void typeList(Form1& f, const QString& list) {
    f.txtString->clear();
    if (list.size() > 200 || list.contains(QLatin1Char('\t')))
        f.txtString->setText(list);
    else
        QTest::keyClicks(f.txtString, list);
    QCOMPARE(f.txtString->text(), list);
}

// The lines the user sees in a text box.
QStringList linesOf(const QPlainTextEdit* box) {
    return box->toPlainText().split(QLatin1Char('\n'));
}

// One simulated I/O module with its device bound to Com1.
struct Slave : test::DevsimProcess {
    bool start() {
        if (!DevsimProcess::start({"--mode", "modbus", "--static"}))
            return false;
        serial::bindPort(1, path().toStdString());
        return true;
    }
};

// A shown window whose Com1 is the pseudo-terminal, opened as the user does.
std::unique_ptr<Form1> openOn(const PtyPair& pty) {
    serial::bindPort(1, pty.slavePath().toStdString());
    auto f = std::make_unique<Form1>();
    f->show();
    QTest::mouseClick(f->Command1, Qt::LeftButton);
    return f;
}

// Opens Com1 as the user does and shows the receive display in hexadecimal.
void openBinary(Form1& f) {
    QTest::mouseClick(f.Command1, Qt::LeftButton);
    QVERIFY(f.Port_Opened);
    QTest::mouseClick(f.btn_Receive_Binary, Qt::LeftButton);
    QVERIFY(f.Recive_Binary);
}

// Empties the receive display and sends the list through the Modbus frame.
void sendRequest(Form1& f, const QString& list) {
    QTest::mouseClick(f.Command3, Qt::LeftButton);
    typeList(f, list);
    QTest::mouseClick(f.cmdSend, Qt::LeftButton);
}

// Picks a list item as a user does: opens the list and clicks the item.
void chooseItem(Form1& f, int index) {
    f.cboFunction->showPopup();
    QAbstractItemView* view = f.cboFunction->view();
    QTRY_VERIFY(view->isVisible());
    const QRect r = view->visualRect(view->model()->index(index, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
    QTRY_VERIFY(!view->isVisible());
}

QString itemText(int index) {
    return QString::fromStdString(modbus::functionItems().at(static_cast<size_t>(index)));
}

// As the box shows it: one line break per CR LF.
QString explanation(int index) {
    return QString::fromStdString(modbus::functionExplanation(index))
        .replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

} // namespace

class TstModbusWindow : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { serial::clearPortBindings(); }

    void slaveAnswers_data() {
        QTest::addColumn<QStringList>("lists");   // typed in turn into the request box
        QTest::addColumn<QStringList>("replies"); // each reply without its CRC
        const auto row = [](const char* name, const char* lists, const char* replies) {
            QTest::newRow(name) << QString::fromLatin1(lists).split(u'|')
                                << QString::fromLatin1(replies).split(u'|');
        };
        row("FC1 read coils", "1 1 0 0 0 8", "01 01 01 00");
        row("FC2 read discrete inputs", "1 2 0 0 0 8", "01 02 01 AA");
        row("FC3 read holding registers", "1 3 0 0 0 1", "01 03 02 12 34");
        row("FC4 read input registers", "1 4 0 0 0 2", "01 04 04 30 00 30 01");
        row("FC5 write single coil, read back", "1 5 0 3 FF 0|1 1 0 0 0 8",
            "01 05 00 03 FF 00|01 01 01 08");
        row("FC6 write single register, read back", "1 6 0 1 0 3|1 3 0 0 0 2",
            "01 06 00 01 00 03|01 03 04 12 34 00 03");
        row("FC15 write multiple coils, read back", "1 F 0 0 0 8 1 A5|1 1 0 0 0 8",
            "01 0F 00 00 00 08|01 01 01 A5");
        row("FC16 write multiple registers, read back",
            "  01 10 00 02  00 02 04 ab cd 0 7 |1 3 0 0 0 4",
            "01 10 00 02 00 02|01 03 08 12 34 00 00 AB CD 00 07");
    }
    void slaveAnswers() {
        QFETCH(QStringList, lists);
        QFETCH(QStringList, replies);
        Slave slave;
        QVERIFY(slave.start());
        Form1 f;
        f.show();
        openBinary(f);
        MessageCatcher messages;
        for (qsizetype i = 0; i < lists.size(); ++i) {
            const QByteArray reply = withCrc(QByteArray::fromHex(replies[i].toLatin1()));
            sendRequest(f, lists[i]);
            QTRY_COMPARE_WITH_TIMEOUT(f.Text3->toPlainText().size(), shown(reply).size(), 3000);
            const QString seen = f.Text3->toPlainText();
            QCOMPARE(seen, shown(reply));
            // The reply is well formed: its own CRC holds and it answers the function asked.
            const QByteArray got = QByteArray::fromHex(seen.toLatin1());
            QCOMPARE(withCrc(got.left(got.size() - 2)), got);
            QCOMPARE(got.at(1),
                     QByteArray::fromHex(lists[i].split(u' ', Qt::SkipEmptyParts).at(1).toLatin1())
                         .at(0));
        }
        QCOMPARE(linesOf(f.txtSend).size(), lists.size() + 1);
        QVERIFY(messages.texts.isEmpty());
        QTest::mouseClick(f.Command7, Qt::LeftButton);
    }

    void wrongCrcGetsNoReply() {
        Slave slave;
        QVERIFY(slave.start());
        Form1 f;
        f.show();
        openBinary(f);
        QTest::mouseClick(f.SetBinary, Qt::LeftButton);
        QVERIFY(!f.Send_ASCII_Mode);
        // The general send adds no CRC: the bytes go as typed.
        f.Text2->setPlainText(QStringLiteral("1 3 0 0 0 1 84 0B"));
        QTest::mouseClick(f.Command5, Qt::LeftButton);
        test::serveEvents(300);
        QCOMPARE(f.Text3->toPlainText(), QString());
        // The same request with its right CRC is answered on the same path.
        f.Text2->setPlainText(QStringLiteral("1 3 0 0 0 1 84 0A"));
        QTest::mouseClick(f.Command5, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f.Text3->toPlainText(), QStringLiteral("01 03 02 12 34 B5 33 "),
                                  3000);
        QTest::mouseClick(f.Command7, Qt::LeftButton);
    }

    void frameAndLogLine_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("initial text") << QString() << QByteArray::fromHex("010400000001 31CA");
        QTest::newRow("runs of spaces")
            << "  1   3 0    0 0  a    " << QByteArray::fromHex("01030000000AC5CD");
        QTest::newRow("empty") << "" << QByteArray::fromHex("FFFF");
        QTest::newRow("leading zeros and case")
            << "0001 000F ff FF" << withCrc(QByteArray::fromHex("010FFFFF"));
        QTest::newRow("longest list")
            << QString(QStringLiteral("7 ").repeated(32766)) << withCrc(QByteArray(32766, '\x07'));
    }
    void frameAndLogLine() {
        QFETCH(QString, list);
        QFETCH(QByteArray, frame);
        PtyPair pty;
        auto w = openOn(pty);
        Form1& f = *w;
        QVERIFY(f.Port_Opened);
        if (QTest::currentDataTag() != QByteArray("initial text"))
            typeList(f, list);
        const QString typed = f.txtString->text();
        MessageCatcher messages;

        for (int round = 1; round <= 2; ++round) {
            QTest::mouseClick(f.cmdSend, Qt::LeftButton);
            QCOMPARE(pty.readExactly(frame.size(), 5000).toHex(' '), frame.toHex(' '));
            // Every frame on a line of its own, each byte followed by a blank; the CR LF
            // after the last one leaves the caret's line empty.
            QStringList want(round, shown(frame));
            want << QString();
            QCOMPARE(linesOf(f.txtSend), want);
            QCOMPARE(f.txtSend->blockCount(), round + 1);
        }
        QCOMPARE(pty.readFor(100), QByteArray());
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(f.txtString->text(), typed);
        // The send counters belong to the general send.
        QCOMPARE(f.SendStrNum->text(), QStringLiteral("0"));
        QCOMPARE(f.txt_TotalSendLen->text(), QStringLiteral("0"));

        QTest::mouseClick(f.cmdClearSendReceive, Qt::LeftButton);
        QCOMPARE(f.txtSend->toPlainText(), QString());
        QCOMPARE(f.txtString->text(), typed);
        QVERIFY(f.MSComm1->portOpen());
        QCOMPARE(pty.readFor(50), QByteArray());
    }

    void logKeepsNewestLineInView() {
        PtyPair pty;
        auto w = openOn(pty);
        Form1& f = *w;
        for (int i = 0; i < 40; ++i)
            QTest::mouseClick(f.cmdSend, Qt::LeftButton);
        QCOMPARE(pty.readExactly(40 * 8, 5000).size(), 40 * 8);
        const QStringList lines = linesOf(f.txtSend);
        QCOMPARE(lines.size(), 41);
        QCOMPARE(lines.count(QStringLiteral("01 04 00 00 00 01 31 CA ")), 40);
        const QScrollBar* bar = f.txtSend->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
    }

    void enterSends_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
    }
    void enterSends() {
        QFETCH(int, key);
        PtyPair pty;
        auto w = openOn(pty);
        Form1& f = *w;
        typeList(f, QStringLiteral("1 3 0 0 0 1"));
        f.txtString->setCursorPosition(3);
        QTest::keyClick(f.txtString, Qt::Key(key));
        QCOMPARE(pty.readExactly(8, 5000).toHex(' '), QByteArray("01 03 00 00 00 01 84 0a"));
        QCOMPARE(f.txtString->text(), QStringLiteral("1 3 0 0 0 1"));
        QCOMPARE(f.txtString->cursorPosition(), 3);
        QCOMPARE(linesOf(f.txtSend), (QStringList{"01 03 00 00 00 01 84 0A ", ""}));
        // Other keys still type.
        QTest::keyClick(f.txtString, Qt::Key_5);
        QCOMPARE(f.txtString->text(), QStringLiteral("1 35 0 0 0 1"));
        QCOMPARE(pty.readFor(50), QByteArray());
    }

    void portClosedDoesNothing() {
        PtyPair pty;
        serial::bindPort(1, pty.slavePath().toStdString());
        Form1 f;
        f.show();
        MessageCatcher messages;
        for (const QString& list : {QStringLiteral("1 4 0 0 0 1"), QStringLiteral("G1 0103")}) {
            typeList(f, list);
            QTest::mouseClick(f.cmdSend, Qt::LeftButton);
            QTest::keyClick(f.txtString, Qt::Key_Return);
            test::serveEvents(100);
            QCOMPARE(f.txtString->text(), list);
        }
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(f.txtSend->toPlainText(), QString());
        QVERIFY(!f.MSComm1->portOpen());
        QCOMPARE(pty.readFor(50), QByteArray());
    }

    void listFailures_data() {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("message");
        const QString overflow =
            QStringLiteral("Space need to be placed between every binary data");
        const QString mismatch = QStringLiteral("Please send binary data !!");
        QTest::newRow("0103") << "1 0103 0 0" << overflow;
        QTest::newRow("100") << "1 3 100" << overflow;
        QTest::newRow("0x01") << "1 3 0x01" << mismatch;
        QTest::newRow("G1") << "1 G1 0 0" << mismatch;
        QTest::newRow("tab") << "1\t3 0 0" << mismatch;
        QTest::newRow("32767 values") << QString(QStringLiteral("1 ").repeated(32767)) << overflow;
    }
    void listFailures() {
        QFETCH(QString, list);
        QFETCH(QString, message);
        PtyPair pty;
        auto w = openOn(pty);
        Form1& f = *w;
        QTest::mouseClick(f.cmdSend, Qt::LeftButton); // one good line already in the log
        QCOMPARE(pty.readExactly(8, 5000).size(), 8);
        const QString logBefore = f.txtSend->toPlainText();

        typeList(f, list);
        MessageCatcher messages;
        QTest::mouseClick(f.cmdSend, Qt::LeftButton);
        QTRY_COMPARE(messages.texts.size(), 1);
        QCOMPARE(messages.texts[0], message);
        QVERIFY(messages.okOnly());
        QCOMPARE(pty.readFor(200), QByteArray());
        QCOMPARE(f.txtSend->toPlainText(), logBefore);
        QCOMPARE(f.txtString->text(), list);
        QVERIFY(f.Port_Opened);
    }

    void portFailureShowsItsOwnText() {
        PtyPair pty;
        auto w = openOn(pty);
        Form1& f = *w;
        QVERIFY(f.Port_Opened);
        MessageCatcher messages;
        pty.closeMaster(); // unplugged; the window has not looked at the port since
        f.cmdSend_Click();
        QTRY_VERIFY(!messages.texts.isEmpty());
        test::serveEvents(200);
        // The port's own description, once; nothing logged; the window sees the port closed.
        QCOMPARE(messages.texts.size(), 1);
        QVERIFY2(messages.texts[0].contains(QLatin1String("no longer available")),
                 qPrintable(messages.texts[0]));
        QVERIFY(messages.okOnly());
        QCOMPARE(f.txtSend->toPlainText(), QString());
        QTRY_VERIFY(!f.Port_Opened);
        QVERIFY(f.Command1->isEnabled());
    }

    void catalogueAtStartUp() {
        Form1 f;
        QCOMPARE(f.cboFunction->count(), modbus::kFunctionCount);
        for (int i = 0; i < f.cboFunction->count(); ++i)
            QCOMPARE(f.cboFunction->itemText(i), itemText(i));
        QCOMPARE(f.cboFunction->currentText(), itemText(0));
        QCOMPARE(f.txtExplanation->toPlainText(), explanation(0));
        QVERIFY(f.txtExplanation->toPlainText().contains(QLatin1String("FC=01")));
    }

    // What the user typed into the explanation goes with the next choice, and choosing the
    // item already shown brings its text back; the request box, log and wire stay as they were.
    void choosingAFunction_data() {
        QTest::addColumn<int>("index");
        QTest::newRow("FC5") << 4;
        QTest::newRow("FC1 again") << 0;
    }
    void choosingAFunction() {
        QFETCH(int, index);
        PtyPair pty;
        auto w = openOn(pty);
        Form1& f = *w;
        QTest::mouseClick(f.cmdSend, Qt::LeftButton);
        QCOMPARE(pty.readExactly(8, 5000).size(), 8);
        typeList(f, QStringLiteral("1 6 0 1 0 3"));
        const QString log = f.txtSend->toPlainText();
        QTest::keyClicks(f.txtExplanation, QStringLiteral("my notes"));
        QVERIFY(f.txtExplanation->toPlainText().contains(QLatin1String("my notes")));
        chooseItem(f, index);
        QCOMPARE(f.cboFunction->currentIndex(), index);
        QCOMPARE(f.cboFunction->currentText(), itemText(index));
        QCOMPARE(f.txtExplanation->toPlainText(), explanation(index));
        QCOMPARE(f.txtString->text(), QStringLiteral("1 6 0 1 0 3"));
        QCOMPARE(f.txtSend->toPlainText(), log);
        QCOMPARE(pty.readFor(100), QByteArray());
    }

    void typingInTheListText_data() {
        QTest::addColumn<QString>("typed");
        QTest::newRow("start of another item") << "FC6";
        QTest::newRow("another item whole") << itemText(5);
    }
    void typingInTheListText() {
        QFETCH(QString, typed);
        Form1 f;
        f.show();
        f.activateWindow();
        chooseItem(f, 2);
        QTest::keyClicks(f.txtExplanation, QStringLiteral("my notes"));
        const QString before = f.txtExplanation->toPlainText();
        QVERIFY(before.contains(QLatin1String("FC=03")));

        QLineEdit* edit = f.cboFunction->lineEdit();
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        QCOMPARE(f.cboFunction->currentText(), typed);
        QCOMPARE(f.txtExplanation->toPlainText(), before);
        // Leaving the text, with Enter or by moving on, chooses nothing either.
        QTest::keyClick(edit, Qt::Key_Return);
        f.txtString->setFocus();
        test::serveEvents(50);
        QCOMPARE(f.txtExplanation->toPlainText(), before);
        QCOMPARE(f.txtString->text(), QStringLiteral("1 4 0 0 0 1"));
    }
};

QTEST_MAIN(TstModbusWindow)
#include "tst_modbus_window.moc"
