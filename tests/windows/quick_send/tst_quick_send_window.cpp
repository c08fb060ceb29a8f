// The Quick Send window's wiring: opened from the main window, an entry edited with its bytes
// shown, sent by its button and by its key from the main window, exported and imported.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "support/form_rig.h"
#include "windows/quick_send/quick_send_window.h"
#include "windows/user_settings.h"

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
        QTest::keyClicks(w->dataEdit, "\\q"); // half typed: its key sends nothing, said once
        QTest::keyClick(r.f->Text2, Qt::Key_F2);
        QCOMPARE(r.pty.readFor(100), QByteArray());
        QVERIFY(r.messages.texts.takeLast().startsWith(
            "\"Entry 1\" is not in use until mended: character 7: unknown escape"));
        QTest::keyClick(w->dataEdit, Qt::Key_Backspace);
        QTest::keyClick(w->dataEdit, Qt::Key_Backspace);
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
        r.messages.answers << "Remove";
        click(w->removeEntryButton); // asked first, naming what sends it
        QCOMPARE(r.messages.texts.last(),
                 "\"Entry 1\" is sent by rule 1 (\"PING\"). Remove it and them?");
        QVERIFY(w->sender().book().entries.empty() && w->sender().book().rules.empty());
        QVERIFY(w->importFrom(good)); // into an empty book: nothing to ask
        QVERIFY(w->sender().book() == before);
        r.messages.answers << "Add";
        QVERIFY(w->importFrom(good)); // asked to replace or add; a taken name gets a number
        QVERIFY(r.messages.texts.last().startsWith(
            "Replace the 1 entry here with the 1 entry of book.json, or"));
        QCOMPARE(w->sender().book().rules[1].entry, u"Entry 1 (2)");
        QCOMPARE(r.messages.texts.size(), 3);
        QCOMPARE(r.messages.titles, QStringList(4, "Varnok_Binary"));
    }

    void sizePlaceAndBook() {
        FormRig r;
        engine::QuickSendBook old; // kept in the settings by an earlier version: moved, once
        old.entries = {{u"old", u"x"}};
        userSettings().setValue("quicksend/book", engine::bookToJson(old));
        click(r.f->findChild<QPushButton*>("Cmd_QuickSend"));
        QuickSendWindow* w = r.f->quickSend();
        QVERIFY(w->sender().book() == old && !userSettings().contains("quicksend/book"));
        const QRect avail = w->screen()->availableGeometry(), main = r.f->frameGeometry();
        const auto within = [&] { return avail.contains(w->frameGeometry()); };
        QVERIFY(within()); // clear of the main window, or at the screen's edge when there is no room
        QVERIFY(!w->frameGeometry().intersects(main) ||
                w->frameGeometry().right() == avail.right() ||
                w->frameGeometry().left() == avail.left());
        const QSize size = w->size();

        QTemporaryDir dir; // 10,000 entries: quickly, in a scrolling area, the window as it was
        engine::QuickSendBook many;
        for (int i = 0; i < 10000; ++i)
            many.entries.push_back({QString("e%1").arg(i).toStdU16String(), u"AT"});
        QVERIFY(engine::bookToFile(dir.filePath("many.json"), many).isEmpty());
        r.messages.answers << "Replace";
        QElapsedTimer took;
        took.start();
        QVERIFY(w->importFrom(dir.filePath("many.json")));
        QTest::qWait(1);
        qInfo("10,000 entries imported and shown in %lld ms", took.elapsed());
        QVERIFY(took.elapsed() < 1000);
        QCOMPARE(w->size(), size);
        QScrollBar* bar = w->findChild<QScrollArea*>("SendButtonsArea")->verticalScrollBar();
        bar->setValue(bar->maximum()); // the buttons scroll: the last is there to press
        QVERIFY(w->findChild<QPushButton*>("Send_9999") && !w->findChild<QPushButton*>("Send_0"));
        w->entryList->setCurrentRow(0); // 64 KiB of data: its first bytes, checksum and count
        w->dataEdit->setText(QString(65536, 'A') + "\\q");
        w->checksumBox->setCurrentIndex(int(quicksend::Checksum::Sum));
        QCOMPARE(w->bookFault->text(), "Not in use until mended: entry 1 (\"e0\"): character "
                                       "65537: unknown escape (\\r \\n \\t \\\\ \\xHH are known)");
        w->dataEdit->backspace();
        w->dataEdit->backspace();
        w->nameEdit->setText(QString(3000, 'n')); // the longest name there can be
        QVERIFY(w->bytesLabel->text().endsWith("\u2026 00  (65537 bytes)"));
        QCOMPARE(w->size(), size);
        QVERIFY(within());
        w->move(w->pos() + QPoint(3, 4)); // where the user leaves it, it opens again
        const QPoint at = w->pos();
        w->close();
        click(r.f->findChild<QPushButton*>("Cmd_QuickSend"));
        QCOMPARE(r.f->quickSend()->pos(), at);
        QCOMPARE(r.f->quickSend()->sender().book().entries.size(), std::size_t(10000));
        QCOMPARE(r.messages.texts.size(), 1); // the question
    }
};

QTEST_MAIN(TstQuickSendWindow)
#include "tst_quick_send_window.moc"
