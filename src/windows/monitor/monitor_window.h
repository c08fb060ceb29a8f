#pragma once
// The traffic monitor: every frame with its time, Modbus RTU decoding with response times,
// live statistics and capture to file. Non-modal; it follows the engine's traffic.
#include <QPointer>
#include <QWidget>

namespace varnok::engine {
class TerminalEngine;
}

namespace varnok {

class MonitorWindow : public QWidget {
    Q_OBJECT
  public:
    // A top-level window (objectName "Monitor") that follows `engine` until it is gone.
    explicit MonitorWindow(engine::TerminalEngine* engine, QWidget* parent = nullptr);
    ~MonitorWindow() override;

  private:
    QPointer<engine::TerminalEngine> engine_;
};

} // namespace varnok
