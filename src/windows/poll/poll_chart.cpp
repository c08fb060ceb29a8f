#include "windows/poll/poll_chart.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>
#include <cmath>

#include "engine/poll/poll_model.h"

namespace varnok {

namespace {
constexpr std::size_t kMaxRuns = 64; // series per plotted row; older gaps close beyond this
}

PollChart::PollChart(const engine::PollModel& model)
    : model_(model), chart_(new QChart), timeAxis_(new QDateTimeAxis), valueAxis_(new QValueAxis),
      view_(new QChartView(chart_)) {
    timeAxis_->setFormat(QStringLiteral("HH:mm:ss"));
    valueAxis_->setLabelFormat(QStringLiteral("%g"));
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    chart_->legend()->setAlignment(Qt::AlignRight);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumHeight(160);
}

std::vector<QLineSeries*>& PollChart::seriesFor(const modbus::RowKey& key, std::size_t runs) {
    std::vector<QLineSeries*>& series = series_[key];
    while (series.size() < std::max<std::size_t>(runs, 1)) {
        auto* s = new QLineSeries;
        chart_->addSeries(s);
        s->attachAxis(timeAxis_);
        s->attachAxis(valueAxis_);
        if (!series.empty()) {
            // One colour and one legend entry for all runs of a row.
            s->setPen(series.front()->pen());
            for (QLegendMarker* m : chart_->legend()->markers(s))
                m->setVisible(false);
        }
        series.push_back(s);
    }
    return series;
}

void PollChart::update(qint64 fromMs, qint64 nowMs, bool draw) {
    for (auto it = series_.begin(); it != series_.end();) {
        const auto d = model_.rowDefs().find(it->first);
        if (d != model_.rowDefs().end() && d->second.plot && model_.rowOf(it->first) >= 0) {
            ++it;
            continue;
        }
        for (QLineSeries* s : it->second) {
            chart_->removeSeries(s);
            delete s;
        }
        it = series_.erase(it);
    }
    if (!draw)
        return;
    double lo = INFINITY, hi = -INFINITY;
    for (const auto& [key, d] : model_.rowDefs()) {
        const int row = d.plot ? model_.rowOf(key) : -1;
        if (row < 0)
            continue;
        const modbus::Trace* trace = model_.trace(key);
        const auto runs = trace ? trace->runs(fromMs, kMaxRuns) : decltype(trace->runs(0)){};
        std::vector<QLineSeries*>& series = seriesFor(key, runs.size());
        series.front()->setName(model_.rowLabel(row));
        for (std::size_t i = 0; i < series.size(); ++i) {
            QList<QPointF> points;
            if (i < runs.size())
                for (const auto& [ms, value] : runs[i]) {
                    points.append(QPointF(double(ms), value));
                    lo = std::min(lo, value);
                    hi = std::max(hi, value);
                }
            series[i]->replace(points);
        }
    }
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(fromMs),
                        QDateTime::fromMSecsSinceEpoch(nowMs));
    if (std::isfinite(lo)) {
        // About one label per 40 pixels of plot: crowded labels would show as "...".
        const int steps = std::clamp(int(chart_->plotArea().height()) / 40, 1, 5);
        const modbus::Scale scale = modbus::roundScale(lo, hi, steps);
        valueAxis_->setRange(scale.lo, scale.hi);
        valueAxis_->setTickCount(scale.ticks + 1);
    }
}

qsizetype PollChart::points(const modbus::RowKey& key) const {
    const auto it = series_.find(key);
    qsizetype n = 0;
    if (it != series_.end())
        for (const QLineSeries* s : it->second)
            n += s->count();
    return n;
}

} // namespace varnok
