// The N500 dialog against the simulated console: its look, what goes on the wire, what the
// boxes show, and how the main window's receiving is taken and given back.
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "support/devsim_process.h"
#include "support/form_rig.h"
#include "windows/netsetting/setnet_form.h"

using namespace varnok;
using test::click;

namespace {

const QString kManualAscii = QStringLiteral("Varnok_RECV ( Manual-Recv )( ASCII Mode )");

// The main window on a simulated console, opened, with the dialog loaded.
struct DialogRig {
    test::DevsimProcess sim;
    std::unique_ptr<test::FormRig> main;
    SETNET_Form* d = nullptr;

    // On the simulated console, or on a bare pseudo-terminal pair held by the test.
    bool start(QStringList args = {}, bool simulated = true) {
        if (simulated && !sim.start(QStringList{"--mode", "n500"} + args, true))
            return false;
        main = std::make_unique<test::FormRig>(nullptr, simulated ? sim.path() : QString());
        main->f->Timer3->stop(); // its start-up shot would take the input back
        if (!main->open())
            return false;
        click(main->f->Cmd_SetNet);
        d = main->f->netSettingForm();
        return d != nullptr;
    }
    // The commands the console took since the last look, as its log tells them.
    QStringList commands() {
        test::serveEvents(50);
        QStringList out;
        for (const QByteArray& line : sim.process().readAllStandardError().split('\n'))
            if (line.startsWith("n500 \""))
                out << QString::fromLatin1(line.mid(6, line.indexOf("\" -> ") - 6));
        return out;
    }
    QList<QLineEdit*> edits() const {
        QList<QLineEdit*> out;
        for (const auto* row : {&d->IP, &d->Mask, &d->Gateway})
            out.append(QList<QLineEdit*>(row->begin(), row->end()));
        return out;
    }
    QStringList boxes() const {
        QStringList out;
        for (const QLineEdit* e : edits())
            out << e->text();
        return out;
    }
};

QStringList split12(const char* dotted3) {
    QStringList out;
    for (const QString& v : QString::fromLatin1(dotted3).split(u' '))
        out << v.split(u'.');
    return out;
}

} // namespace

class TstSetnetForm : public QObject {
    Q_OBJECT
  private slots:
    void look() {
        DialogRig r;
        QVERIFY(r.start());
        QCOMPARE(r.d->windowTitle(), QStringLiteral("N500 Net Setting"));
        QVERIFY(r.d->isWindow() && !r.d->parentWidget() && r.d->windowModality() == Qt::NonModal);
        QCOMPARE(r.boxes(), QStringList(12, QStringLiteral("0")));
        for (QWidget* w : r.d->findChildren<QWidget*>()) {
            const QString text = w->property("text").toString().trimmed();
            if (!text.isEmpty() && !qobject_cast<QLineEdit*>(w))
                QVERIFY2(w->fontMetrics().horizontalAdvance(text) <= w->width(),
                         qPrintable(w->objectName()));
        }
        QCOMPARE(r.d->IP[3]->objectName(), QStringLiteral("IP_3"));
    }

    void get_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("expected");
        QTest::addRow("three values") << QStringList{} << split12("10.0.0.7 255.0.0.0 10.0.0.1");
        // An "=" before the address shifts everything one place.
        QTest::addRow("banner with =")
            << QStringList{"--banner", "x=1"} << split12("1.1.1.1 10.0.0.7 255.0.0.0");
        QTest::addRow("short dotted values")
            << QStringList{"--ip", "10.7", "--mask", "1.2.3.4.5", "--gateway", ".5"}
            << QStringList{"10", "7", "7", "7", "1", "2", "3", "4", "", "5", "5", "5"};
    }
    void get() {
        QFETCH(QStringList, args);
        QFETCH(QStringList, expected);
        DialogRig r;
        QVERIFY(r.start(args));
        const QString shown = r.main->f->Text3->toPlainText();
        QElapsedTimer clicked;
        clicked.start();
        click(r.d->Cmd_GET);
        QVERIFY2(clicked.elapsed() < 190, "GET holds the window through its 200 ms pause");
        QTRY_COMPARE(r.boxes(), expected);
        QCOMPARE(r.commands(), QStringList({"ip", "mask", "gateway"}));
        test::serveEvents(100);
        QCOMPARE(r.main->f->Text3->toPlainText(), shown); // the reply went to the dialog only
        QCOMPARE(r.main->messages.texts, QStringList());
    }

    // SET writes nothing while a box holds no part of an address.
    void setRefusesWhatIsNoAddress_data() {
        QTest::addColumn<int>("box");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addRow("letters") << 0 << "999x"
                                 << "IP, box 1: 999x is not a number from 0 to 255";
        QTest::addRow("past 255") << 7 << "256"
                                  << "Mask, box 4: 256 is not a number from 0 to 255";
        QTest::addRow("sign") << 9 << "-1"
                              << "Gateway, box 2: -1 is not a number from 0 to 255";
        QTest::addRow("empty box is refused by name: an empty part makes a broken address")
            << 11 << ""
            << "Gateway, box 4 is empty: type a number from 0 to 255";
    }
    void setRefusesWhatIsNoAddress() {
        QFETCH(int, box);
        QFETCH(QString, text);
        QFETCH(QString, message);
        DialogRig r;
        QVERIFY(r.start({}, false));
        click(r.d->Cmd_Default);
        r.edits()[box]->setText(text);
        click(r.d->Cmd_SET);
        QCOMPARE(r.main->messages.texts, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(r.main->pty.readFor(150).isEmpty(), !message.isEmpty());
    }

    // The reply to GET holds fewer than the three values: one message names what is missing
    // and every box keeps its text. Input left over (a late reply) is dropped before the next
    // command, so the next GET never shows the answer to the one before.
    void getIncomplete_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::addRow("slow device: boxes kept, missing values named, late reply dropped")
            << QStringList{"--delay", "500"}
            << "GET: no reply within 200 ms, so IP, Mask and Gateway are missing. The boxes "
               "keep what they had.";
        QTest::addRow("partial reply: boxes kept, the missing gateway named")
            << QStringList{"--values", "2"}
            << "GET: the reply lacks Gateway. The boxes keep what they had.";
    }
    void getIncomplete() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        DialogRig r;
        QVERIFY(r.start(args));
        click(r.d->Cmd_Default);
        const QStringList before = r.boxes();
        for (int get = 1; get <= 2; ++get) {
            click(r.d->Cmd_GET);
            QTRY_COMPARE(r.main->messages.texts, QStringList(get, message));
            QCOMPARE(r.boxes(), before);
            test::serveEvents(600); // a late reply arrives meanwhile
        }
        QCOMPARE(r.commands(), QStringList({"ip", "mask", "gateway", "ip", "mask", "gateway"}));
    }

    void setGetAndGiveBack() {
        DialogRig r;
        QVERIFY(r.start());
        Form1& f = *r.main->f;
        QCOMPARE(f.Frame1->title(), kManualAscii);
        click(r.d->Cmd_Default);
        click(r.d->Cmd_SET);
        test::serveEvents(150); // SET's exchange ends after its pause
        QCOMPARE(r.commands(),
                 QStringList({"ip 192.168.0.1", "mask 255.255.255.0", "gateway 192.168.0.254"}));
        for (QLineEdit* e : r.d->IP)
            e->clear();
        click(r.d->Cmd_GET);
        QTRY_COMPARE(r.boxes(), split12("192.168.0.1 255.255.255.0 192.168.0.254"));
        click(f.Cmd_SetNet); // loaded already: only raised
        QCOMPARE(f.netSettingForm(), r.d);
        click(r.d->Cmd_Exit);
        QTRY_VERIFY(!f.netSettingForm());
        QCOMPARE(f.Frame1->title(), kManualAscii);
        QTRY_COMPARE(f.Frame1->title(), QStringLiteral("Varnok_RECV ( Auto-Recv )( ASCII Mode )"));
    }

    void portGoneUnderTheDialog_data() {
        QTest::addColumn<bool>("vanish"); // else closed by "Close COM"
        QTest::addColumn<QStringList>("messages");
        const QString notOpen = QStringLiteral("GET: the port is not open. Open it in the main "
                                               "window, then try again.");
        QTest::addRow("closed") << false << QStringList{notOpen};
        QTest::addRow("device vanished as the dialog took the input: reported, window closed")
            << true << QStringList{"*no longer available*", notOpen};
    }
    void portGoneUnderTheDialog() {
        QFETCH(bool, vanish);
        QFETCH(QStringList, messages);
        DialogRig r;
        QVERIFY(r.start({}, false));
        if (vanish)
            r.main->pty.closeMaster();
        else
            click(r.main->f->Command7);
        QTRY_VERIFY(r.main->f->Command1->isVisible());
        click(r.d->Cmd_GET);
        QVERIFY2(test::cpuOver(500) < 0.1, "busy after the port went");
        const QStringList& got = r.main->messages.texts;
        QCOMPARE(got.size(), messages.size());
        for (qsizetype i = 0; i < got.size(); ++i)
            QVERIFY2(test::wildcardMatch(messages[i], got[i]), qPrintable(got[i]));
    }
};

QTEST_MAIN(TstSetnetForm)
#include "tst_setnet_form.moc"
