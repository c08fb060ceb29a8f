#include "windows/main_window/message_box.h"

#include <QMessageBox>
#include <QRegularExpression>

namespace varnok {

QString elideMiddle(const QString& text, int maxChars) {
    if (text.size() <= maxChars)
        return text;
    const int keep = std::max(2, maxChars - 1);
    const int head = keep / 2;
    return text.left(head) + QChar(0x2026) + text.right(keep - head);
}

void showMessage(QWidget* parent, const QString& text) {
    // A pasted path of thousands of characters would make a box wider than the screen: every
    // overlong run without blanks loses its middle.
    QString shown;
    static const QRegularExpression run(QStringLiteral("\\S+|\\s+"));
    for (auto it = run.globalMatch(text); it.hasNext();)
        shown += elideMiddle(it.next().captured(), kMessageRunChars);
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), shown, QMessageBox::Ok,
                    parent);
    box.setObjectName(QStringLiteral("VarnokMessage"));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool showFailure(QWidget* parent, const engine::Outcome& outcome) {
    if (!outcome.ok() && !outcome.failure().isEmpty())
        showMessage(parent, outcome.failure());
    return outcome.ok();
}

} // namespace varnok
