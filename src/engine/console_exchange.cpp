#include "engine/console_exchange.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include "port/comm_port.h"

namespace varnok::netsetting {

QString readCommand() {
    return QStringLiteral("ip\rmask\rgateway\r");
}

QString writeCommand(const QString (&ip)[4], const QString (&mask)[4],
                     const QString (&gateway)[4]) {
    const auto dotted = [](const QString(&octets)[4]) {
        return octets[0] + u'.' + octets[1] + u'.' + octets[2] + u'.' + octets[3];
    };
    return QStringLiteral("ip ") + dotted(ip) + u'\r' + QStringLiteral("mask ") + dotted(mask) +
           u'\r' + QStringLiteral("gateway ") + dotted(gateway) + u'\r';
}

QString Console_Exchange(serial::CommPort& port, const QString& command, int pauseMs) {
    port.output(command.toLatin1());
    // The device answers while the thread sleeps; the port layer has handed the command to
    // the system already and picks up what arrived when it is next asked.
    if (pauseMs > 0)
        QThread::msleep(static_cast<unsigned long>(pauseMs));

    QString reply;
    const QPointer<serial::CommPort> alive(&port);
    while (port.inBufferCount() > 0) {
        const QVariant in = port.input();
        // Text whatever the input mode: the main window may have switched it meanwhile.
        reply += in.typeId() == QMetaType::QByteArray ? QString::fromLatin1(in.toByteArray())
                                                      : in.toString();
        QCoreApplication::processEvents();
        // A handler run just now may have closed the port or ended the window that owns it.
        if (!alive || !port.portOpen())
            break;
    }
    return reply;
}

} // namespace varnok::netsetting
