#pragma once
// The monitor's view of the bus by station: a table of what each station was asked and how it
// answered, and a histogram of response times for the selected station or for all of them.
// It only shows the recorder's statistics; Reset clears them there.
#include <QWidget>
#include <array>
#include <cstdint>

class QChart;
class QBarCategoryAxis;
class QBarSet;
class QPushButton;
class QTableWidget;
class QValueAxis;

namespace varnok {

class TrafficRecorder;

class StationView : public QWidget {
    Q_OBJECT
  public:
    explicit StationView(const TrafficRecorder& recorder, QWidget* parent = nullptr);

    // Brings the table and the histogram up to date (cheap while hidden: nothing is done).
    void refresh();
    // The table as tab-separated text with its header, as "Copy table" puts it.
    QString tableText() const;
    // The station the histogram shows; -1 for all.
    int shownStation() const;

    QTableWidget* table;
    QPushButton* copyButton;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void fillTable();
    void fillHistogram();

    const TrafficRecorder& recorder_;
    QChart* chart_;
    QBarSet* bars_;
    QBarCategoryAxis* buckets_;
    QValueAxis* countAxis_;
    QWidget* chartView_;
    std::array<std::uint64_t, 5> seen_{}; // the counts at the last refresh
};

} // namespace varnok
