#pragma once
#include <QString>

#include "engine/outcome.h"

class QWidget;

namespace varnok {

inline constexpr const char* kAppTitle = "Varnok_Binary";
inline constexpr int kMessageRunChars = 80; // longest run without blanks shown whole

// A modal message with the application title and only an OK button; returns when answered.
void showMessage(QWidget* parent, const QString& text);
// The same with a command's failure text, when it has one; false when the command failed.
bool showFailure(QWidget* parent, const engine::Outcome& outcome);

// The text itself when it has at most maxChars characters, else its start and end around "…".
QString elideMiddle(const QString& text, int maxChars);

} // namespace varnok
