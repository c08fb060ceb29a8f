#include "windows/main_window/message_box.h"

#include <QMessageBox>

namespace varnok {

namespace {
int g_openMessages = 0;
}

void showMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    parent);
    box.setObjectName(QStringLiteral("VarnokMessage"));
    box.setWindowModality(Qt::ApplicationModal);
    ++g_openMessages;
    box.exec();
    --g_openMessages;
}

int openMessageCount() {
    return g_openMessages;
}

} // namespace varnok
