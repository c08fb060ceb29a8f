#pragma once
// The main window for wiring tests: shown offscreen, its messages answered and kept, Com1
// bound to a fresh pseudo-terminal pair (or a simulator's device) and, on request, opened.
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QStyleHints>
#include <QTest>
#include <memory>

#include "logic/serial/port_map.h"
#include "support/pty_pair.h"
#include "support/test_support.h"
#include "windows/main_window/form1.h"
#include "windows/user_settings.h"

namespace varnok::test {

struct FormRig {
    PtyPair pty;
    MessageCatcher messages;
    std::unique_ptr<engine::Session> session;
    std::unique_ptr<Form1> f;

    explicit FormRig(std::unique_ptr<serial::Link> port = nullptr, QString path = {}) {
        serial::bindPort(1, (path.isEmpty() ? pty.slavePath() : path).toStdString());
        // Each rig starts with nothing remembered from an earlier one.
        userSettings().clear();
        QFile::remove(QFileInfo(userSettings().fileName()).absolutePath() + "/quicksend.json");
        // Clicks follow each other faster than a user's; none is a double-click here.
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(0);
        session = std::make_unique<engine::Session>(std::move(port));
        f = std::make_unique<Form1>(*session);
        f->show();
    }
    ~FormRig() {
        f.reset(); // the window goes before the session it shows
        serial::clearPortBindings();
    }

    bool open() {
        QTest::mouseClick(f->Command1, Qt::LeftButton);
        return f->engine().isOpen();
    }
};

inline void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton);
}

// A check box takes clicks on its mark and caption only, not on the rest of its rectangle.
inline void clickBox(QWidget* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
}

} // namespace varnok::test
