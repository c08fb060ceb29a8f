#pragma once
// A real port whose modem lines the test plays: data still flows over the bound device (a
// pseudo-terminal has no CTS, DSR, DCD or DTR), while the lines are what the test sets and
// every DTR change is recorded the moment the port layer applies it, open or closed.
#include <QList>

#include "port/comm_port.h"

namespace varnok::test {

class FakeLinesPort : public serial::CommPort {
  public:
    serial::ModemLines lines;   // what the far end asserts
    bool failLineReads = false; // reading the lines throws, as a refusing driver would
    bool realLine = false;      // a pseudo-terminal's refusals then count as a real line's
    int lineReads = 0;          // how often the lines were read
    QList<bool> dtrApplied;     // every DTR state handed to the line, in order

    static constexpr int kLineReadError = 8099;

  protected:
    serial::LinesWatch watchLines() override { return serial::LinesWatch::Poll; }
    bool isPseudoTerminal() override { return !realLine && serial::CommPort::isPseudoTerminal(); }
    serial::ModemLines readModemLines() override {
        ++lineReads;
        if (failLineReads)
            throw serial::PortError(kLineReadError, "Modem status unreadable");
        return lines;
    }
    void applyDtr(bool asserted) override {
        dtrApplied << asserted;
        serial::CommPort::applyDtr(asserted);
    }
};

} // namespace varnok::test
