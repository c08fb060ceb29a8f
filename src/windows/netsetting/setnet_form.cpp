#include "windows/netsetting/setnet_form.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "engine/terminal_engine.h"
#include "logic/netsetting/console_protocol.h"
#include "windows/main_window/message_box.h"
#include "windows/twips.h"

namespace varnok {

namespace {

// The pauses the device needs before it has answered a read and a write.
constexpr int kReadPauseMs = 200;
constexpr int kWritePauseMs = 100;
constexpr int kHandBackMs = 500; // auto receive again one interval after "Exit"

const QColor kBackground(255, 224, 192);
const QColor kActionButton(192, 255, 192);
const QColor kDefaultButton(255, 192, 255);
constexpr int kOctetLeft[4] = {1575, 2310, 3045, 3780};

void paint(QWidget* w, QPalette::ColorRole role, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(role, c);
    w->setPalette(p);
}

// The captions' face, or the nearest bold sans-serif of the same size where it is missing.
QFont captionFont() {
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                   QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(12);
    f.setBold(true);
    return f;
}

QString qs(const char* text) {
    return QString::fromLatin1(text);
}

} // namespace

SETNET_Form::SETNET_Form(engine::TerminalEngine* engine, QWidget* over)
    : QWidget(nullptr, Qt::Window), engine_(engine) {
    setObjectName(QStringLiteral("SETNET_Form"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("N500 Net Setting"));
    buildControls();

    connect(Cmd_GET, &QPushButton::clicked, this, &SETNET_Form::Cmd_GET_Click);
    connect(Cmd_SET, &QPushButton::clicked, this, &SETNET_Form::Cmd_SET_Click);
    connect(Cmd_Default, &QPushButton::clicked, this, &SETNET_Form::Cmd_Default_Click);
    connect(Cmd_Exit, &QPushButton::clicked, this, &SETNET_Form::Cmd_Exit_Click);

    if (over) {
        // Not owned by the main window, but it cannot outlive it: it uses its port.
        connect(over, &QObject::destroyed, this, [this] { delete this; });
        // First placed over the middle of the main window.
        const QRect m = over->frameGeometry();
        move(m.center() - QPoint(width() / 2, height() / 2));
    }
    Form_Load();
}

SETNET_Form::~SETNET_Form() = default;

void SETNET_Form::buildControls() {
    QFont base = font();
    base.setPointSize(8);
    setFont(base);
    paint(this, QPalette::Window, kBackground);
    setAutoFillBackground(true);
    setFixedSize(tw(4800), tw(2865));

    const QFont bold = captionFont();
    const auto button = [&](const char* name, const char* caption, QRect r, const QColor& c) {
        auto* b = new QPushButton(qs(caption), this);
        b->setObjectName(qs(name));
        b->setGeometry(r);
        b->setAutoDefault(false);
        paint(b, QPalette::Button, c);
        return b;
    };
    const auto label = [&](const char* name, const char* caption, QRect r) {
        auto* l = new QLabel(qs(caption), this);
        l->setObjectName(qs(name));
        l->setGeometry(r);
        l->setFont(bold);
        paint(l, QPalette::Window, kBackground);
        l->setAutoFillBackground(true);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return l;
    };
    const auto octets = [&](std::array<QLineEdit*, 4>& boxes, const char* name, int top) {
        for (int i = 0; i < 4; ++i) {
            auto* e = new QLineEdit(qs("0"), this);
            e->setObjectName(QStringLiteral("%1_%2").arg(qs(name)).arg(i));
            e->setGeometry(tw(kOctetLeft[i]), tw(top), tw(645), tw(330));
            boxes[static_cast<size_t>(i)] = e;
        }
    };

    Cmd_Default = button("Cmd_Default", "Default Setting", {tw(3150), tw(210), tw(1275), tw(330)},
                         kDefaultButton);
    Label1 = label("Label1", "IP : ", {tw(1050), tw(735), tw(480), tw(300)});
    octets(IP, "IP", 735);
    Label2 = label("Label2", "Mask : ", {tw(675), tw(1155), tw(855), tw(300)});
    octets(Mask, "Mask", 1155);
    Label3 = label("Label3", "Gateway : ", {tw(255), tw(1575), tw(1275), tw(300)});
    octets(Gateway, "Gateway", 1575);
    Cmd_GET = button("Cmd_GET", "GET", {tw(315), tw(2205), tw(1170), tw(435)}, kActionButton);
    Cmd_SET = button("Cmd_SET", "SET", {tw(1785), tw(2205), tw(1170), tw(435)}, kActionButton);
    Cmd_Exit = button("Cmd_Exit", "Exit", {tw(3255), tw(2205), tw(1170), tw(435)}, kActionButton);
    for (QPushButton* b : {Cmd_GET, Cmd_SET, Cmd_Exit})
        b->setFont(bold);

    QList<QWidget*> order;
    for (auto* boxes : {&IP, &Mask, &Gateway})
        for (QLineEdit* e : *boxes)
            order << e;
    order << Cmd_SET << Cmd_Exit << Cmd_GET << Cmd_Default;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void SETNET_Form::Form_Load() {
    // ASCII and manual receive: the console's replies are read by its exchanges only.
    if (engine_) {
        engine_->setReceiveBinary(false);
        engine_->manualRead();
    }
}

void SETNET_Form::exchange(const QString& command, int pauseMs, const QString& what,
                           std::function<void()> then) {
    if (busy_)
        return; // one exchange at a time: a press meanwhile is ignored
    SendStr = command;
    RecvStr.clear();
    if (!engine_) {
        showFailure(this, engine::TerminalEngine::consoleNotOpen(what));
        return;
    }
    const engine::Outcome begun = engine_->consoleExchange(
        command, pauseMs, what, this, [this, then = std::move(then)](std::optional<QString> reply) {
            busy_ = false;
            if (!reply)
                return; // the port closed, or its failure was told
            RecvStr = *reply;
            then();
        });
    if (begun)
        busy_ = true;
    else
        showFailure(this, begun);
}

void SETNET_Form::Cmd_GET_Click() {
    exchange(QString::fromLatin1(netsetting::kReadCommand), kReadPauseMs, QStringLiteral("GET"),
             [this] {
                 const QByteArray text = RecvStr.toLatin1();
                 const netsetting::ConsoleValues v = netsetting::scanReply(
                     std::string_view(text.constData(), static_cast<size_t>(text.size())));
                 const std::string problem = netsetting::readProblem(
                     std::string_view(text.constData(), static_cast<size_t>(text.size())), v,
                     kReadPauseMs);
                 if (!problem.empty()) {
                     // A late or cut answer: what the boxes hold is still the best there is.
                     showMessage(this, QString::fromStdString(problem));
                     return;
                 }
                 const auto boxes = edits();
                 for (size_t i = 0; i < boxes.size(); ++i)
                     boxes[i]->setText(QString::fromStdString(v.boxes[i]));
             });
}

void SETNET_Form::Cmd_SET_Click() {
    // Every box a number the device can take, or nothing is written.
    netsetting::Boxes typed;
    const auto boxes = edits();
    for (size_t i = 0; i < boxes.size(); ++i)
        typed[i] = boxes[i]->text().toStdString();
    const std::string problem = netsetting::boxesProblem(typed);
    if (!problem.empty()) {
        showMessage(this, QString::fromStdString(problem));
        return;
    }
    // The device's answer is not examined.
    exchange(QString::fromStdString(netsetting::setCommand(typed)), kWritePauseMs,
             QStringLiteral("SET"), [] {});
}

std::array<QLineEdit*, 12> SETNET_Form::edits() const {
    std::array<QLineEdit*, 12> out{};
    for (size_t i = 0; i < 4; ++i) {
        out[i] = IP[i];
        out[i + 4] = Mask[i];
        out[i + 8] = Gateway[i];
    }
    return out;
}

void SETNET_Form::Cmd_Default_Click() {
    const char* const ip[4] = {"192", "168", "0", "1"};
    const char* const mask[4] = {"255", "255", "255", "0"};
    const char* const gateway[4] = {"192", "168", "0", "254"};
    for (size_t i = 0; i < 4; ++i) {
        IP[i]->setText(qs(ip[i]));
        Mask[i]->setText(qs(mask[i]));
        Gateway[i]->setText(qs(gateway[i]));
    }
}

void SETNET_Form::Cmd_Exit_Click() {
    const QPointer<engine::TerminalEngine> engine = engine_;
    close(); // unloads: deleted once control is back in the event loop
    if (engine)
        engine->scheduleAutoReceive(kHandBackMs);
}

void SETNET_Form::closeEvent(QCloseEvent* event) {
    // Closing by the window control hands nothing back: the main window stays manual.
    loaded_ = false;
    event->accept();
}

} // namespace varnok
