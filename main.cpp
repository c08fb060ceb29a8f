// Varnok_Binary: a test terminal for one serial port.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "main_window/form1.h"
#include "serial/port_map.h"
#include "version.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("varnok-binary"));
    QApplication::setApplicationVersion(QString::fromLatin1(varnok::kVersionText));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Test terminal for one serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Bind port number N to a device path, e.g. --port Com1=/dev/pts/3 "
                       "(repeatable)."),
        QStringLiteral("ComN=PATH"));
    parser.addOption(portOption);
    parser.process(app);

    for (const QString& binding : parser.values(portOption)) {
        const auto b = varnok::serial::parsePortBinding(binding.toStdString());
        if (!b) {
            std::fprintf(stderr, "varnok-binary: --port wants ComN=PATH with N from 1 to 255, "
                                 "not \"%s\"\n",
                         binding.toLocal8Bit().constData());
            return 2;
        }
        varnok::serial::bindPort(b->first, b->second);
    }

    varnok::Form1 window;
    window.show();
    return QApplication::exec();
}
