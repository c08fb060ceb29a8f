#pragma once
// Quick Send: stored sends on buttons and F1-F12, sequences, auto-answer rules, a paced file,
// BREAK and RTS. Non-modal; it shows and edits what the engine-layer sender runs, remembers
// it in a JSON file of its own in the per-user folder, and exports or imports it. Closing the
// window ends its sends.
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "engine/session.h"
#include "engine/quick_send.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace varnok {

class ButtonField;

class QuickSendWindow : public QWidget {
    Q_OBJECT
  public:
    explicit QuickSendWindow(engine::Session& session, QWidget* parent = nullptr);
    ~QuickSendWindow() override;

    engine::QuickSender& sender() { return sender_; }
    // Shown in front; the first time where the user left it, else beside `main`.
    void showBeside(const QWidget* main);
    // What "Export..." and "Import..." do once they know the file; false after one message
    // (or when the user cancels). Import asks whether to replace the book or add to it.
    bool exportTo(const QString& path);
    bool importFrom(const QString& path);

    // entries
    QListWidget* entryList;
    QLineEdit* nameEdit;
    QLineEdit* dataEdit;
    QComboBox* formBox;     // Text / Hex list
    QComboBox* endBox;      // None, CR, LF, CR LF, LF CR
    QComboBox* checksumBox; // the catalogue
    QSpinBox* skipFirstBox;
    QSpinBox* skipLastBox;
    QSpinBox* periodBox; // ms, 0 once
    QComboBox* keyBox;   // none, F1..F12
    QLabel* bytesLabel;  // the exact bytes, as hex, or why there are none
    QPushButton* addEntryButton;
    QPushButton* removeEntryButton;
    QWidget* sendButtons; // one button per entry, objectName "Send_<n>", in a scrolling area
    // sequences
    QListWidget* sequenceList;
    QLineEdit* sequenceName;
    QSpinBox* runsBox;        // 0 until stopped
    QTableWidget* stepsTable; // entry name, delay ms
    QPushButton* runButton;
    QPushButton* stopButton;
    // rules
    QCheckBox* rulesOnBox;
    QTableWidget* rulesTable; // on, kind, pattern, entry, delay ms, fired
    QSpinBox* answersBox;     // at most this many answers per second, per rule
    // file
    QLineEdit* filePath;
    QComboBox* paceBox;
    QSpinBox* paceDelayBox; // ms
    QCheckBox* hexFileBox;
    QPushButton* sendFileButton;
    QPushButton* stopFileButton;
    QProgressBar* fileBar;
    QLabel* fileLabel;
    QLabel* bookFault; // what is not in use until mended
    // the line
    QSpinBox* breakBox; // ms
    QPushButton* breakButton;
    QCheckBox* rtsBox;
    QPushButton* exportButton;
    QPushButton* importButton;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QWidget* buildEntries();
    QWidget* buildSequences();
    QWidget* buildRules();
    QWidget* buildFileAndLines();
    void showBook();    // every list and table from book_
    void showEntry();   // the editor from the chosen entry
    void entryEdited(); // the editor into book_
    void stepsEdited();
    void rulesEdited();
    void commit(); // book_ to the sender when it is whole; remembered
    void rebuildButtons();
    void pressEntry(int index);
    void startFile();
    void showFailure(const QString& text);
    void saveBook();
    void followPort();

    QPointer<engine::TerminalEngine> engine_;
    engine::QuickSender& sender_; // the session's
    engine::QuickSendBook book_;
    bool showing_ = false; // the controls are being filled, not edited
    ButtonField* buttonField_ = nullptr;
    QTimer saveTimer_; // the book file is written once edits pause
    bool placed_ = false;
};

} // namespace varnok
