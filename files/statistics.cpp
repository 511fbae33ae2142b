#include "statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace qnf {

double exceeded_percent(std::span<const double> values, double percent) {
    std::vector<double> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    return exceeded_percent_of_sorted(sorted, percent);
}

double exceeded_percent_of_sorted(std::span<const double> sorted, double percent) {
    if (sorted.empty()) return 0.0;
    const double frames = static_cast<double>(sorted.size());
    // (100 - p) * F is exact for whole percents, so the rank is exact too.
    const double rank = std::ceil((100.0 - percent) * frames / 100.0);
    const std::size_t index = !(rank > 1.0)     ? 0
                              : rank >= frames ? sorted.size() - 1
                                               : static_cast<std::size_t>(rank) - 1;
    return sorted[index];
}

frame_statistics::frame_statistics(std::span<const double> percents, bool silent_floor, double skip, double first,
                                   double step)
    : percents_(percents.begin(), percents.end()), floor_(silent_floor), skip_(skip), first_(first), step_(step) {}

frame_statistics::frame_statistics(const metric &m, const statistics_settings &settings, uint64_t expected_frames)
    : frame_statistics(settings.percentiles_of(m), m.statistics.silent_floor, settings.skip_s, m.first_time,
                       static_cast<double>(m.hop) / QN_SAMPLE_RATE) {
    if (percents_.empty() || expected_frames == 0) return;
    try {
        kept_.reserve(static_cast<std::size_t>(expected_frames));
    } catch (const std::bad_alloc &) {
        // grows as the frames come, as far as memory goes
    }
}

void frame_statistics::add(double value, double loudness) {
    // The frame's time as its series' time axis gives it.
    const double time = first_ + static_cast<double>(frame_++) * step_;
    if (time < skip_) return;
    if (floor_ && is_silent_frame(loudness)) value = 0.0;
    sum_ += value;
    if (counted_ == 0 || value > max_) max_ = value;
    if (counted_ == 0 || value < min_) min_ = value;
    ++counted_;
    if (!percents_.empty()) kept_.push_back(value);
}

frame_summary frame_statistics::finish() {
    frame_summary s;
    s.present = true;
    if (counted_ > 0) {
        s.mean = sum_ / static_cast<double>(counted_);
        s.max = max_;
        s.min = min_;
    }
    std::vector<double> sorted = std::move(kept_);
    kept_ = {};
    std::sort(sorted.begin(), sorted.end());
    for (double p : percents_) s.percentiles.push_back(exceeded_percent_of_sorted(sorted, p));
    return s;
}

frame_summary summarise_frames(std::span<const double> values, std::span<const double> loudness,
                               std::span<const double> percents) {
    frame_statistics stats(percents, !loudness.empty());
    for (std::size_t f = 0; f < values.size(); ++f) stats.add(values[f], loudness.empty() ? 1.0 : loudness[f]);
    return stats.finish();
}

namespace {

std::string seconds_text(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", s);
    return text;
}

}  // namespace

bool finish_statistics(frame_statistics &stats, const statistics_settings &settings, metric_result &out) {
    if (stats.counted() == 0) {
        out.statistics_error = "no frame from --skip " + seconds_text(settings.skip_s) + " on";
        return false;
    }
    out.statistics = stats.finish();
    return true;
}

std::vector<single_value> quoted_values(const metric &m, const statistics_settings &settings,
                                        const metric_result &result) {
    std::vector<single_value> out;
    std::size_t percentile = 0;
    const frame_summary &s = result.statistics;
    std::size_t last = SIZE_MAX;  // the index in `out` of the value a loudness level follows
    for (const quantity_name &q : quoted_names(m, settings.percentiles_of(m))) {
        double value = 0;
        if (q.level) {
            // A loudness the analysis gave is finite and not negative, so
            // its level always exists.
            if (last < out.size() && out[last].name + "_level" == q.name &&
                qn_loudness_level(out[last].value, &value) == QN_STATUS_SUCCESS)
                out.push_back({q.name, value, q.unit});
            continue;
        }
        last = SIZE_MAX;
        switch (q.kind) {
        case statistic::own: {
            const auto own = std::find_if(result.values.begin(), result.values.end(),
                                          [&](const single_value &v) { return v.name == q.name; });
            if (own == result.values.end()) continue;
            value = own->value;
            break;
        }
        case statistic::mean: value = s.mean; break;
        case statistic::max: value = s.max; break;
        case statistic::min: value = s.min; break;
        case statistic::percentiles: value = s.percentiles.at(percentile++); break;
        }
        if (q.kind != statistic::own && !s.present) continue;
        out.push_back({q.name, value, q.unit});
        last = out.size() - 1;
    }
    return out;
}

qn_status ecma_roughness_value(std::span<const double> total, double &value) {
    return qn_ecma_single_value(QN_ECMA_ROUGHNESS, total.data(), total.size(), &value);
}

tonality_summary summarise_tonality(std::span<const double> tonality, double hop_seconds) {
    tonality_summary s;
    double sum = 0;
    std::size_t counted = 0;
    bool found = false;
    for (std::size_t l = 0; l < tonality.size(); ++l) {
        if (static_cast<double>(l) * hop_seconds < 0.3) continue;
        if (!found || tonality[l] > s.max) {
            s.max = tonality[l];
            s.frame = l;
            found = true;
        }
        if (tonality[l] > 0.02) {
            sum += tonality[l];
            ++counted;
        }
    }
    s.value = counted > 0 ? sum / static_cast<double>(counted) : 0.0;
    return s;
}

}  // namespace qnf
