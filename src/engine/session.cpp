#include "engine/session.h"

namespace varnok::engine {

Session::Session(std::unique_ptr<serial::Link> link, QObject* parent)
    : QObject(parent), terminal_(std::move(link)), recorder_(&terminal_), master_(terminal_),
      quickSend_(&terminal_), quickSendBook_(quickSend_), finder_(terminal_), bus_(terminal_) {
    recorder_.followBus(&bus_);
    connect(&script_, &ScriptRunner::marked, &recorder_, &TrafficRecorder::mark);
    quickSend_.setScriptStarter([this](const QString& path) { return script_.runFile(path); });
    connect(&script_, &ScriptRunner::finished, &quickSend_, &QuickSender::scriptEnded);
}

Session::~Session() = default;

void Session::shutdown() {
    script_.stop();
    bus_.stop();
    finder_.stop();
    master_.stop();
    quickSend_.stopSequence();
    quickSend_.stopFile();
    terminal_.shutdown();
}

} // namespace varnok::engine
