#include "engine/quick_send_keeper.h"

#include <QSettings>
#include <algorithm>

namespace varnok::engine {

QuickSendKeeper::QuickSendKeeper(QuickSender& sender, QObject* parent)
    : QObject(parent), sender_(sender) {
    saveTimer_.setSingleShot(true);
    connect(&saveTimer_, &QTimer::timeout, this, &QuickSendKeeper::save);
    connect(&sender_, &QuickSender::repeatingChanged, this, [this](int entry, bool on) {
        if (on)
            repeating_.insert(entry);
        else
            repeating_.erase(entry);
        follow();
    });
    connect(&sender_, &QuickSender::ruleSwitchedOff, this, [this](int rule) {
        book_.rules.at(std::size_t(rule)).enabled = false; // and stays off when saved
        saveSoon();
        follow();
    });
    connect(&sender_, &QuickSender::sequenceStep, this, &QuickSendKeeper::follow);
    connect(&sender_, &QuickSender::rulesEnabledChanged, this, &QuickSendKeeper::follow);
    connect(&sender_, &QuickSender::fileProgress, this, &QuickSendKeeper::follow);
    connect(&sender_, &QuickSender::fileFinished, this, &QuickSendKeeper::follow);
}

QuickSendKeeper::~QuickSendKeeper() {
    if (saveTimer_.isActive())
        save();
}

Outcome QuickSendKeeper::open(const QString& path, QSettings& settings) {
    if (isOpen())
        return {};
    path_ = path;
    moveOldBook(settings, path);
    const QString why = loadBook(path, &book_);
    sender_.setBook(book_);
    follow();
    return why.isEmpty() ? Outcome() : Outcome::failed(why);
}

QString QuickSendKeeper::commit() {
    // What is under repair sends nothing until mended.
    sender_.setBook(book_);
    saveSoon();
    follow();
    return firstFault(book_);
}

void QuickSendKeeper::saveSoon() {
    saveTimer_.start(kSaveDelayMs);
}

void QuickSendKeeper::save() {
    saveTimer_.stop();
    if (!isOpen())
        return;
    const QString why = bookToFile(path_, book_);
    if (!why.isEmpty())
        emit saveFailed(why);
}

void QuickSendKeeper::setRuleEnabled(int index, bool on) {
    if (index < 0 || index >= int(book_.rules.size()))
        return;
    book_.rules[std::size_t(index)].enabled = on;
    sender_.setRuleEnabled(index, on);
    saveSoon();
    follow();
}

void QuickSendKeeper::follow() {
    const auto& rules = sender_.book().rules;
    const bool answering =
        sender_.rulesEnabled() &&
        std::any_of(rules.begin(), rules.end(), [](const AnswerRule& r) { return r.enabled; });
    const bool on =
        !repeating_.empty() || sender_.runningSequence() >= 0 || sender_.sendingFile() || answering;
    if (on != running_)
        emit runningChanged(running_ = on);
}

} // namespace varnok::engine
