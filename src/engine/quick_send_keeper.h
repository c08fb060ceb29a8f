#pragma once
// Quick Send's book as the user edits it, without a window: handed to the sender on every
// change, remembered in its file once edits pause, and watched for what runs on its own
// (repeats, a sequence, answering rules, a file), which goes on with the window closed.
#include <QObject>
#include <QTimer>
#include <set>

#include "engine/quick_send.h"
#include "engine/quick_send_book.h"

class QSettings;

namespace varnok::engine {

class QuickSendKeeper : public QObject {
    Q_OBJECT
  public:
    static constexpr int kSaveDelayMs = 500; // edits are written at most this often

    explicit QuickSendKeeper(QuickSender& sender, QObject* parent = nullptr);
    ~QuickSendKeeper() override; // edits not yet written are written

    // Reads the book remembered at `path`, once; a book an earlier version kept in `settings`
    // moves there first. Failed with why the book starts empty (see loadBook).
    Outcome open(const QString& path, QSettings& settings);
    bool isOpen() const { return !path_.isEmpty(); }

    // The book to edit; commit() hands the edits on.
    QuickSendBook& book() { return book_; }
    // The sender runs the book as it is; it is written once edits pause. What is not in use
    // until mended, or "".
    QString commit();
    void saveSoon(); // a change the sender already has (a rule switched)
    void save();     // now, when there is anything to write
    // Switches rule `index` without losing its counts.
    void setRuleEnabled(int index, bool on);

    // Something sends or answers on its own: a repeat, a sequence, an enabled rule, a file.
    bool running() const { return running_; }

  signals:
    void runningChanged(bool on);
    void saveFailed(const QString& why);

  private:
    void follow(); // running() anew

    QuickSender& sender_;
    QuickSendBook book_;
    QString path_;
    QTimer saveTimer_;
    std::set<int> repeating_;
    bool running_ = false;
};

} // namespace varnok::engine
