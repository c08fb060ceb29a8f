#pragma once
// Response times and what each station on the bus asked and answered, for the Monitor's
// statistics table and histogram.
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnok::monitor {

// Response times in µs: minimum, mean and maximum of every one since the reset, the 99th
// percentile (nearest rank) of the last `window` of them.
class ResponseTimes {
  public:
    static constexpr std::size_t kWindow = 100000;

    ResponseTimes() = default;
    explicit ResponseTimes(std::size_t window) : window_(window) {}

    void add(std::int64_t us);
    std::uint64_t count() const { return count_; }
    std::int64_t minUs() const { return min_; }
    std::int64_t maxUs() const { return max_; }
    double meanUs() const { return count_ ? double(sum_) / double(count_) : 0; }
    std::int64_t p99Us() const;
    std::size_t window() const { return window_; }
    void reset() { *this = ResponseTimes(window_); }

  private:
    std::size_t window_ = kWindow;
    std::uint64_t count_ = 0;
    std::int64_t min_ = 0;
    std::int64_t max_ = 0;
    std::int64_t sum_ = 0;
    std::vector<std::int64_t> recent_; // ring of the last window_ times
    std::size_t next_ = 0;
};

// Response times counted in fixed buckets of roughly doubling width: <0.5 ms, 0.5–1, 1–2,
// 2–5, 5–10, ... 500–1000, ≥1000 ms.
class ResponseHistogram {
  public:
    static constexpr std::size_t kBuckets = 12;

    static std::size_t bucketOf(std::int64_t us);
    // "<0.5 ms", "0.5–1 ms", "≥1000 ms" (UTF-8).
    static std::string_view label(std::size_t bucket);

    void add(std::int64_t us) { ++counts_[bucketOf(us)]; }
    std::uint64_t count(std::size_t bucket) const { return counts_[bucket]; }
    const std::array<std::uint64_t, kBuckets>& counts() const { return counts_; }

  private:
    std::array<std::uint64_t, kBuckets> counts_{};
};

// One station's traffic. Requests, replies, timeouts and CRC errors are counted for the
// station the request names; functions and exceptions for the station a good frame names.
struct StationRow {
    static constexpr std::size_t kWindow = 4096; // the percentile's window per station

    int station = 0;
    std::bitset<256> functions;
    std::uint64_t requests = 0;
    std::uint64_t replies = 0;
    std::uint64_t timeouts = 0;
    std::uint64_t exceptions = 0;
    std::uint64_t crcErrors = 0;
    ResponseTimes times{kWindow};
    ResponseHistogram histogram;
};

// "3, 6, 16": the function codes seen, ascending.
std::string functionsText(const std::bitset<256>& functions);

class StationStats {
  public:
    StationStats() { index_.fill(-1); }

    // A frame of this station and function passed with a good CRC; a piece (-1) tells none.
    void seen(int station, int function) {
        if (station >= 0 && function >= 0)
            row(station).functions.set(std::size_t(function) & 0xFF);
    }
    void request(int station) { ++row(station).requests; }
    // A request whose end goes unseen (decoding turned off) leaves the count.
    void withdraw(int station) { --row(station).requests; }
    void reply(int station, std::int64_t responseUs);
    void timeout(int station) { ++row(station).timeouts; }
    void crcError(int station) { ++row(station).crcErrors; }
    void exception(int station) { ++row(station).exceptions; }

    // Ascending by station.
    const std::vector<StationRow>& rows() const { return rows_; }
    const StationRow* find(int station) const;
    // Every station's response times together.
    const ResponseHistogram& histogram() const { return all_; }
    void reset() { *this = StationStats(); }

  private:
    StationRow& row(int station);

    std::vector<StationRow> rows_;
    std::array<int, 256> index_{}; // row of each station, -1 for none yet
    ResponseHistogram all_;
};

// The table as tab-separated text for a spreadsheet: a header line, then one line per
// station; response times in ms, empty without replies.
std::string stationsText(const StationStats& stats);

// "<0.5 ms\t3" per bucket, one line each.
std::string histogramText(const ResponseHistogram& histogram);

} // namespace varnok::monitor
