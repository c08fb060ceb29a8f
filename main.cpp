// Varnok_Binary: a test terminal for one serial port.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>

#include "windows/main_window/form1.h"
#include "logic/serial/port_map.h"
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
    // For package checks and the README pictures: grab the window once it has settled, print
    // its title on stdout and end.
    QCommandLineOption screenshotOption(QStringLiteral("screenshot"), QString(),
                                        QStringLiteral("FILE"));
    screenshotOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(screenshotOption);
    parser.process(app);

    for (const QString& binding : parser.values(portOption)) {
        const auto b = varnok::serial::parsePortBinding(binding.toStdString());
        if (!b) {
            std::fprintf(stderr,
                         "varnok-binary: --port wants ComN=PATH with N from 1 to 255, "
                         "not \"%s\"\n",
                         binding.toLocal8Bit().constData());
            return 2;
        }
        varnok::serial::bindPort(b->first, b->second);
    }

    varnok::Form1 window;
    window.show();
    if (parser.isSet(screenshotOption)) {
        QTimer::singleShot(500, &window, [&window, file = parser.value(screenshotOption)] {
            const bool saved = window.grab().save(file, "PNG");
            if (saved)
                std::printf("%s\n", window.windowTitle().toUtf8().constData());
            else
                std::fprintf(stderr, "varnok-binary: cannot write %s\n", qPrintable(file));
            std::fflush(stdout);
            QCoreApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}
