#include "logic/monitor/station_stats.h"

#include <algorithm>
#include <cstdio>

namespace varnok::monitor {

namespace {

// The upper ends of the buckets but the last, in µs.
constexpr std::array<std::int64_t, ResponseHistogram::kBuckets - 1> kBucketEndsUs = {
    500, 1000, 2000, 5000, 10000, 20000, 50000, 100000, 200000, 500000, 1000000};

constexpr std::array<std::string_view, ResponseHistogram::kBuckets> kLabels = {
    "<0.5 ms",  "0.5–1 ms",  "1–2 ms",     "2–5 ms",     "5–10 ms",     "10–20 ms",
    "20–50 ms", "50–100 ms", "100–200 ms", "200–500 ms", "500–1000 ms", "≥1000 ms"};

std::string msText(double us) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", us / 1000.0);
    return buf;
}

} // namespace

void ResponseTimes::add(std::int64_t us) {
    min_ = count_ ? std::min(min_, us) : us;
    max_ = count_ ? std::max(max_, us) : us;
    ++count_;
    sum_ += us;
    if (recent_.size() < window_)
        recent_.push_back(us);
    else
        recent_[next_] = us;
    next_ = (next_ + 1) % window_;
}

std::int64_t ResponseTimes::p99Us() const {
    if (recent_.empty())
        return 0;
    // Nearest rank: the smallest time that at least 99 % of the window do not exceed.
    std::vector<std::int64_t> sorted = recent_;
    const std::size_t rank = (sorted.size() * 99 + 99) / 100;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                     sorted.end());
    return sorted[rank - 1];
}

std::size_t ResponseHistogram::bucketOf(std::int64_t us) {
    return std::size_t(std::upper_bound(kBucketEndsUs.begin(), kBucketEndsUs.end(), us) -
                       kBucketEndsUs.begin());
}

std::string_view ResponseHistogram::label(std::size_t bucket) {
    return kLabels[std::min(bucket, kBuckets - 1)];
}

std::string functionsText(const std::bitset<256>& functions) {
    std::string s;
    for (std::size_t f = 0; f < functions.size(); ++f)
        if (functions[f])
            s += (s.empty() ? "" : ", ") + std::to_string(f);
    return s;
}

void StationStats::reply(int station, std::int64_t responseUs) {
    StationRow& r = row(station);
    ++r.replies;
    r.times.add(responseUs);
    r.histogram.add(responseUs);
    all_.add(responseUs);
}

const StationRow* StationStats::find(int station) const {
    const int at = index_[std::size_t(station) & 0xFF];
    return at < 0 ? nullptr : &rows_[std::size_t(at)];
}

StationRow& StationStats::row(int station) {
    const std::size_t s = std::size_t(station) & 0xFF;
    if (index_[s] < 0) {
        // A new station: rows stay ascending, so the ones after it move up by one.
        const auto at = std::lower_bound(rows_.begin(), rows_.end(), int(s),
                                         [](const StationRow& r, int v) { return r.station < v; });
        StationRow fresh;
        fresh.station = int(s);
        rows_.insert(at, std::move(fresh));
        for (std::size_t i = 0; i < rows_.size(); ++i)
            index_[std::size_t(rows_[i].station)] = int(i);
    }
    return rows_[std::size_t(index_[s])];
}

std::string stationsText(const StationStats& stats) {
    std::string text = "station\tfunctions\trequests\treplies\ttimeouts\texceptions\tCRC "
                       "errors\tmin ms\tmean ms\tp99 ms\tmax ms\n";
    for (const StationRow& r : stats.rows()) {
        text += std::to_string(r.station) + '\t' + functionsText(r.functions);
        for (const std::uint64_t n : {r.requests, r.replies, r.timeouts, r.exceptions, r.crcErrors})
            text += '\t' + std::to_string(n);
        if (r.times.count())
            text += '\t' + msText(double(r.times.minUs())) + '\t' + msText(r.times.meanUs()) +
                    '\t' + msText(double(r.times.p99Us())) + '\t' + msText(double(r.times.maxUs()));
        else
            text += "\t\t\t\t";
        text += '\n';
    }
    return text;
}

std::string histogramText(const ResponseHistogram& histogram) {
    std::string text;
    for (std::size_t b = 0; b < ResponseHistogram::kBuckets; ++b)
        text.append(ResponseHistogram::label(b)) +=
            '\t' + std::to_string(histogram.count(b)) + '\n';
    return text;
}

} // namespace varnok::monitor
