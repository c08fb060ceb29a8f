#pragma once
// Quick Send's "Sequences" page: the book's sequences, each a list of entries with a delay
// after each, edited here and run by the session's sender (which goes on with the window
// closed).
#include "windows/quick_send/book_page.h"

class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace varnok {

class SequencesPage : public BookPage {
    Q_OBJECT
  public:
    SequencesPage(engine::QuickSendKeeper& keeper, engine::QuickSender& sender,
                  QWidget* parent = nullptr);
    void showSequences(); // from the book

    QListWidget* sequenceList;
    QLineEdit* sequenceName;
    QSpinBox* runsBox;        // 0 until stopped
    QTableWidget* stepsTable; // entry name, delay ms
    QPushButton* runButton;
    QPushButton* stopButton;

  private:
    void lay(QPushButton* add, QPushButton* remove, QPushButton* addStep, QPushButton* removeStep);
    void wire(QPushButton* add, QPushButton* remove, QPushButton* addStep, QPushButton* removeStep);
    void stepsEdited();
};

} // namespace varnok
