#include "windows/monitor/monitor_window.h"

#include "engine/terminal_engine.h"

namespace varnok {

MonitorWindow::MonitorWindow(engine::TerminalEngine* engine, QWidget* parent)
    : QWidget(parent, Qt::Window), engine_(engine) {
    setObjectName(QStringLiteral("Monitor"));
    setWindowTitle(QStringLiteral("Monitor"));
}

MonitorWindow::~MonitorWindow() = default;

} // namespace varnok
