#include "windows/find/find_window.h"
#include "windows/placement.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "windows/elided_label.h"
#include "windows/main_window/message_box.h"

namespace varnok {

namespace {

using engine::FindAnswer;
using engine::FindProbe;

const QString kGeometryKey = QStringLiteral("find/geometry");

// In the order of FindProbe.
constexpr const char* kProbes[] = {"03 read one holding register",
                                   "04 read one input register",
                                   "01 read one coil",
                                   "02 read one discrete input",
                                   "17 report server ID",
                                   "43/14 read device identification"};

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QString durationText(double ms) {
    if (ms < 1000)
        return QStringLiteral("%1 ms").arg(qRound(ms));
    const double s = ms / 1000;
    if (s < 60)
        return QStringLiteral("%1 s").arg(s, 0, 'f', 1);
    const int whole = qRound(s);
    return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60);
}

QSpinBox* spin(int low, int high, int value, const QString& suffix = {}) {
    auto* s = new QSpinBox;
    s->setRange(low, high);
    s->setValue(value);
    s->setSuffix(suffix);
    return s;
}

QTableWidgetItem* readOnlyItem(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

} // namespace

FindWindow::FindWindow(engine::Session& session, QWidget* parent)
    : QWidget(parent, Qt::Window), sweep_(session.finder()), engine_(session.terminal()) {
    setObjectName(QStringLiteral("Find"));
    setWindowTitle(QStringLiteral("Find Device - Varnok_Binary"));
    buildControls();
    connect(&sweep_, &engine::FindSweep::progress, this, &FindWindow::onProgress);
    connect(&sweep_, &engine::FindSweep::answer, this, &FindWindow::onAnswer);
    connect(&sweep_, &engine::FindSweep::finished, this, &FindWindow::onFinished);
    // What carries the port decides what can be swept.
    connect(&engine_, &engine::TerminalEngine::portOpenChanged, this, [this] {
        refreshPlan();
        refreshButtons();
    });
    refreshPlan();
    refreshButtons();
}

FindWindow::~FindWindow() = default;

void FindWindow::buildControls() {
    auto* top = new QVBoxLayout(this);
    auto* what = new QHBoxLayout;
    top->addLayout(what);
    what->addWidget(buildBauds());
    what->addWidget(buildFramings());
    what->addWidget(buildProbe(), 1);
    top->addLayout(buildOptions());

    timeoutLabel = new QLabel;
    timeoutLabel->setObjectName(QStringLiteral("FindPlan"));
    timeoutLabel->setWordWrap(true);
    top->addWidget(timeoutLabel);

    buildRun(*top);
    buildResults(*top);
    resize(900, 640);
}

QGroupBox* FindWindow::buildBauds() {
    auto* baudGroup = new QGroupBox(QStringLiteral("Baud rates"));
    auto* baudGrid = new QGridLayout(baudGroup);
    for (int i = 0; i < kBaudCount; ++i) {
        auto* box = new QCheckBox(QString::number(modbus::kFindBauds[i]));
        baudBoxes[std::size_t(i)] = box;
        baudGrid->addWidget(box, i % 4, i / 4);
        connect(box, &QCheckBox::toggled, this, &FindWindow::refreshPlan);
    }
    return baudGroup;
}

QGroupBox* FindWindow::buildFramings() {
    auto* framingGroup = new QGroupBox(QStringLiteral("Framings"));
    auto* framingGrid = new QGridLayout(framingGroup);
    const auto all = modbus::framings(true);
    const std::size_t eightBit = modbus::framings(false).size();
    for (std::size_t i = 0; i < all.size(); ++i) {
        auto* box = new QCheckBox(q(modbus::framingName(all[i])));
        box->setChecked(true);
        box->setVisible(i < eightBit);
        framingBoxes.push_back(box);
        framingGrid->addWidget(box, int(i % eightBit), int(i / eightBit));
        connect(box, &QCheckBox::toggled, this, &FindWindow::refreshPlan);
    }
    sevenBitBox = new QCheckBox(QStringLiteral("7-bit framings"));
    framingGrid->addWidget(sevenBitBox, int(eightBit), 0, 1, 2);
    connect(sevenBitBox, &QCheckBox::toggled, this, [this, eightBit](bool on) {
        for (std::size_t i = eightBit; i < framingBoxes.size(); ++i)
            framingBoxes[i]->setVisible(on);
        refreshPlan();
    });
    return framingGroup;
}

QGroupBox* FindWindow::buildProbe() {
    auto* probeGroup = new QGroupBox(QStringLiteral("Stations and probe"));
    auto* probeGrid = new QGridLayout(probeGroup);
    firstStationBox = spin(1, 247, 1);
    lastStationBox = spin(1, 247, 247);
    auto* stations = new QHBoxLayout;
    stations->addWidget(firstStationBox);
    stations->addWidget(new QLabel(QStringLiteral("to")));
    stations->addWidget(lastStationBox);
    stations->addStretch(1);
    probeGrid->addWidget(new QLabel(QStringLiteral("Stations")), 0, 0);
    probeGrid->addLayout(stations, 0, 1);
    probeBox = new QComboBox;
    for (const char* p : kProbes)
        probeBox->addItem(QString::fromLatin1(p));
    // Its longest item would hold the window wider than a small screen; the list shows it whole.
    probeBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    probeBox->setMinimumContentsLength(18);
    probeGrid->addWidget(new QLabel(QStringLiteral("Probe")), 1, 0);
    probeGrid->addWidget(probeBox, 1, 1);
    addressBox = spin(0, 65535, 0);
    addressBox->setToolTip(QStringLiteral("The register, coil or input the probe reads, 0-based"));
    probeGrid->addWidget(new QLabel(QStringLiteral("Address")), 2, 0);
    probeGrid->addWidget(addressBox, 2, 1);
    autoTimeoutButton = new QRadioButton(QStringLiteral("Timeout from the baud, plus"));
    autoTimeoutButton->setChecked(true);
    allowanceBox = spin(0, 1000, modbus::kDefaultAllowanceMs, QStringLiteral(" ms"));
    allowanceBox->setToolTip(QStringLiteral("Allowance for the adapter's latency (a USB adapter "
                                            "holds input for a few ms)"));
    fixedTimeoutButton = new QRadioButton(QStringLiteral("Fixed timeout"));
    fixedTimeoutBox = spin(1, 10000, 100, QStringLiteral(" ms"));
    // Each choice with its box on a row of its own: in the columns above, the long choice
    // would widen the probe's column and hold the window wider than a small screen.
    for (const auto& [button, box] :
         {std::pair<QRadioButton*, QSpinBox*>{autoTimeoutButton, allowanceBox},
          {fixedTimeoutButton, fixedTimeoutBox}}) {
        auto* choice = new QHBoxLayout;
        choice->addWidget(button);
        choice->addWidget(box);
        choice->addStretch(1);
        probeGrid->addLayout(choice, probeGrid->rowCount(), 0, 1, 2);
    }
    connect(probeBox, &QComboBox::currentIndexChanged, this, &FindWindow::refreshPlan);
    for (QSpinBox* s : {firstStationBox, lastStationBox, addressBox, allowanceBox, fixedTimeoutBox})
        connect(s, &QSpinBox::valueChanged, this, &FindWindow::refreshPlan);
    connect(autoTimeoutButton, &QRadioButton::toggled, this, &FindWindow::refreshPlan);
    return probeGroup;
}

QHBoxLayout* FindWindow::buildOptions() {
    auto* options = new QHBoxLayout;
    stopAtFirstBox = new QCheckBox(QStringLiteral("Stop at the first device found"));
    stopAtFirstBox->setChecked(true);
    listenBox = new QCheckBox(QStringLiteral("Listen only (send nothing) at each setting for"));
    listenBox->setToolTip(QStringLiteral("For a bus that already has a master on it: reports "
                                         "the settings at which valid frames pass"));
    listenSecondsBox = spin(1, 60, 3, QStringLiteral(" s"));
    options->addWidget(stopAtFirstBox);
    options->addSpacing(16);
    options->addWidget(listenBox);
    options->addWidget(listenSecondsBox);
    options->addStretch(1);
    connect(listenBox, &QCheckBox::toggled, this, &FindWindow::refreshPlan);
    connect(listenSecondsBox, &QSpinBox::valueChanged, this, &FindWindow::refreshPlan);
    return options;
}

// Start/Stop with the progress bar, and the progress line under them.
void FindWindow::buildRun(QVBoxLayout& top) {
    auto* run = new QHBoxLayout;
    startButton = new QPushButton(QStringLiteral("Start"));
    startButton->setObjectName(QStringLiteral("Cmd_FindStart"));
    progressBar = new QProgressBar;
    progressBar->setRange(0, 1);
    progressBar->setValue(0);
    run->addWidget(startButton);
    run->addWidget(progressBar, 1);
    top.addLayout(run);
    // Cut short rather than widen the window past the screen.
    progressLabel = new ElidedLabel;
    progressLabel->setText(
        QStringLiteral("Tick what to try and press Start; the search runs on the open port."));
    progressLabel->setObjectName(QStringLiteral("FindProgress"));
    top.addWidget(progressLabel);
    connect(startButton, &QPushButton::clicked, this, [this] {
        if (sweep_.running())
            sweep_.stop();
        else
            start();
    });
}

// The table of what answered and the buttons that act on its chosen row.
void FindWindow::buildResults(QVBoxLayout& top) {
    results = new QTableWidget(0, 5);
    results->setObjectName(QStringLiteral("FindResults"));
    results->setHorizontalHeaderLabels({"Baud", "Framing", "Station", "What answered", "Response"});
    results->verticalHeader()->setVisible(false);
    results->setSelectionBehavior(QAbstractItemView::SelectRows);
    results->setSelectionMode(QAbstractItemView::SingleSelection);
    results->horizontalHeader()->setSectionResizeMode(ColAnswer, QHeaderView::Stretch);
    top.addWidget(results, 1);
    connect(results, &QTableWidget::itemSelectionChanged, this, &FindWindow::refreshButtons);
    connect(results, &QTableWidget::cellDoubleClicked, this, [this] {
        if (useButton->isEnabled())
            useRow();
    });

    auto* rowButtons = new QHBoxLayout;
    useButton = new QPushButton(QStringLiteral("Use"));
    useButton->setObjectName(QStringLiteral("Cmd_FindUse"));
    useButton->setToolTip(QStringLiteral("The row's baud and line control into the main window, "
                                         "its station into the Modbus tool and the Poll window"));
    neighboursButton = new QPushButton(QStringLiteral("Sweep its neighbours first"));
    neighboursButton->setToolTip(QStringLiteral("Garbled bytes mean a device at another setting: "
                                                "try the settings next to this one next"));
    rowButtons->addWidget(useButton);
    rowButtons->addWidget(neighboursButton);
    rowButtons->addStretch(1);
    top.addLayout(rowButtons);
    connect(useButton, &QPushButton::clicked, this, &FindWindow::useRow);
    connect(neighboursButton, &QPushButton::clicked, this, [this] {
        const int row = results->currentRow();
        if (row >= 0 && sweep_.running())
            sweep_.sweepNeighboursFirst(answerAt(row).line);
    });
}

void FindWindow::showBeside(const QWidget* main) {
    showPlaced(*this, placed_, kGeometryKey, main, size());
}

void FindWindow::hideEvent(QHideEvent* event) {
    // A sweep nobody watches would hold the port: closing the window ends it.
    if (sweep_.running())
        sweep_.stop();
    rememberPlace(*this, placed_, kGeometryKey);
    QWidget::hideEvent(event);
}

void FindWindow::tickBaud(int baud) {
    const auto* at = std::find(std::begin(modbus::kFindBauds), std::end(modbus::kFindBauds), baud);
    if (at != std::end(modbus::kFindBauds))
        baudBoxes[std::size_t(at - std::begin(modbus::kFindBauds))]->setChecked(true);
}

std::vector<int> FindWindow::tickedBauds() const {
    std::vector<int> bauds;
    for (int i = 0; i < kBaudCount; ++i)
        if (baudBoxes[std::size_t(i)]->isChecked())
            bauds.push_back(modbus::kFindBauds[i]);
    return bauds;
}

std::vector<serial::LineSettings> FindWindow::tickedFramings() const {
    const auto all = modbus::framings(true);
    const std::size_t offered =
        sevenBitBox->isChecked() ? all.size() : modbus::framings(false).size();
    std::vector<serial::LineSettings> ticked;
    for (std::size_t i = 0; i < offered; ++i)
        if (framingBoxes[i]->isChecked())
            ticked.push_back(all[i]);
    return ticked;
}

engine::FindRequest FindWindow::request() const {
    engine::FindRequest r;
    r.bauds = tickedBauds();
    r.framings = tickedFramings();
    r.firstStation = firstStationBox->value();
    r.lastStation = lastStationBox->value();
    r.probe = FindProbe(probeBox->currentIndex());
    r.address = std::uint16_t(addressBox->value());
    r.autoTimeout = autoTimeoutButton->isChecked();
    r.allowanceMs = allowanceBox->value();
    r.fixedTimeoutMs = fixedTimeoutBox->value();
    r.stopAtFirst = stopAtFirstBox->isChecked();
    r.listen = listenBox->isChecked();
    r.listenMs = listenSecondsBox->value() * 1000;
    return sweep_.onThePort(r);
}

// The timeout each setting gets and what the whole sweep takes when nobody answers.
void FindWindow::refreshPlan() {
    const engine::FindRequest r = request();
    addressBox->setEnabled(r.probe <= FindProbe::ReadDiscrete);
    const auto order = engine::findOrder(r);
    if (order.empty()) {
        timeoutLabel->setText(QStringLiteral("Tick at least one baud rate and one framing."));
        return;
    }
    const int stations = static_cast<int>(engine::findStations(r).size());
    const QString fixed = engine::stationsOnly(r) ? QStringLiteral("The server fixes the line "
                                                                   "settings: only stations are "
                                                                   "tried. ")
                                                  : QString();
    // Where only stations are tried, the one setting goes unsaid.
    const QString settingsTimes =
        fixed.isEmpty() ? QStringLiteral("%1 settings × ").arg(order.size()) : QString();
    if (r.listen) {
        timeoutLabel->setText(QStringLiteral("Listening at %1 settings takes %2.")
                                  .arg(order.size())
                                  .arg(durationText(engine::findPlannedMs(r))));
        return;
    }
    std::vector<int> timeouts;
    QString timeoutText;
    try {
        for (const auto& line : order)
            timeouts.push_back(engine::findTimeoutMs(r, line));
        const auto [low, high] = std::minmax_element(timeouts.begin(), timeouts.end());
        timeoutText = *low == *high ? QStringLiteral("%1 ms").arg(*low)
                                    : QStringLiteral("%1 to %2 ms").arg(*low).arg(*high);
        if (r.autoTimeout)
            timeoutText =
                QStringLiteral("automatic %1 (the probe and the longest reply on the "
                               "line, 3.5 characters, %2 ms allowance)")
                    .arg(timeoutText)
                    .arg(r.allowanceMs) +
                (r.link == serial::LinkKind::Device ? QString()
                                                    : QStringLiteral(" and %1 ms for the network")
                                                          .arg(modbus::kNetworkAllowanceMs));
        timeoutText = QStringLiteral("%1Reply timeout %2; %3%4 stations: about %5 if nobody "
                                     "answers.")
                          .arg(fixed, timeoutText, settingsTimes)
                          .arg(stations)
                          .arg(durationText(engine::findPlannedMs(r)));
    } catch (const Failure&) {
        // A probe whose reply length varies: the sweep works its timeout out itself.
        timeoutText = QStringLiteral("%1Reply timeout from the baud and the longest reply; %2%3 "
                                     "stations.")
                          .arg(fixed, settingsTimes)
                          .arg(stations);
    }
    timeoutLabel->setText(timeoutText);
}

void FindWindow::refreshButtons() {
    const int row = results->currentRow();
    const bool running = sweep_.running();
    const FindAnswer* a =
        row >= 0 && row < int(answers_.size()) ? &answers_[std::size_t(row)] : nullptr;
    useButton->setEnabled(!running && a &&
                          (a->kind == FindAnswer::Kind::Reply ||
                           a->kind == FindAnswer::Kind::Exception ||
                           a->kind == FindAnswer::Kind::Heard));
    neighboursButton->setEnabled(running && a && a->kind == FindAnswer::Kind::Garbled);
    startButton->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    for (QWidget* w : std::initializer_list<QWidget*>{probeBox->parentWidget(), stopAtFirstBox,
                                                      listenBox, listenSecondsBox})
        w->setEnabled(!running);
    const bool settings = !engine::stationsOnly(request());
    for (QWidget* w : {baudBoxes[0]->parentWidget(), framingBoxes[0]->parentWidget()})
        w->setEnabled(!running && settings);
}

bool FindWindow::start() {
    // The sweep checks the port, the ticked settings and the stations, and says what is wrong.
    if (!showFailure(this, sweep_.start(request())))
        return false;
    // Its first answer comes from the event loop, after these are cleared.
    results->setRowCount(0);
    answers_.clear();
    found_ = 0;
    progressBar->setRange(0, 1);
    progressBar->setValue(0);
    progressBar->resetFormat();
    progressLabel->setText(
        QStringLiteral("Starting: about %1").arg(durationText(sweep_.plannedMs())));
    refreshButtons();
    return true;
}

void FindWindow::onProgress(const engine::FindProgress& p) {
    progressBar->setRange(0, std::max(p.total, 1));
    progressBar->setValue(p.done);
    const QString setting = q(modbus::settingName(p.line));
    const QString at = p.station > 0 ? QStringLiteral("%1, station %2").arg(setting).arg(p.station)
                                     : QStringLiteral("listening at %1").arg(setting);
    progressLabel->setText(QStringLiteral("%1 (%2 of %3), about %4 left")
                               .arg(at)
                               .arg(p.done + 1)
                               .arg(p.total)
                               .arg(durationText(p.msLeft)));
    refreshButtons();
}

void FindWindow::onAnswer(const engine::FindAnswer& a) {
    answers_.push_back(a);
    const int row = results->rowCount();
    results->insertRow(row);
    const QString framing = q(modbus::framingName(a.line));
    results->setItem(row, ColBaud, readOnlyItem(QString::number(a.line.baud)));
    results->setItem(row, ColFraming, readOnlyItem(framing));
    results->setItem(row, ColStation,
                     readOnlyItem(a.station > 0 ? QString::number(a.station) : QString()));
    results->setItem(row, ColAnswer, readOnlyItem(a.text));
    results->setItem(row, ColTime,
                     readOnlyItem(a.responseUs >= 0 ? QStringLiteral("%1 ms").arg(
                                                          double(a.responseUs) / 1000, 0, 'f', 1)
                                                    : QString()));
    QColor shade;
    switch (a.kind) {
    case FindAnswer::Kind::Reply:
    case FindAnswer::Kind::Exception:
    case FindAnswer::Kind::Heard:
        ++found_;
        shade = QColor(210, 245, 210);
        break;
    case FindAnswer::Kind::Garbled:
        shade = QColor(255, 236, 190); // a hint: someone is there at another setting
        break;
    case FindAnswer::Kind::Refused:
        shade = QColor(228, 228, 228);
        break;
    }
    for (int c = 0; c <= ColTime; ++c)
        results->item(row, c)->setBackground(shade);
    // The first find is the one most wanted: chosen, so "Use" takes it.
    if (found_ == 1 && a.kind != FindAnswer::Kind::Garbled && a.kind != FindAnswer::Kind::Refused)
        results->selectRow(row);
    else if (results->currentRow() < 0 && a.kind == FindAnswer::Kind::Garbled)
        results->selectRow(row);
    refreshButtons();
}

void FindWindow::onFinished(bool stopped) {
    const QString outcome = found_ == 0   ? QStringLiteral("no device answered")
                            : found_ == 1 ? QStringLiteral("1 device found")
                                          : QStringLiteral("%1 devices found").arg(found_);
    const QString back = QStringLiteral("; the port's own settings are back.");
    if (!stopped) {
        progressBar->setRange(0, 1);
        progressBar->setValue(1);
        progressLabel->setText(QStringLiteral("Done: ") + outcome + back);
        refreshButtons();
        return;
    }
    // The bar stays where the sweep stopped, so that it shows how far it got.
    progressBar->setRange(0, std::max(sweep_.total(), 1));
    progressBar->setValue(sweep_.done());
    progressBar->setFormat(QStringLiteral("%p% stopped"));
    progressLabel->setText(
        QStringLiteral("Stopped after %1 of %2 %3: ")
            .arg(sweep_.done())
            .arg(sweep_.total())
            .arg(request().listen ? QStringLiteral("settings") : QStringLiteral("probes")) +
        outcome + back);
    refreshButtons();
}

void FindWindow::useRow() {
    const int row = results->currentRow();
    if (row < 0 || row >= int(answers_.size()))
        return;
    emit use(answers_[std::size_t(row)].line, answers_[std::size_t(row)].station);
}

} // namespace varnok
