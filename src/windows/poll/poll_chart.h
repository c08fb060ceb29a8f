#pragma once
// The poll chart: a line per plotted row, drawn from the model's samples of the values read.
// A row's line is one series per unbroken run, with one colour and one legend entry.
#include <QtGlobal>
#include <map>
#include <vector>

#include "logic/modbus/poll_rows.h"

class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace varnok {

namespace engine {
class PollModel;
}

class PollChart {
  public:
    explicit PollChart(const engine::PollModel& model);
    // Made here; the window's layout takes it.
    QChartView* view() const { return view_; }
    // Rows no longer plotted or shown leave the chart; with `draw` the others show their
    // samples from `fromMs` to `nowMs`.
    void update(qint64 fromMs, qint64 nowMs, bool draw);
    qsizetype points(const modbus::RowKey& key) const;

  private:
    std::vector<QLineSeries*>& seriesFor(const modbus::RowKey& key, std::size_t runs);

    const engine::PollModel& model_;
    QChart* chart_;
    QDateTimeAxis* timeAxis_;
    QValueAxis* valueAxis_;
    QChartView* view_;
    std::map<modbus::RowKey, std::vector<QLineSeries*>> series_;
};

} // namespace varnok
