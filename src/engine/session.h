#pragma once
// Everything the program does with its line, without a window: the terminal (which owns the
// line), the traffic recorder, the Modbus master, Quick Send's sender and book and the device
// finder.
// Made once in main() (or by a test or benchmark with no window at all); windows are handed
// references and only show and drive it, so closing one leaves what it drives running.
#include <QObject>
#include <memory>

#include "engine/bus_ports.h"
#include "engine/find_sweep.h"
#include "engine/modbus_master.h"
#include "engine/monitor/traffic_recorder.h"
#include "engine/poll/poll_model.h"
#include "engine/quick_send.h"
#include "engine/quick_send_keeper.h"
#include "engine/script/script_runner.h"
#include "engine/terminal_engine.h"

namespace varnok::engine {

class Session : public QObject {
    Q_OBJECT
  public:
    // Takes a link (tests hand in one whose modem lines they play); else the terminal makes
    // the local serial device.
    explicit Session(std::unique_ptr<serial::Link> link = nullptr, QObject* parent = nullptr);
    ~Session() override;

    TerminalEngine& terminal() { return terminal_; }
    TrafficRecorder& recorder() { return recorder_; }
    ModbusMaster& master() { return master_; }
    PollModel& poll() { return poll_; }
    QuickSender& quickSend() { return quickSend_; }
    QuickSendKeeper& quickSendBook() { return quickSendBook_; }
    FindSweep& finder() { return finder_; }
    BusPorts& bus() { return bus_; } // port B: tap and bridge
    ScriptRunner& script() { return script_; }

    // The program ends: every user of the line stops, then the line closes quietly.
    void shutdown();

  private:
    // The terminal is made first and goes last: every other part uses its line.
    TerminalEngine terminal_;
    TrafficRecorder recorder_;
    ModbusMaster master_;
    PollModel poll_{master_}; // Poll's rows, values and log, kept while its window is closed
    QuickSender quickSend_;
    QuickSendKeeper quickSendBook_; // the book the sender runs, as the user edits it
    FindSweep finder_;
    BusPorts bus_;
    ScriptRunner script_{terminal_, quickSend_};
};

} // namespace varnok::engine
