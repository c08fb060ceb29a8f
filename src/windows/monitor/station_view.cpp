#include "windows/monitor/station_view.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QFontMetrics>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <cmath>

#include "engine/monitor/traffic_recorder.h"
#include "logic/monitor/station_stats.h"

namespace varnok {

namespace {

const QStringList kColumns = {
    QStringLiteral("Station"),    QStringLiteral("Functions"), QStringLiteral("Requests"),
    QStringLiteral("Replies"),    QStringLiteral("Timeouts"),  QStringLiteral("Exceptions"),
    QStringLiteral("CRC errors"), QStringLiteral("Min ms"),    QStringLiteral("Mean ms"),
    QStringLiteral("p99 ms"),     QStringLiteral("Max ms")};

QString ms(double us) {
    return QString::number(us / 1000.0, 'f', 2);
}

} // namespace

StationView::StationView(const TrafficRecorder& recorder, QWidget* parent)
    : QWidget(parent), recorder_(recorder), chart_(new QChart), bars_(new QBarSet(QString())),
      buckets_(new QBarCategoryAxis), countAxis_(new QValueAxis) {
    setObjectName(QStringLiteral("stationView"));
    table = new QTableWidget(0, static_cast<int>(kColumns.size()), this);
    table->setObjectName(QStringLiteral("stationTable"));
    table->setHorizontalHeaderLabels(kColumns);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    copyButton = new QPushButton(QStringLiteral("Copy table"), this);
    copyButton->setObjectName(QStringLiteral("copyStationsButton"));
    copyButton->setToolTip(QStringLiteral("Copy the stations as tab-separated text"));

    auto* series = new QBarSeries;
    series->append(bars_);
    chart_->addSeries(series);
    chart_->addAxis(buckets_, Qt::AlignBottom);
    chart_->addAxis(countAxis_, Qt::AlignLeft);
    series->attachAxis(buckets_);
    series->attachAxis(countAxis_);
    countAxis_->setLabelFormat(QStringLiteral("%d"));
    // Ticks on whole counts only: ticks between them would repeat a rounded label.
    countAxis_->setTickType(QValueAxis::TicksDynamic);
    countAxis_->setTickAnchor(0);
    // Twelve ranges side by side leave each a narrow column: upright they would be elided.
    buckets_->setLabelsAngle(-90);
    chart_->legend()->hide();
    // The ranges' upright captions need the height the chart's frame would take.
    chart_->setMargins(QMargins(4, 0, 4, 0));
    chart_->layout()->setContentsMargins(0, 0, 0, 0);
    auto* view = new QChartView(chart_, this);
    view->setObjectName(QStringLiteral("histogramView"));
    view->setRenderHint(QPainter::Antialiasing);
    // Room for each range's caption upright beside the next (the axis gives each a column of
    // its width over one more than the ranges, less padding), and for the counts' axis.
    const int column = QFontMetrics(buckets_->labelsFont()).height() + 12;
    view->setMinimumSize(int(monitor::ResponseHistogram::kBuckets + 1) * column + 80, 200);
    chartView_ = view;

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(table);
    split->addWidget(view);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(QStringLiteral("Stations on the bus"), this), 1);
    buttons->addWidget(copyButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(split, 1);

    connect(copyButton, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(tableText()); });
    connect(table, &QTableWidget::itemSelectionChanged, this, &StationView::fillHistogram);
}

void StationView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    seen_.fill(~std::uint64_t{0}); // shown again: fill whatever the counts say
    refresh();
}

void StationView::refresh() {
    if (!isVisible())
        return;
    // Statistics are told after every batch of frames; a flood of frames that are not Modbus
    // changes nothing here and must cost nothing.
    const monitor::TrafficCounts c = recorder_.counts();
    const std::array<std::uint64_t, 5> seen = {c.requests, c.replies, c.unpaired, c.timeouts,
                                               c.crcErrors};
    if (seen == seen_)
        return;
    seen_ = seen;
    fillTable();
    fillHistogram();
}

int StationView::shownStation() const {
    const QList<QTableWidgetItem*> picked = table->selectedItems();
    return picked.isEmpty() ? -1 : table->item(picked.front()->row(), 0)->text().toInt();
}

QString StationView::tableText() const {
    return QString::fromStdString(monitor::stationsText(recorder_.session().stations()));
}

void StationView::fillTable() {
    const int keep = shownStation();
    const std::vector<monitor::StationRow>& stations = recorder_.session().stations().rows();
    const QSignalBlocker block(table);
    table->setRowCount(static_cast<int>(stations.size()));
    int row = 0;
    for (const monitor::StationRow& s : stations) {
        const bool timed = s.times.count() > 0;
        const QString cells[] = {QString::number(s.station),
                                 QString::fromStdString(monitor::functionsText(s.functions)),
                                 QString::number(s.requests),
                                 QString::number(s.replies),
                                 QString::number(s.timeouts),
                                 QString::number(s.exceptions),
                                 QString::number(s.crcErrors),
                                 timed ? ms(double(s.times.minUs())) : QString(),
                                 timed ? ms(s.times.meanUs()) : QString(),
                                 timed ? ms(double(s.times.p99Us())) : QString(),
                                 timed ? ms(double(s.times.maxUs())) : QString()};
        for (int c = 0; c < static_cast<int>(std::size(cells)); ++c) {
            QTableWidgetItem* item = table->item(row, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(c == 1 ? Qt::AlignLeft | Qt::AlignVCenter
                                              : Qt::AlignRight | Qt::AlignVCenter);
                table->setItem(row, c, item);
            }
            item->setText(cells[c]);
        }
        if (s.station == keep)
            table->selectRow(row);
        ++row;
    }
}

void StationView::fillHistogram() {
    const int station = shownStation();
    const monitor::StationStats& stats = recorder_.session().stations();
    const monitor::StationRow* one = station < 0 ? nullptr : stats.find(station);
    const monitor::ResponseHistogram& h = one ? one->histogram : stats.histogram();
    QStringList labels;
    QList<qreal> counts;
    qreal top = 1;
    for (std::size_t i = 0; i < monitor::ResponseHistogram::kBuckets; ++i) {
        const std::string_view label = monitor::ResponseHistogram::label(i);
        // The title names the unit once; the axis takes its captions as HTML ("<0.5" would
        // vanish as a tag).
        labels << QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size()))
                      .remove(QStringLiteral(" ms"))
                      .toHtmlEscaped();
        counts << qreal(h.count(i));
        top = std::max(top, qreal(h.count(i)));
    }
    if (buckets_->categories() != labels) {
        buckets_->clear();
        buckets_->append(labels);
    }
    bars_->remove(0, bars_->count());
    bars_->append(counts);
    // A step of 1, 2 or 5 times a power of ten giving at most five steps.
    qreal step = 1;
    for (qreal scale = 1; top / step > 5; scale *= 10)
        for (const qreal m : {1, 2, 5})
            if (top / step > 5)
                step = m * scale;
    countAxis_->setTickInterval(step);
    countAxis_->setRange(0, step * std::ceil(top / step));
    chart_->setTitle(station < 0 ? QStringLiteral("Response times, all stations (ms)")
                                 : QStringLiteral("Response times, station %1 (ms)").arg(station));
}

} // namespace varnok
