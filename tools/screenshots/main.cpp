// Grabs the real windows to PNG files, so that the README's pictures can be remade:
//   varnok-screenshots OUTDIR
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "main_window/form1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    varnok::Form1 window;
    window.show();
    QTimer::singleShot(700, &window, [&] {
        const QString file = out + QStringLiteral("/main_window.png");
        if (!window.grab().save(file)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            QCoreApplication::exit(1);
            return;
        }
        std::printf("%s\n", qPrintable(file));
        QCoreApplication::exit(0);
    });
    return QApplication::exec();
}
