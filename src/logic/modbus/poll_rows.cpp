#include "logic/modbus/poll_rows.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "logic/modbus/poll_request.h"
#include "logic/modbus/register_map.h"
#include "logic/modbus/value_format.h"

namespace varnok::modbus {

std::string tableTag(int function) {
    switch (function) {
    case code(Function::ReadCoils):
        return "CO";
    case code(Function::ReadDiscreteInputs):
        return "DI";
    case code(Function::ReadInputRegisters):
        return "IR";
    default:
        return "HR";
    }
}

std::string rowLabel(const RowKey& key, const std::string& name, bool oneBased) {
    std::string label =
        "st" + std::to_string(key.station) + " " + tableTag(key.function) + " " +
        (oneBased ? conventionalAddress(key.function, key.address) : std::to_string(key.address));
    if (!name.empty())
        label += " " + name;
    return label;
}

PollRequest writeRequest(const RowKey& key, const ValueFormat& format, std::string_view text,
                         bool always16) {
    PollRequest q{key.station, 0, key.address, 1, {}, {}};
    if (readsBits(key.function)) {
        const std::size_t from = text.find_first_not_of(" \t\r\n");
        std::string t(from == std::string_view::npos
                          ? std::string_view()
                          : text.substr(from, text.find_last_not_of(" \t\r\n") + 1 - from));
        for (char& c : t)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (t != "0" && t != "1" && t != "on" && t != "off")
            throw ValueFailure("\"" + std::string(text.substr(0, 40)) +
                               "\" is not a coil value (0, 1, on or off).");
        q.bits = {t == "1" || t == "on"};
        q.function = always16 ? 15 : 5;
        return q;
    }
    q.registers = parseValue(format, text);
    q.count = int(q.registers.size());
    q.function = q.registers.size() == 1 && !always16 ? 6 : 16;
    return q;
}

void ChangeClock::note(const RowKey& key, std::uint16_t value, std::int64_t wallMs) {
    const auto [it, fresh] = seen_.try_emplace(key, Seen{value, wallMs});
    if (!fresh && it->second.value != value)
        it->second = {value, wallMs};
}

std::int64_t ChangeClock::changedAt(const RowKey& key, int count) const {
    std::int64_t latest = 0;
    for (int k = 0; k < count; ++k) {
        const auto it = seen_.find({key.station, key.function, key.address + k});
        if (it != seen_.end())
            latest = std::max(latest, it->second.changedMs);
    }
    return latest;
}

void Trace::add(std::int64_t wallMs, double value) {
    if (!samples_.empty() && samples_.back().value && wallMs - samples_.back().wallMs < kMinGapMs)
        return;
    samples_.push_back({wallMs, value});
    if (samples_.size() > kMaxSamples)
        samples_.pop_front();
}

void Trace::addGap(std::int64_t wallMs) {
    // One gap ends a run; more failures in a row add nothing.
    if (!samples_.empty() && !samples_.back().value)
        return;
    samples_.push_back({wallMs, std::nullopt});
    if (samples_.size() > kMaxSamples)
        samples_.pop_front();
}

std::vector<std::vector<std::pair<std::int64_t, double>>> Trace::runs(std::int64_t fromMs,
                                                                      std::size_t maxRuns) const {
    std::vector<std::vector<std::pair<std::int64_t, double>>> out;
    bool open = false;
    for (const Sample& s : samples_) {
        if (!s.value) {
            open = false;
            continue;
        }
        if (s.wallMs < fromMs)
            continue;
        if (!open)
            out.emplace_back();
        open = true;
        out.back().emplace_back(s.wallMs, *s.value);
    }
    if (maxRuns > 0 && out.size() > maxRuns) {
        const std::size_t merged = out.size() - maxRuns + 1;
        for (std::size_t i = 1; i < merged; ++i)
            out[0].insert(out[0].end(), out[i].begin(), out[i].end());
        out.erase(out.begin() + 1, out.begin() + std::ptrdiff_t(merged));
    }
    return out;
}

Scale roundScale(double lo, double hi, int ticks) {
    ticks = std::max(ticks, 1);
    if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi)
        return {};
    if (hi == lo) {
        // A flat line sits in the middle of a range around it.
        const double pad = std::max(1.0, std::abs(hi) * 0.1);
        lo -= pad;
        hi += pad;
    }
    const double raw = (hi - lo) / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10 * power;
    for (const double m : {1.0, 2.0, 5.0})
        if (m * power >= raw * (1 - 1e-9)) {
            step = m * power;
            break;
        }
    // Round ends; more steps when the range straddles step boundaries.
    Scale s;
    s.lo = std::floor(lo / step + 1e-9) * step;
    s.hi = std::ceil(hi / step - 1e-9) * step;
    s.ticks = std::max(1, int(std::lround((s.hi - s.lo) / step)));
    return s;
}

} // namespace varnok::modbus
