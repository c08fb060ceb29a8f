// The Script window's wiring, one behaviour a slot: Run and Stop over the session's runner,
// errors pointed at in the editor, the running line shaded, files and the recent scripts.
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "support/form_rig.h"
#include "windows/script/script_editor.h"
#include "windows/script/script_window.h"

using namespace varnok;
using test::click;

namespace {

// The main window with its Script window open; file dialogs answer with `chosen`.
struct Rig {
    test::FormRig r;
    ScriptWindow* w;
    QString chosen;
    Rig() {
        click(r.f->Cmd_Script);
        w = r.f->scriptWindow();
        w->choosePath = [this](bool) { return chosen; };
    }
    void run(const QString& text) {
        w->editor->setPlainText(text);
        click(w->runButton);
    }
    bool ended() const { return w->runButton->isEnabled(); }
    QString output() const { return w->outputPane->toPlainText(); }
    // The editor's selection as "line: text".
    QString selected() const {
        return QString::number(w->editor->cursorLine()) + ": " +
               w->editor->textCursor().selectedText();
    }
};

} // namespace

class TstScriptWindow : public QObject {
    Q_OBJECT
  private slots:
    void scriptButtonOpensTheWindow() {
        Rig s;
        QVERIFY(s.w && s.w->isVisible() && !s.w->isModal());
        QCOMPARE(s.w->objectName(), "Script");
        QCOMPARE(s.w->windowTitle(), "Script - untitled.lua");
        QVERIFY(s.w->runButton->isEnabled() && !s.w->stopButton->isEnabled());
    }

    // A second click on Run starts no second script; the editor holds still until it ends.
    void runIsDisabledWhileTheScriptRuns() {
        Rig s;
        s.w->editor->setPlainText("sleep(300)\nprint('done')\n");
        click(s.w->runButton);
        click(s.w->runButton);
        QVERIFY(!s.w->runButton->isEnabled() && s.w->stopButton->isEnabled() &&
                s.w->editor->isReadOnly());
        QTRY_VERIFY(s.ended());
        QVERIFY(!s.w->stopButton->isEnabled() && !s.w->editor->isReadOnly());
        QCOMPARE(s.r.messages.texts, QStringList());
        QCOMPARE(s.output(), "done\nended: status 0\n");
        QCOMPARE(s.w->statusLabel->text(), "Ended: status 0, 0 checks, 0 failed");
    }

    // Its second click comes after a short script has ended and does not run it again.
    void doubleClickOnRunRunsOnce() {
        Rig s;
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(400);
        s.run("print('once')\n");
        QTRY_VERIFY(s.ended());
        click(s.w->runButton);
        QCOMPARE(s.output(), "once\nended: status 0\n");
    }

    void compileErrorIsToldAndItsLineSelected() {
        Rig s;
        s.run("x = 1\ny = 2\nif then\n");
        QCOMPARE(s.r.messages.texts.size(), 1);
        QVERIFY2(s.r.messages.texts[0].startsWith("untitled.lua:3:"), qPrintable(s.output()));
        QVERIFY(s.r.messages.okOnly());
        QCOMPARE(s.output(), s.r.messages.texts[0] + "\n");
        QCOMPARE(s.selected(), "3: if then");
    }

    void runtimeErrorSelectsItsLine() {
        Rig s;
        s.run("x = 1\nsleep(10)\nerror('broke')\nprint(x)\n");
        QTRY_VERIFY(s.ended());
        QCOMPARE(s.output(), "ended: status 2: untitled.lua:3: broke\n");
        QCOMPARE(s.selected(), "3: error('broke')");
    }

    void checksAreCountedInTheOutputAndStatus() {
        Rig s;
        s.run("check(1 == 1, 'one')\ncheck(2 == 3, 'two')\n");
        QTRY_VERIFY(s.ended());
        QCOMPARE(s.output(), "check 2 failed: two\nended: status 1\n");
        QCOMPARE(s.w->statusLabel->text(), "Ended: status 1, 2 checks, 1 failed");
    }

    // The endless loop is suspended every few milliseconds, so Stop is heard.
    void stopEndsAnEndlessLoop() {
        Rig s;
        s.run("local n = 0\nwhile true do n = n + 1 end\n");
        QTest::qWait(100);
        click(s.w->stopButton);
        QTRY_VERIFY(s.ended());
        QCOMPARE(s.w->statusLabel->text(), "Stopped");
        QVERIFY(s.output().startsWith("ended: status 2"));
    }

    void runningLineFollowsTheScript() {
        Rig s;
        s.run("sleep(100)\nsleep(5000)\n");
        QTRY_COMPARE(s.w->editor->runningLine(), 2);
        QCOMPARE(s.w->editor->extraSelections().size(), 1);
        QCOMPARE(s.w->statusLabel->text(), "Running untitled.lua, line 2");
        click(s.w->stopButton);
        QTRY_VERIFY(s.ended());
        QCOMPARE(s.w->editor->runningLine(), 0);
        QCOMPARE(s.w->editor->extraSelections().size(), 0);
    }

    // A script run elsewhere shows here, its name as it is (a "%1" in it kept), but the
    // editor's text is not what runs.
    void scriptStartedElsewhereShows() {
        Rig s;
        QVERIFY(s.r.session->script().run("sleep(5000)", "other%1.lua").ok());
        QTRY_COMPARE(s.w->statusLabel->text(), "Running other%1.lua, line 1");
        QVERIFY(!s.w->runButton->isEnabled() && !s.w->editor->isReadOnly() &&
                s.w->editor->runningLine() == 0);
        s.w->close(); // the engine owns the script: it goes on
        QVERIFY(s.r.session->script().running());
        s.r.session->script().stop();
        QTRY_VERIFY(s.ended());
    }

    void saveAndOpenRoundTrip() {
        Rig s;
        QTemporaryDir dir;
        s.chosen = dir.filePath("first.lua");
        s.w->editor->insertPlainText("print('é')\n");
        QCOMPARE(s.w->windowTitle(), "Script - untitled.lua*");
        click(s.w->saveButton); // an untitled script asks where
        QCOMPARE(s.w->windowTitle(), "Script - first.lua");
        QCOMPARE(test::fileBytes(s.chosen), QString("print('é')\n").toUtf8());
        // Changes are not dropped unasked: Cancel keeps them, Discard lets them go.
        s.w->editor->appendPlainText("x = 1");
        QVERIFY(!s.w->openScript(s.chosen));
        QVERIFY(s.w->editor->toPlainText().endsWith("x = 1"));
        s.r.messages.answers << "Discard";
        click(s.w->openButton);
        QCOMPARE(s.r.messages.texts.size(), 2);
        QCOMPARE(s.w->editor->toPlainText(), "print('é')\n");
    }

    // At most eight, the last saved or opened first; one chosen after it vanished is dropped.
    void recentScriptsKeepEightMostRecentFirst() {
        Rig s;
        QTemporaryDir dir;
        for (int i = 0; i < 10; ++i)
            QVERIFY(s.w->saveScript(dir.filePath(QStringLiteral("s%1.lua").arg(i))));
        QVERIFY(s.w->openScript(dir.filePath("s5.lua")));
        QStringList names;
        for (const QString& p : s.w->recentScripts())
            names << QFileInfo(p).fileName();
        QCOMPARE(names.join(' '), "s5.lua s9.lua s8.lua s7.lua s6.lua s4.lua s3.lua s2.lua");
        QFile::remove(dir.filePath("s9.lua"));
        const QList<QAction*> items = s.w->recentButton->menu()->actions();
        items[1]->trigger();
        QCOMPARE(s.r.messages.texts.size(), 1);
        QCOMPARE(s.w->recentScripts().size(), 7);
        QCOMPARE(s.w->path(), dir.filePath("s5.lua"));
    }
};

QTEST_MAIN(TstScriptWindow)
#include "tst_script_window.moc"
