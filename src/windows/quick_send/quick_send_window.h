#pragma once
// Quick Send: stored sends on buttons and F1-F12, sequences, auto-answer rules, a paced file,
// BREAK and RTS. Non-modal; it shows and edits the session's book, which the session's sender
// runs and remembers in a JSON file of its own in the per-user folder, and exports or imports
// it. Closing the window only hides it: repeats, a sequence, answers and a file go on; F1-F12
// send while it is open.
#include <QWidget>

#include "engine/session.h"

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
class FileAndLinesPage;
class RulesPage;
class SequencesPage;

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
    QLineEdit* dataEdit;       // the data, or a script entry's file
    QPushButton* browseButton; // chooses a script entry's file
    QComboBox* formBox;        // Text / Hex list / Script
    QComboBox* endBox;         // None, CR, LF, CR LF, LF CR
    QComboBox* checksumBox;    // the catalogue
    QSpinBox* skipFirstBox;
    QSpinBox* skipLastBox;
    QSpinBox* periodBox; // ms, 0 once
    QComboBox* keyBox;   // none, F1..F12
    QLabel* bytesLabel;  // the exact bytes, as hex, or why there are none
    QPushButton* addEntryButton;
    QPushButton* removeEntryButton;
    QWidget* sendButtons; // one button per entry, objectName "Send_<n>", in a scrolling area
    QLabel* bookFault;    // what is not in use until mended
    // the other tabs, each with its controls
    SequencesPage* sequences = nullptr;
    RulesPage* rules = nullptr;
    FileAndLinesPage* file = nullptr;
    QPushButton* exportButton;
    QPushButton* importButton;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QWidget* buildEntries();
    QWidget* buildSendButtons(QWidget* page);
    void wireEntries();
    void removeEntry();
    void wireBookAndSender();
    void showBook();     // every list and table from book_
    void showEntry();    // the editor from the chosen entry
    void browseScript(); // a script entry's file from a dialog
    void entryEdited();  // the editor into book_
    void commit();       // book_ to the sender, remembered; what is not in use said beneath
    void showFault(const QString& why);
    void relist(int row); // the entry list's text of `row`, or of all (-1)
    void rebuildButtons();
    void pressEntry(int index);
    void showFailure(const QString& text);

    engine::QuickSender& sender_;     // the session's
    engine::QuickSendKeeper& keeper_; // the session's
    engine::QuickSendBook& book_;     // the keeper's, as edited here
    bool showing_ = false;            // the controls are being filled, not edited
    ButtonField* buttonField_ = nullptr;
    bool placed_ = false;
};

} // namespace varnok
