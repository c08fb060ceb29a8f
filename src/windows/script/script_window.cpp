#include "windows/script/script_window.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QSplitter>
#include <QVBoxLayout>

#include "windows/elided_label.h"
#include "windows/fixed_font.h"
#include "windows/main_window/message_box.h"
#include "windows/placement.h"
#include "windows/script/script_editor.h"
#include "windows/user_settings.h"

namespace varnok {

namespace {

const QString kGeometryKey = QStringLiteral("script/geometry");
const QString kRecentKey = QStringLiteral("script/recent");
const QString kFolderKey = QStringLiteral("script/folder");
const QString kUntitled = QStringLiteral("untitled.lua");
const QString kFilter = QStringLiteral("Lua scripts (*.lua);;All files (*)");

QPushButton* button(const char* name, const QString& text) {
    auto* b = new QPushButton(text);
    b->setObjectName(QLatin1String(name));
    return b;
}

QString fileName(const QString& path) {
    return QFileInfo(path).fileName();
}

} // namespace

ScriptWindow::ScriptWindow(engine::Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), runner_(session.script()) {
    setObjectName(QStringLiteral("Script"));
    choosePath = [this](bool save) { return askPath(save); };
    outputTimer_.setSingleShot(true);
    outputTimer_.setInterval(kOutputMs);
    connect(&outputTimer_, &QTimer::timeout, this, &ScriptWindow::flushOutput);
    buildControls();
    using R = engine::ScriptRunner;
    connect(&runner_, &R::started, this, &ScriptWindow::onStarted);
    connect(&runner_, &R::output, this, [this](const QString& text) { say(text); });
    connect(&runner_, &R::lineChanged, this, &ScriptWindow::onLineChanged);
    connect(&runner_, &R::checked, this, &ScriptWindow::onChecked);
    connect(&runner_, &R::finished, this, &ScriptWindow::onFinished);
    connect(editor->document(), &QTextDocument::modificationChanged, this,
            &ScriptWindow::refreshTitle);
    refreshRecent();
    refreshTitle();
    refreshRunning(runner_.running());
    if (runner_.running())
        onStarted(runner_.scriptName());
}

ScriptWindow::~ScriptWindow() = default;

void ScriptWindow::buildControls() {
    auto* top = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    openButton = button("openButton", QStringLiteral("Open..."));
    saveButton = button("saveButton", QStringLiteral("Save"));
    saveAsButton = button("saveAsButton", QStringLiteral("Save As..."));
    recentButton = button("recentButton", QStringLiteral("Recent"));
    recentMenu_ = new QMenu(recentButton);
    recentButton->setMenu(recentMenu_);
    runButton = button("runButton", QStringLiteral("Run"));
    runButton->setToolTip(QStringLiteral("Run the script on the line (F5)"));
    runButton->setShortcut(Qt::Key_F5);
    stopButton = button("stopButton", QStringLiteral("Stop"));
    for (QPushButton* b : {openButton, saveButton, saveAsButton, recentButton})
        bar->addWidget(b);
    bar->addStretch(1);
    bar->addWidget(runButton);
    bar->addWidget(stopButton);
    top->addLayout(bar);

    editor = new ScriptEditor;
    editor->setObjectName(QStringLiteral("editor"));
    outputPane = new QPlainTextEdit;
    outputPane->setObjectName(QStringLiteral("outputPane"));
    outputPane->setReadOnly(true);
    outputPane->setUndoRedoEnabled(false);
    outputPane->setFont(fixedFont(font().pointSize()));
    // A script printing in a loop must not grow the pane without end.
    outputPane->setMaximumBlockCount(10000);
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(editor);
    split->addWidget(outputPane);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    top->addWidget(split, 1);

    statusLabel = new ElidedLabel;
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setText(QStringLiteral("Write a script or open one, then Run (F5)."));
    top->addWidget(statusLabel);

    connect(openButton, &QPushButton::clicked, this, [this] {
        const QString path = mayDiscard() ? choosePath(false) : QString();
        if (!path.isEmpty())
            load(path);
    });
    connect(saveButton, &QPushButton::clicked, this, &ScriptWindow::save);
    connect(saveAsButton, &QPushButton::clicked, this, &ScriptWindow::saveAs);
    connect(runButton, &QPushButton::clicked, this, [this] {
        // The second click of a double-click would run a short script, ended by then, again.
        const bool second =
            runClicked_.isValid() && runClicked_.elapsed() < QApplication::doubleClickInterval();
        runClicked_.start();
        if (!second)
            run();
    });
    connect(stopButton, &QPushButton::clicked, &runner_, &engine::ScriptRunner::stop);
    resize(720, 600);
}

void ScriptWindow::showBeside(const QWidget* main) {
    showPlaced(*this, placed_, kGeometryKey, main, size());
}

void ScriptWindow::hideEvent(QHideEvent* event) {
    // The script goes on: the runner owns it, and the main window's close ends it.
    rememberPlace(*this, placed_, kGeometryKey);
    QWidget::hideEvent(event);
}

QString ScriptWindow::askPath(bool save) {
    QSettings settings = userSettings();
    const QString folder =
        path_.isEmpty() ? settings.value(kFolderKey).toString() : QFileInfo(path_).absolutePath();
    const QString path =
        save ? QFileDialog::getSaveFileName(this, QStringLiteral("Save script"),
                                            path_.isEmpty() ? folder + u'/' + kUntitled : path_,
                                            kFilter)
             : QFileDialog::getOpenFileName(this, QStringLiteral("Open script"), folder, kFilter);
    if (!path.isEmpty())
        settings.setValue(kFolderKey, QFileInfo(path).absolutePath());
    return path;
}

QString ScriptWindow::scriptName() const {
    return path_.isEmpty() ? kUntitled : fileName(path_);
}

bool ScriptWindow::mayDiscard() {
    if (!editor->document()->isModified())
        return true;
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppTitle),
                    QStringLiteral("%1 has changes that are not saved. Save them?")
                        .arg(elideMiddle(scriptName(), kMessageRunChars)),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Save);
    const int answer = box.exec();
    if (answer == QMessageBox::Save)
        return save();
    return answer == QMessageBox::Discard;
}

bool ScriptWindow::openScript(const QString& path) {
    return mayDiscard() && load(path);
}

bool ScriptWindow::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(this, QStringLiteral("Cannot open %1: %2").arg(path, file.errorString()));
        return false;
    }
    editor->setPlainText(QString::fromUtf8(file.readAll()));
    setPath(path);
    return true;
}

bool ScriptWindow::saveScript(const QString& path) {
    QSaveFile file(path);
    const QByteArray bytes = editor->toPlainText().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        showMessage(this, QStringLiteral("Cannot save %1: %2").arg(path, file.errorString()));
        return false;
    }
    setPath(path);
    return true;
}

bool ScriptWindow::save() {
    return path_.isEmpty() ? saveAs() : saveScript(path_);
}

bool ScriptWindow::saveAs() {
    const QString path = choosePath(true);
    return !path.isEmpty() && saveScript(path);
}

void ScriptWindow::setPath(const QString& path) {
    path_ = QFileInfo(path).absoluteFilePath();
    editor->document()->setModified(false);
    remember(path_);
    refreshTitle();
}

QStringList ScriptWindow::recentScripts() const {
    return userSettings().value(kRecentKey).toStringList();
}

void ScriptWindow::remember(const QString& path) {
    rememberRecent(kRecentKey, path, kRecentMax);
    refreshRecent();
}

void ScriptWindow::refreshRecent() {
    recentMenu_->clear();
    const QStringList recent = recentScripts();
    for (const QString& path : recent) {
        QAction* a = recentMenu_->addAction(QDir::toNativeSeparators(path));
        a->setData(path);
        connect(a, &QAction::triggered, this, [this, path] { openRecent(path); });
    }
    recentButton->setEnabled(!recent.isEmpty());
}

void ScriptWindow::openRecent(const QString& path) {
    if (!QFileInfo::exists(path)) {
        // The list keeps only files that are there.
        QStringList recent = recentScripts();
        recent.removeAll(path);
        userSettings().setValue(kRecentKey, recent);
        refreshRecent();
        showMessage(this, QStringLiteral("%1 is no longer there; it is dropped from the recent "
                                         "scripts.")
                              .arg(QDir::toNativeSeparators(path)));
        return;
    }
    openScript(path);
}

void ScriptWindow::refreshTitle() {
    setWindowTitle(
        QStringLiteral("Script - %1%2")
            .arg(scriptName(), editor->document()->isModified() ? QStringLiteral("*") : QString()));
}

void ScriptWindow::refreshRunning(bool running) {
    runButton->setEnabled(!running);
    stopButton->setEnabled(running);
    // Only this editor's text is what runs; a script from elsewhere leaves it free to edit.
    editor->setReadOnly(running && own_);
}

void ScriptWindow::say(const QString& line) {
    // Gathered and shown a few times a second: a script printing in a tight loop would
    // otherwise spend its time laying out the pane line by line.
    pendingOutput_ += line.endsWith(u'\n') ? line : line + u'\n';
    if (!outputTimer_.isActive())
        outputTimer_.start();
}

void ScriptWindow::flushOutput() {
    outputTimer_.stop();
    if (pendingOutput_.isEmpty())
        return;
    // Appended at the end whatever the user selected; the view follows only when at the end.
    QScrollBar* bar = outputPane->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor end(outputPane->document());
    end.movePosition(QTextCursor::End);
    end.insertText(pendingOutput_);
    pendingOutput_.clear();
    if (atEnd)
        bar->setValue(bar->maximum());
}

bool ScriptWindow::run() {
    if (runner_.running())
        return false;
    const QString name = path_.isEmpty() ? kUntitled : path_;
    // The pane shows the last run only.
    pendingOutput_.clear();
    outputPane->clear();
    // The runner tells `started` before run() returns: the run is this editor's from here.
    own_ = true;
    editor->setRunningLine(0);
    const engine::Outcome outcome = runner_.run(editor->toPlainText().toUtf8(), name, {});
    if (!outcome.ok()) {
        own_ = false;
        say(outcome.failure());
        flushOutput();
        statusLabel->setText(QStringLiteral("Not started: ") + outcome.failure());
        editor->selectLine(engine::ScriptRunner::lineOfError(outcome.failure(), name));
        showMessage(this, outcome.failure());
        return false;
    }
    refreshRunning(true);
    return true;
}

void ScriptWindow::onStarted(const QString& name) {
    // A script from elsewhere (Quick Send, say) is told apart in the output.
    if (!own_)
        say(QStringLiteral("started: %1").arg(QDir::toNativeSeparators(name)));
    statusLabel->setText(QStringLiteral("Running %1").arg(fileName(name)));
    refreshRunning(true);
}

void ScriptWindow::onLineChanged(int line) {
    // One arg() for both: a "%1" in the file's name must stay as it is.
    statusLabel->setText(QStringLiteral("Running %1, line %2")
                             .arg(fileName(runner_.scriptName()), QString::number(line)));
    if (own_)
        editor->setRunningLine(line);
}

void ScriptWindow::onChecked(bool passed, const QString& text, int number) {
    // Passes are only counted (the status line at the end): in a loop they would bury the
    // failures and what the script prints.
    if (!passed)
        say(QStringLiteral("check %1 failed: %2").arg(number).arg(text));
}

void ScriptWindow::onFinished(const engine::ScriptResult& result) {
    say(result.error.isEmpty()
            ? QStringLiteral("ended: status %1").arg(result.status)
            : QStringLiteral("ended: status %1: %2").arg(result.status).arg(result.error));
    flushOutput();
    editor->setRunningLine(0);
    const bool own = own_;
    own_ = false;
    refreshRunning(false);
    if (own && !result.stopped && result.errorLine > 0)
        editor->selectLine(result.errorLine);
    if (result.stopped) {
        statusLabel->setText(QStringLiteral("Stopped"));
        return;
    }
    statusLabel->setText(
        QStringLiteral("Ended: status %1, %2 %3, %4 failed")
            .arg(result.status)
            .arg(result.checks)
            .arg(result.checks == 1 ? QStringLiteral("check") : QStringLiteral("checks"))
            .arg(result.failedChecks));
}

} // namespace varnok
