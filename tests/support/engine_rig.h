#pragma once
// The shared rig: a fresh pseudo-terminal pair bound to Com1 (the test holds the device end)
// and a terminal engine on it, with everything the engine reports kept for the test.
#include <QByteArray>
#include <QStringList>
#include <memory>

#include "engine/terminal_engine.h"
#include "logic/serial/port_map.h"
#include "support/pty_pair.h"

namespace varnok::test {

struct EngineRig {
    PtyPair pty;
    engine::TerminalEngine e;
    QStringList messages;
    QByteArray sent;     // every write, as told by the engine
    QByteArray received; // every read, as told by the engine

    explicit EngineRig(std::unique_ptr<serial::Link> port = nullptr) : e(std::move(port)) {
        serial::bindPort(1, pty.slavePath().toStdString());
        using E = engine::TerminalEngine;
        QObject::connect(&e, &E::message, &e, [this](const QString& t) { messages << t; });
        QObject::connect(&e, &E::sent, &e,
                         [this](const QByteArray& b, engine::TrafficTime) { sent += b; });
        QObject::connect(&e, &E::received, &e,
                         [this](const QByteArray& b, engine::TrafficTime) { received += b; });
    }
    ~EngineRig() { serial::clearPortBindings(); }

    // A failure's text joins the messages, where the user reads it.
    bool open(engine::OpenRequest r = {}) { return keep(e.open(r)); }
    bool keep(const engine::Outcome& outcome) {
        if (!outcome.failure().isEmpty())
            messages << outcome.failure();
        return outcome.ok();
    }
};

} // namespace varnok::test
