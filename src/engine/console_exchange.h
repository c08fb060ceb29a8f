#pragma once
// One talk with the N500 console: write the commands, wait the fixed pause, drain the reply.
#include <QString>

namespace varnok::serial {
class CommPort;
}

namespace varnok::netsetting {

// The two commands the dialog writes and their pauses.
inline constexpr int kReadPauseMs = 200;
inline constexpr int kWritePauseMs = 100;
QString readCommand();
// "ip a.b.c.d" CR "mask e.f.g.h" CR "gateway i.j.k.l" CR from the twelve texts as typed.
QString writeCommand(const QString (&ip)[4], const QString (&mask)[4], const QString (&gateway)[4]);

// Writes `command` (one Latin-1 byte per character) in one write, blocks the thread for
// `pauseMs` without serving events, then reads the port until it is found empty, serving
// pending events once after every read. Input already waiting before the write stands at
// the front of the reply. Port failures of the write and the reads propagate as
// serial::PortError. The drain ends early, with what it has, when the port object is
// destroyed or the port is closed while events are served.
QString Console_Exchange(serial::CommPort& port, const QString& command, int pauseMs);

} // namespace varnok::netsetting
