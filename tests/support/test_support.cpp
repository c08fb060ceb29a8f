#include "support/test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QRegularExpression>
#include <ctime>

namespace varnok::test {

MessageCatcher::MessageCatcher() {
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, &MessageCatcher::look);
    timer_.start();
}

void MessageCatcher::look() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    texts << box->text();
    titles << box->windowTitle();
    buttonCounts << static_cast<int>(box->buttons().size());
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        ok->click();
        return;
    }
    const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
    for (QAbstractButton* b : box->buttons())
        if (!answer.isEmpty() && b->text() == answer) {
            b->click();
            return;
        }
    box->reject();
}

bool MessageCatcher::okOnly() const {
    for (int n : buttonCounts)
        if (n != 1)
            return false;
    for (const QString& t : titles)
        if (t != QLatin1String("Varnok_Binary"))
            return false;
    return true;
}

double processCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void serveEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void serveUntil(const std::function<bool()>& done, int timeoutMs) {
    // A slow tick bounds the wait when nothing else happens.
    QTimer tick;
    tick.start(50);
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

bool wildcardMatch(const QString& pattern, const QString& text) {
    QStringList parts = pattern.split(u'*');
    for (QString& part : parts)
        part = QRegularExpression::escape(part);
    return QRegularExpression(QRegularExpression::anchoredPattern(parts.join(QStringLiteral(".*"))))
        .match(text)
        .hasMatch();
}

double cpuOver(int ms) {
    const double before = processCpuSeconds();
    serveEvents(ms);
    return processCpuSeconds() - before;
}

} // namespace varnok::test
