#pragma once
#include <QString>

class QWidget;

namespace varnok {

inline constexpr const char* kAppTitle = "Varnok_Binary";

// A modal message with the application title and only an OK button; returns when answered.
void showMessage(QWidget* parent, const QString& text);

// Number of such messages open right now (nested event loops run while one is open).
int openMessageCount();

} // namespace varnok
