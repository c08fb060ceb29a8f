#include "windows/poll/poll_delegates.h"

#include <QComboBox>
#include <QKeyEvent>

#include "engine/poll/poll_model.h"
#include "logic/modbus/value_format.h"

namespace varnok {

QWidget* FormatDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                      const QModelIndex&) const {
    auto* box = new QComboBox(parent);
    for (const auto& f : modbus::allFormats())
        box->addItem(QString::fromStdString(modbus::formatName(f)));
    // A choice in the open list is taken at once, as Enter takes the shown one.
    auto* self = const_cast<FormatDelegate*>(this);
    connect(box, &QComboBox::activated, self, [self, box] {
        emit self->commitData(box);
        emit self->closeEditor(box, NoHint);
    });
    return box;
}

void FormatDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    static_cast<QComboBox*>(editor)->setCurrentText(index.data().toString());
}

void FormatDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                  const QModelIndex& index) const {
    model->setData(index, static_cast<QComboBox*>(editor)->currentText());
}

// Enter and Tab take the format and leave the cell; Tab opens no value editor, which would be
// one Enter away from a write.
bool FormatDelegate::eventFilter(QObject* object, QEvent* event) {
    auto* box = qobject_cast<QComboBox*>(object);
    if (box && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Tab ||
            key == Qt::Key_Backtab) {
            emit commitData(box);
            emit closeEditor(box, NoHint);
            return true;
        }
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

void StaleDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.data(engine::PollModel::StaleRole).toBool())
        option->palette.setColor(QPalette::Text,
                                 option->palette.color(QPalette::Disabled, QPalette::Text));
}

} // namespace varnok
