// The Quick Send window's wiring, one behaviour a slot: opened from the main window, an entry
// edited with its bytes shown, sent by its button, by its key from the main window and by a
// rule, exported and imported; its place and size with a large book.
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "support/form_rig.h"
#include "windows/quick_send/quick_send_window.h"
#include "windows/quick_send/rules_page.h"
#include "windows/user_settings.h"

using namespace varnok;
using test::click;
using test::FormRig;

namespace {

const QByteArray kWire("hi\x01\xD2\r");

// The main window opened on a pseudo-terminal, Quick Send open with one entry sending kWire
// on F2 and, on request, a rule answering "PING" with it.
struct Rig {
    FormRig r;
    QuickSendWindow* w = nullptr;
    bool start(bool rule = false) {
        if (!r.open())
            return false;
        click(r.f->Cmd_QuickSend);
        if (!(w = r.f->quickSend()))
            return false;
        click(w->addEntryButton);
        w->dataEdit->selectAll();
        QTest::keyClicks(w->dataEdit, "hi\\x01");
        w->checksumBox->setCurrentIndex(int(quicksend::Checksum::Sum));
        w->keyBox->setCurrentIndex(2);
        if (rule) {
            click(w->findChild<QPushButton*>("AddRule"));
            w->rules->rulesTable->item(0, 2)->setText("PING");
        }
        return true;
    }
};

// Quick Send opened on a book of `entries` entries "e0", "e1", ... imported from a file; the
// import and the first events after it take `ms`.
QuickSendWindow* openOn(FormRig& r, int entries, qint64* ms = nullptr) {
    click(r.f->Cmd_QuickSend);
    QTemporaryDir dir;
    engine::QuickSendBook many;
    for (int i = 0; i < entries; ++i)
        many.entries.push_back({QString("e%1").arg(i).toStdU16String(), u"AT"});
    QuickSendWindow* w = r.f->quickSend();
    if (!engine::bookToFile(dir.filePath("many.json"), many).isEmpty())
        return nullptr;
    QElapsedTimer took;
    took.start();
    const bool imported = w->importFrom(dir.filePath("many.json"));
    QTest::qWait(1);
    if (ms)
        *ms = took.elapsed();
    return imported ? w : nullptr;
}

} // namespace

class TstQuickSendWindow : public QObject {
    Q_OBJECT
  private slots:
    void opensFromTheMainWindow() {
        Rig s;
        QVERIFY(s.start());
        QVERIFY(s.w->isVisible() && !s.w->isModal());
        QCOMPARE(s.w->objectName(), "QuickSend");
    }

    void entryShowsItsBytes() {
        Rig s;
        QVERIFY(s.start());
        QCOMPARE(s.w->bytesLabel->text(), "68 69 01 D2 0D  (5 bytes)");
    }

    void buttonSendsTheEntry() {
        Rig s;
        QVERIFY(s.start());
        click(s.w->sendButtons->findChild<QPushButton*>("Send_0"));
        QCOMPARE(s.r.pty.readExactly(5, 2000), kWire);
    }

    // "Script" makes the entry run the file typed (or browsed to): the controls that make
    // bytes are off and the line beneath says what runs.
    void editsAScriptEntry() {
        Rig s;
        QVERIFY(s.start());
        s.w->formBox->setCurrentIndex(2);
        s.w->dataEdit->selectAll();
        QTest::keyClicks(s.w->dataEdit, "/nonexistent/step.lua");
        QVERIFY(s.w->browseButton->isEnabled() && !s.w->checksumBox->isEnabled() &&
                !s.w->periodBox->isEnabled());
        QCOMPARE(s.w->bytesLabel->text(), "Runs the script /nonexistent/step.lua");
        const quicksend::Entry& e = s.w->sender().book().entries.at(0);
        QCOMPARE(QString::fromStdU16String(e.data), "/nonexistent/step.lua");
    }

    // The key works from another of the terminal's windows, and goes to Quick Send only.
    void keySendsFromTheMainWindow() {
        Rig s;
        QVERIFY(s.start());
        s.r.f->activateWindow();
        QTest::keyClick(s.r.f->Text2, Qt::Key_F2);
        QCOMPARE(s.r.pty.readExactly(5, 2000), kWire);
        QCOMPARE(s.r.f->Text2->toPlainText(), "KOVRAN");
    }

    // Closing the window leaves its repeat running, and the main window's button says so.
    void closedWindowLeavesItsRepeatRunning() {
        Rig s;
        QVERIFY(s.start());
        s.w->periodBox->setValue(50);
        click(s.w->sendButtons->findChild<QPushButton*>("Send_0"));
        s.w->close();
        QCOMPARE(s.r.pty.readExactly(15, 2000), kWire + kWire + kWire);
        QCOMPARE(s.r.f->Cmd_QuickSend->text(), "Quick Send (on)");
        QVERIFY(s.r.f->Cmd_QuickSend->toolTip().contains("Quick Send window"));
        QCOMPARE(s.r.f->Cmd_QuickSend->objectName(), "Cmd_QuickSend");
    }

    void halfTypedEntrySendsNothingAndSaysSoOnce() {
        Rig s;
        QVERIFY(s.start());
        QTest::keyClicks(s.w->dataEdit, "\\q");
        QTest::keyClick(s.r.f->Text2, Qt::Key_F2);
        QCOMPARE(s.r.pty.readFor(100), QByteArray());
        QVERIFY(s.r.messages.texts.takeLast().startsWith(
            "\"Entry 1\" is not in use until mended: character 7: unknown escape"));
    }

    void ruleTypedIntoItsTableAnswers() {
        Rig s;
        QVERIFY(s.start(true));
        s.r.pty.write("..PI");
        s.r.pty.write("NG");
        QCOMPARE(s.r.pty.readExactly(5, 2000), kWire);
        QTRY_COMPARE(s.w->rules->rulesTable->item(0, 5)->text(), "1");
    }

    void badImportChangesNothing() {
        Rig s;
        QVERIFY(s.start());
        QTemporaryDir dir;
        const QString bad = dir.filePath("bad.json");
        QVERIFY(test::writeFile(
            bad, R"({"entries":[{"name":"a","data":"x"},{"name":"b","checksum":"crc99"}]})"));
        const engine::QuickSendBook before = s.w->sender().book();
        QVERIFY(!s.w->importFrom(bad));
        QCOMPARE(s.r.messages.texts.last(),
                 QString("%1 was not imported: entry 2 (\"b\"): the checksum \"crc99\" is not "
                         "known")
                     .arg(bad));
        QVERIFY(s.w->sender().book() == before); // nothing half-imported
    }

    // Removing an entry asks first, naming what sends it, and takes them with it; an import
    // into the empty book then asks nothing.
    void removalAsksAndAnImportRestores() {
        Rig s;
        QVERIFY(s.start(true));
        QTemporaryDir dir;
        const QString good = dir.filePath("book.json");
        QVERIFY(s.w->exportTo(good));
        const engine::QuickSendBook before = s.w->sender().book();
        s.r.messages.answers << "Remove";
        click(s.w->removeEntryButton);
        QCOMPARE(s.r.messages.texts.last(),
                 "\"Entry 1\" is sent by rule 1 (\"PING\"). Remove it and them?");
        QVERIFY(s.w->sender().book().entries.empty() && s.w->sender().book().rules.empty());
        QVERIFY(s.w->importFrom(good));
        QVERIFY(s.w->sender().book() == before);
        QCOMPARE(s.r.messages.texts.size(), 1);
    }

    // An import into a book that has entries asks to replace or add; a taken name gets a number.
    void importIntoAFullBookAsks() {
        Rig s;
        QVERIFY(s.start(true));
        QTemporaryDir dir;
        QVERIFY(s.w->exportTo(dir.filePath("book.json")));
        s.r.messages.answers << "Add";
        QVERIFY(s.w->importFrom(dir.filePath("book.json")));
        QVERIFY(s.r.messages.texts.last().startsWith(
            "Replace the 1 entry here with the 1 entry of book.json, or"));
        QCOMPARE(s.w->sender().book().rules[1].entry, u"Entry 1 (2)");
        QCOMPARE(s.r.messages.titles, QStringList(1, "Varnok_Binary"));
    }

    void oldBookMovedFromTheSettingsOnce() {
        FormRig r;
        engine::QuickSendBook old; // kept in the settings by an earlier version: moved, once
        old.entries = {{u"old", u"x"}};
        userSettings().setValue("quicksend/book", engine::bookToJson(old));
        click(r.f->Cmd_QuickSend);
        QuickSendWindow* w = r.f->quickSend();
        QVERIFY(w->sender().book() == old && !userSettings().contains("quicksend/book"));
    }

    // A remembered book whose rule is on answers from the start, and the button says so.
    void rememberedRuleShowsAsRunning() {
        FormRig r;
        engine::QuickSendBook old;
        old.entries = {{u"old", u"x"}};
        old.rules = {{{quicksend::PatternKind::Text, u"?"}, u"old"}};
        userSettings().setValue("quicksend/book", engine::bookToJson(old));
        click(r.f->Cmd_QuickSend);
        QCOMPARE(r.f->Cmd_QuickSend->text(), "Quick Send (on)");
    }

    // Clear of the main window, or at the screen's edge when there is no room; where the user
    // leaves it, it opens again.
    void opensClearOfTheMainWindowThenWhereLeft() {
        FormRig r;
        click(r.f->Cmd_QuickSend);
        QuickSendWindow* w = r.f->quickSend();
        const QRect avail = w->screen()->availableGeometry(), main = r.f->frameGeometry();
        QVERIFY(avail.contains(w->frameGeometry()));
        QVERIFY(!w->frameGeometry().intersects(main) ||
                w->frameGeometry().right() == avail.right() ||
                w->frameGeometry().left() == avail.left());
        w->move(w->pos() + QPoint(3, 4));
        const QPoint at = w->pos();
        w->close();
        click(r.f->Cmd_QuickSend);
        QCOMPARE(r.f->quickSend()->pos(), at);
    }

    // 10,000 entries: quickly, in a scrolling area, the window as it was, and kept on closing.
    void tenThousandEntriesScrollInTheSameWindow() {
        FormRig r;
        click(r.f->Cmd_QuickSend);
        const QSize size = r.f->quickSend()->size();
        qint64 ms = 0;
        QuickSendWindow* w = openOn(r, 10000, &ms);
        QVERIFY(w);
        qInfo("10,000 entries imported and shown in %lld ms", ms);
        QVERIFY2(ms < 1000 * test::kTimeScale, qPrintable(QString::number(ms)));
        QCOMPARE(w->size(), size);
        QScrollBar* bar = w->findChild<QScrollArea*>("SendButtonsArea")->verticalScrollBar();
        bar->setValue(bar->maximum()); // the buttons scroll: the last is there to press
        QVERIFY(w->findChild<QPushButton*>("Send_9999") && !w->findChild<QPushButton*>("Send_0"));
        w->close();
        click(r.f->Cmd_QuickSend);
        QCOMPARE(r.f->quickSend()->sender().book().entries.size(), std::size_t(10000));
        QCOMPARE(r.messages.texts.size(), 0);
    }

    // 64 KiB of data shows its first bytes, checksum and count; the longest name fits too.
    void longestEntryKeepsTheWindowSize() {
        FormRig r;
        QuickSendWindow* w = openOn(r, 1);
        QVERIFY(w);
        const QSize size = w->size();
        w->entryList->setCurrentRow(0);
        w->dataEdit->setText(QString(65536, 'A') + "\\q");
        w->checksumBox->setCurrentIndex(int(quicksend::Checksum::Sum));
        QCOMPARE(w->bookFault->text(), "Not in use until mended: entry 1 (\"e0\"): character "
                                       "65537: unknown escape (\\r \\n \\t \\\\ \\xHH are known)");
        w->dataEdit->backspace();
        w->dataEdit->backspace();
        w->nameEdit->setText(QString(3000, 'n')); // the longest name there can be
        QVERIFY(w->bytesLabel->text().endsWith("\u2026 00  (65537 bytes)"));
        QCOMPARE(w->size(), size);
        QVERIFY(w->screen()->availableGeometry().contains(w->frameGeometry()));
    }
};

QTEST_MAIN(TstQuickSendWindow)
#include "tst_quick_send_window.moc"
