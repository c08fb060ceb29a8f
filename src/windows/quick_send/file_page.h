#pragma once
// Quick Send's "File and lines" page: a file sent at full speed or paced, with its progress,
// and the BREAK and RTS controls. It drives the session's sender, which goes on sending with
// the window closed.
#include <QPointer>
#include <QWidget>

#include "engine/quick_send.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace varnok {

class FileAndLinesPage : public QWidget {
    Q_OBJECT
  public:
    FileAndLinesPage(engine::QuickSender& sender, engine::TerminalEngine& engine,
                     QWidget* parent = nullptr);

    QLineEdit* filePath;
    QComboBox* paceBox;
    QSpinBox* paceDelayBox; // ms
    QCheckBox* hexFileBox;
    QPushButton* sendFileButton;
    QPushButton* stopFileButton;
    QProgressBar* fileBar;
    QLabel* fileLabel;
    QSpinBox* breakBox; // ms
    QPushButton* breakButton;
    QCheckBox* rtsBox;

  private:
    void lay();
    void wire();
    void startFile();
    void showProgress(qint64 sent, qint64 total, double rate, qint64 msLeft);
    void followPort();

    engine::QuickSender& sender_;
    QPointer<engine::TerminalEngine> engine_;
};

} // namespace varnok
