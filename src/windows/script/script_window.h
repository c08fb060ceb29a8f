#pragma once
// The Script window: a Lua script's text, its file, Run and Stop, and what the running script
// says. A thin view over the session's script runner: the runner owns the running script, so
// closing this window leaves it running, and a script started elsewhere shows here too.
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "engine/session.h"

class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace varnok {

class ScriptEditor;

class ScriptWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRecentMax = 8;
    static constexpr int kOutputMs = 50; // the output pane takes what came this often

    explicit ScriptWindow(engine::Session& session, QWidget* parent = nullptr);
    ~ScriptWindow() override;

    // The first time where the user left it in an earlier run, else beside `main`.
    void showBeside(const QWidget* main);

    // Loads the file at `path` into the editor (after asking about unsaved changes); false
    // after its one message when it cannot be read, or when the user keeps the changes.
    bool openScript(const QString& path);
    // Writes the editor's text to `path`, which becomes the script's file; false after a
    // message when that fails.
    bool saveScript(const QString& path);
    // Save to the script's file, or Save As for an untitled one; false when nothing was saved.
    bool save();
    bool saveAs();
    // Runs the editor's text; false when the runner refused it (its message shown).
    bool run();

    // Whether the editor's text may go: true when it is saved, or the user saved it or let it
    // go when asked.
    bool mayDiscard();

    QString path() const { return path_; }
    QString scriptName() const; // the file's name, "untitled.lua" for a new script
    QStringList recentScripts() const;

    // Asks for a file to open (save false) or save to; "" when the user cancels. A dialog by
    // default; tests put their own here.
    std::function<QString(bool save)> choosePath;

    ScriptEditor* editor;
    QPushButton* openButton;
    QPushButton* saveButton;
    QPushButton* saveAsButton;
    QPushButton* recentButton; // its menu holds the recent scripts, most recent first
    QPushButton* runButton;
    QPushButton* stopButton;
    QPlainTextEdit* outputPane;
    QLabel* statusLabel;

  protected:
    void hideEvent(QHideEvent* event) override;

  private:
    void buildControls();
    QString askPath(bool save);
    bool load(const QString& path); // asks nothing
    void setPath(const QString& path);
    void remember(const QString& path);
    void refreshRecent();
    void openRecent(const QString& path);
    void refreshTitle();
    void refreshRunning(bool running);
    void say(const QString& line);
    void flushOutput();
    void onStarted(const QString& name);
    void onLineChanged(int line);
    void onChecked(bool passed, const QString& text, int number);
    void onFinished(const engine::ScriptResult& result);

    engine::ScriptRunner& runner_; // the session's
    QMenu* recentMenu_;
    QString path_;     // "" while untitled
    bool own_ = false; // the running script is this editor's text
    bool placed_ = false;
    QString pendingOutput_; // what the pane shows at the next flush
    QTimer outputTimer_;
    QElapsedTimer runClicked_;
};

} // namespace varnok
