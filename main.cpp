// Varnok_Binary: a test terminal for one serial port.
#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/quit_signals.h"
#include "engine/script/headless.h"
#include "engine/session.h"
#include "logic/serial/network_port.h"
#include "logic/serial/port_map.h"
#include "version.h"
#include "windows/main_window/form1.h"

namespace {

const char kPortBinding[] =
    "  --port ComN=PATH binds any number from 1 to 255 to PATH, and DEVICE binds Com1,\n"
    "  for this run only; bindings chosen in the window are remembered.\n";

const char kExamples[] =
    "\nExamples:\n"
    "  varnok-binary /dev/ttyUSB0\n"
    "  varnok-binary --port Com1=/dev/pts/3 --port Com2=/dev/serial/by-id/usb-FTDI-if00\n"
    "  varnok-binary --port Com5=rfc2217://127.0.0.1:7001\n"
    "  varnok-binary modbus-tcp://localhost\n"
    "  varnok-binary --script check.lua --port Com1=/dev/ttyUSB0 --tap -- 9600 fast\n"
    "  varnok-binary --version\n";

const char kQtOptions[] =
    "\nQt's own options are passed on to it: -platform NAME, -platformtheme NAME,\n"
    "-platformpluginpath DIR, -plugin NAME, -qwindowgeometry WxH+X+Y, -qwindowtitle TEXT,\n"
    "-qwindowicon FILE, -display X11DISPLAY, -geometry WxH+X+Y, -title TEXT, -style NAME,\n"
    "-stylesheet FILE, -reverse, -widgetcount, -nograb, -dograb, -sync.\n"
    "  varnok-binary -platform offscreen --port Com1=/dev/pts/3\n";

// What the command line asks for once it has been read.
struct Request {
    int exitCode = -1; // >= 0: answered already, end with this code
    std::vector<std::pair<int, std::string>> bindings;
    QString screenshot;
    std::optional<varnok::engine::HeadlessRun> script; // --script: no window at all
};

void fail(Request& r, const QString& message) {
    std::fprintf(stderr, "varnok-binary: %s\nTry 'varnok-binary --help'.\n", qPrintable(message));
    r.exitCode = 2;
}

// -platform, -style and the like are Qt's own: known here, hidden from the help, left to Qt.
void addQtOptions(QCommandLineParser& parser) {
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "qwindowtitle", "qwindowicon", "display", "geometry", "title", "style", "stylesheet"}) {
        QCommandLineOption qtOption(QString::fromLatin1(name), QString(), QStringLiteral("X"));
        qtOption.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtOption);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption qtFlag(QString::fromLatin1(name));
        qtFlag.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(qtFlag);
    }
}

void addScriptOptions(QCommandLineParser& parser) {
    parser.addOption({QStringLiteral("script"),
                      QStringLiteral("Run the Lua script FILE without a window and end with its "
                                     "status (0 passed, 1 a check failed, 2 an error or a "
                                     "signal, 3 no port); the arguments after FILE (or after "
                                     "--) are its arg[1..]."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("allow-exec"),
                      QStringLiteral("With --script: let the script run programs (os.execute, "
                                     "io.popen).")});
    parser.addOption({QStringLiteral("tap"),
                      QStringLiteral("With --script: print each check() as a TAP line (ok N - "
                                     "text) and the plan 1..N at the end.")});
}

// --script takes the positional arguments as the script's own; false after a mistake is told.
bool readScript(const QCommandLineParser& parser, Request& r) {
    const bool allowExec = parser.isSet(QStringLiteral("allow-exec"));
    const bool tap = parser.isSet(QStringLiteral("tap"));
    if (!parser.isSet(QStringLiteral("script"))) {
        if (allowExec || tap)
            fail(r, QStringLiteral("--%1 needs --script").arg(tap ? "tap" : "allow-exec"));
        return !allowExec && !tap;
    }
    r.script = varnok::engine::HeadlessRun{parser.value(QStringLiteral("script")),
                                           parser.positionalArguments(), allowExec, tap};
    return true;
}

// A path written as a network port must be one; false after telling why it is not.
bool networkPortAllowed(const QString& given, const std::string& path, Request& r) {
    std::string why;
    if (!varnok::serial::looksLikeNetworkPort(path) || varnok::serial::parseNetworkPort(path, &why))
        return true;
    fail(r, QStringLiteral("\"%1\": %2").arg(given, QString::fromStdString(why)));
    return false;
}

// The --port bindings, then DEVICE as Com1's; false after the first mistake is told.
bool readBindings(const QCommandLineParser& parser, const QCommandLineOption& portOption,
                  Request& r) {
    for (const QString& binding : parser.values(portOption)) {
        const auto b = varnok::serial::parsePortBinding(binding.toStdString());
        if (!b) {
            fail(r, QStringLiteral("--port wants ComN=PATH with N from 1 to 255, not \"%1\"")
                        .arg(binding));
            return false;
        }
        if (!networkPortAllowed(binding, b->second, r))
            return false;
        r.bindings.push_back(*b);
    }
    const QStringList devices = r.script ? QStringList() : parser.positionalArguments();
    if (devices.size() > 1) {
        fail(r, QStringLiteral("one DEVICE at most, not %1: %2")
                    .arg(devices.size())
                    .arg(devices.join(QLatin1Char(' '))));
        return false;
    }
    if (devices.size() == 1) {
        if (devices[0].isEmpty()) {
            fail(r, QStringLiteral("DEVICE is empty"));
            return false;
        }
        if (!networkPortAllowed(devices[0], devices[0].toStdString(), r))
            return false;
        r.bindings.emplace_back(1, devices[0].toStdString());
    }
    return true;
}

// Read before any window system is touched, so that --help, --version and mistakes are
// answered on a machine without a display.
Request readCommandLine(int argc, char** argv) {
    QCoreApplication core(argc, argv);
    QCommandLineParser parser;
    // Qt's single-dash options read as long ones, so that they are accepted and left to Qt.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral("Test terminal for one serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Bind port number N (1-255) to a device path or a network port, "
                       "e.g. --port Com3=/dev/pts/4 (repeatable)."),
        QStringLiteral("ComN=PATH"));
    parser.addOption(portOption);
    parser.addPositionalArgument(QStringLiteral("DEVICE"),
                                 QStringLiteral("Device for Com1, e.g. /dev/ttyUSB0; the "
                                                "same as --port Com1=DEVICE."),
                                 QStringLiteral("[DEVICE]"));
    // For package checks and the README pictures: grab the window once it has settled, print
    // its title on stdout and end.
    QCommandLineOption screenshotOption(QStringLiteral("screenshot"), QString(),
                                        QStringLiteral("FILE"));
    screenshotOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(screenshotOption);
    addScriptOptions(parser);
    addQtOptions(parser);

    Request r;
    const bool parsed = parser.parse(QCoreApplication::arguments());
    const bool helpAll = parser.isSet(QStringLiteral("help-all"));
    if (helpAll || parser.isSet(QStringLiteral("help"))) {
        // The numbers' rule is printed from the rule the program follows.
        std::printf("%s\nPort numbers and devices:\n%s%s\nPorts over the network (in place of "
                    "PATH or DEVICE):\n%s%s%s",
                    qPrintable(parser.helpText()), varnok::serial::portRuleText().c_str(),
                    kPortBinding, varnok::serial::networkFormsText().c_str(), kExamples,
                    helpAll ? kQtOptions : "");
        r.exitCode = 0;
        return r;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("varnok-binary %s\n", varnok::kVersionText);
        r.exitCode = 0;
        return r;
    }
    if (!parsed) {
        fail(r, parser.errorText());
        return r;
    }
    if (!readScript(parser, r) || !readBindings(parser, portOption, r))
        return r;
    r.screenshot = parser.value(screenshotOption);
    return r;
}

// Qt gives up on a missing display with a page of advice and an abort: the user gets one line
// and status 1 instead. What Qt says while the application object is made is held back until
// it is known to have found a display.
QtMessageHandler g_qtHandler = nullptr;
QStringList* g_heldBack = nullptr;

void failWithoutDisplay() {
    static QStringList held;
    g_heldBack = &held;
    g_qtHandler = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            if (type == QtFatalMsg) {
                std::fprintf(stderr, "varnok-binary: no display found (is DISPLAY or "
                                     "WAYLAND_DISPLAY set? -platform offscreen needs none)\n");
                std::_Exit(1);
            }
            g_heldBack->append(qFormatLogMessage(type, context, text));
        });
}

void releaseHeldBack() {
    qInstallMessageHandler(g_qtHandler);
    for (const QString& line : std::as_const(*g_heldBack))
        std::fprintf(stderr, "%s\n", qPrintable(line));
    g_heldBack->clear();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication::setApplicationName(QStringLiteral("varnok-binary"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(varnok::kVersionText));
    Request request = readCommandLine(argc, argv);
    if (request.exitCode >= 0)
        return request.exitCode;
    for (auto& [number, path] : request.bindings)
        varnok::serial::bindPort(number, std::move(path), varnok::serial::Binding::ForThisRun);
    if (request.script)
        return varnok::engine::runHeadless(argc, argv, *request.script);

    failWithoutDisplay();
    QApplication app(argc, argv);
    releaseHeldBack();
    varnok::engine::Session session;
    varnok::Form1 window(session);
    window.show();
    // SIGTERM, SIGINT and SIGHUP end the program as closing its window does: a capture is
    // flushed and closed, the port closed, a bridge's pseudo-terminal link removed.
    varnok::engine::onQuitSignals(&window, {SIGTERM, SIGINT, SIGHUP},
                                  [&window] { window.close(); });
    if (!request.screenshot.isEmpty()) {
        QTimer::singleShot(500, &window, [&window, file = request.screenshot] {
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
