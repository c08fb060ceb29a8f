#pragma once
// Small makers of the controls Quick Send's pages are built from.
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStringList>
#include <QTableWidgetItem>
#include <string>

namespace varnok::quick_send {

inline QPushButton* button(const char* text, QWidget* parent) {
    return new QPushButton(QString::fromLatin1(text), parent);
}

inline QSpinBox* spin(int high, int value, const char* suffix, QWidget* parent) {
    auto* s = new QSpinBox(parent);
    s->setRange(0, high);
    s->setValue(value);
    s->setSuffix(QString::fromLatin1(suffix));
    return s;
}

inline QComboBox* combo(const QStringList& items, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->addItems(items);
    return c;
}

inline QString q(const std::u16string& s) {
    return QString::fromStdU16String(s);
}

inline QTableWidgetItem* editableItem(const QString& text) {
    return new QTableWidgetItem(text);
}

inline QTableWidgetItem* readOnlyItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    return item;
}

} // namespace varnok::quick_send
