// The Quick Send window's wiring: opened from the main window, an entry edited with its bytes
// shown, sent by its button and by its key from the main window, exported and imported.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "support/form_rig.h"
#include "windows/quick_send/quick_send_window.h"

using namespace varnok;
using test::click;
using test::FormRig;

class TstQuickSendWindow : public QObject {
    Q_OBJECT
  private slots:
    void wiring() {
        FormRig r;
        QVERIFY(r.open());
        click(r.f->findChild<QPushButton*>("Cmd_QuickSend"));
        QuickSendWindow* w = r.f->quickSend();
        QVERIFY(w && w->isVisible() && !w->isModal());
        QCOMPARE(w->objectName(), "QuickSend");
        click(w->addEntryButton);
        w->dataEdit->selectAll();
        QTest::keyClicks(w->dataEdit, "hi\\x01");
        w->checksumBox->setCurrentIndex(int(quicksend::Checksum::Sum));
        w->keyBox->setCurrentIndex(2);
        QCOMPARE(w->bytesLabel->text(), "68 69 01 D2 0D  (5 bytes)");
        const QByteArray wire("hi\x01\xD2\r");
        click(w->sendButtons->findChild<QPushButton*>("Send_0"));
        QCOMPARE(r.pty.readExactly(5, 2000), wire);
        r.f->activateWindow();
        QTest::keyClick(r.f->Text2, Qt::Key_F2); // the key from another of the terminal's windows
        QCOMPARE(r.pty.readExactly(5, 2000), wire);
        QCOMPARE(r.f->Text2->toPlainText(), "KOVRAN"); // the key went to Quick Send only
        click(w->findChild<QPushButton*>("AddRule"));  // a rule typed into its table answers
        w->rulesTable->item(0, 2)->setText("PING");
        r.pty.write("..PI");
        r.pty.write("NG");
        QCOMPARE(r.pty.readExactly(5, 2000), wire);
        QTRY_COMPARE(w->rulesTable->item(0, 5)->text(), "1");

        QTemporaryDir dir;
        const QString good = dir.filePath("book.json"), bad = dir.filePath("bad.json");
        QVERIFY(w->exportTo(good));
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"entries":[{"name":"a","data":"x"},{"name":"b","checksum":"crc99"}]})");
        f.close();
        const engine::QuickSendBook before = w->sender().book();
        QVERIFY(!w->importFrom(bad));
        QCOMPARE(r.messages.texts.last(),
                 QString("%1 was not imported: entry 2 (\"b\"): the checksum \"crc99\" is not "
                         "known")
                     .arg(bad));
        QVERIFY(w->sender().book() == before); // nothing half-imported
        click(w->removeEntryButton);
        QVERIFY(w->sender().book().entries.empty());
        QVERIFY(w->importFrom(good));
        QVERIFY(w->sender().book() == before);
        QCOMPARE(r.messages.texts.size(), 1);
        QVERIFY(r.messages.okOnly());
    }
};

QTEST_MAIN(TstQuickSendWindow)
#include "tst_quick_send_window.moc"
