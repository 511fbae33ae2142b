#include "metrics.h"

#include <algorithm>

#include "statistics.h"

namespace qcli {

namespace {

constexpr double frame_seconds_loudness = 96.0 / 48000.0;  // 2 ms
constexpr double frame_seconds_ecma = 256.0 / 48000.0;     // 5.33 ms

std::vector<double> bark_axis_values() {
    const double *z = qn_bark_axis();
    return std::vector<double>(z, z + QN_BARK_POINTS);
}

void add_pattern_values(const std::vector<double> &specific, metric_result &out) {
    const auto peak = std::max_element(specific.begin(), specific.end());
    out.values.push_back({"specific_peak", *peak, "sone/Bark"});
    out.values.push_back({"specific_peak_rate", qn_bark_axis()[peak - specific.begin()], "Bark"});
}

bool loudness_metric(channel_context &ctx, bool with_series, metric_result &out, std::string &error) {
    const auto *s = ctx.stationary_loudness(error);
    if (!s) return false;
    out.values.push_back({"loudness", s->loudness, "sone"});
    add_pattern_values(s->specific, out);
    if (with_series) out.series_list.push_back({"specific_loudness", "sone/Bark", {{"rate", "Bark", bark_axis_values()}}, s->specific});
    return true;
}

std::vector<double> frame_times(std::size_t frames, double first, double step) {
    std::vector<double> t(frames);
    for (std::size_t f = 0; f < frames; ++f) t[f] = first + static_cast<double>(f) * step;
    return t;
}

bool loudness_time_metric(channel_context &ctx, bool with_series, metric_result &out, std::string &error) {
    const auto *t = ctx.time_varying_loudness(error);
    if (!t) return false;
    const loudness_statistics stats = loudness_over_frames(t->loudness);
    out.values.push_back({"max", stats.max, "sone"});
    out.values.push_back({"n5", stats.n5, "sone"});
    out.values.push_back({"n10", stats.n10, "sone"});
    out.values.push_back({"mean", stats.mean, "sone"});
    if (with_series) {
        const auto times = frame_times(t->loudness.size(), 0.0, frame_seconds_loudness);
        out.series_list.push_back({"loudness", "sone", {{"time", "s", times}}, t->loudness});
        out.series_list.push_back(
            {"specific_loudness", "sone/Bark", {{"time", "s", times}, {"rate", "Bark", bark_axis_values()}}, t->specific});
    }
    return true;
}

bool sharpness_metric(channel_context &ctx, bool with_series, metric_result &out, std::string &error) {
    const auto *s = ctx.stationary_loudness(error);
    if (!s) return false;
    double value = 0;
    qn_status status = qn_sharpness_din(s->specific.data(), QN_BARK_POINTS, &value);
    if (status != QN_STATUS_SUCCESS) {
        error = status_message("sharpness", status);
        return false;
    }
    out.values.push_back({"sharpness", value, "acum"});
    const auto *t = ctx.time_varying_loudness(error);
    if (!t) return false;
    std::vector<double> per_frame(t->loudness.size());
    for (std::size_t f = 0; f < per_frame.size(); ++f) {
        status = qn_sharpness_din(&t->specific[f * QN_BARK_POINTS], QN_BARK_POINTS, &per_frame[f]);
        if (status != QN_STATUS_SUCCESS) {
            error = status_message("sharpness", status);
            return false;
        }
    }
    out.values.push_back({"mean_per_frame", sharpness_mean_over_frames(per_frame, t->loudness), "acum"});
    if (with_series)
        out.series_list.push_back(
            {"sharpness", "acum", {{"time", "s", frame_times(per_frame.size(), 0.0, frame_seconds_loudness)}}, per_frame});
    return true;
}

bool roughness_dw_metric(channel_context &ctx, bool with_series, metric_result &out, std::string &error) {
    uint64_t frames = 0;
    qn_status status = qn_roughness_frame_count(ctx.count(), QN_SAMPLE_RATE, &frames);
    if (status != QN_STATUS_SUCCESS) {
        error = status_message("roughness-dw", status);
        return false;
    }
    std::vector<double> r(frames);
    status = qn_roughness_dw(ctx.samples(), ctx.count(), QN_SAMPLE_RATE, r.data(), r.size(), &frames);
    if (status != QN_STATUS_SUCCESS) {
        error = status_message("roughness-dw", status);
        return false;
    }
    out.values.push_back({"mean", mean_of(r), "asper"});
    out.values.push_back({"max", max_of(r), "asper"});
    // Frames are 200 ms long and 100 ms apart; each value belongs to its
    // frame's centre.
    if (with_series) out.series_list.push_back({"roughness", "asper", {{"time", "s", frame_times(r.size(), 0.1, 0.1)}}, r});
    return true;
}

bool tonality_aures_metric(channel_context &ctx, bool with_series, metric_result &out, std::string &error) {
    uint64_t frames = 0;
    qn_status status = qn_tonality_frame_count(ctx.count(), QN_SAMPLE_RATE, &frames);
    if (status != QN_STATUS_SUCCESS) {
        error = status_message("tonality-aures", status);
        return false;
    }
    std::vector<double> t(frames);
    status = qn_tonality_aures(ctx.samples(), ctx.count(), QN_SAMPLE_RATE, ctx.field(), t.data(), t.size(), &frames);
    if (status != QN_STATUS_SUCCESS) {
        error = status_message("tonality-aures", status);
        if (status == QN_STATUS_NUMERICAL_FAILURE)
            error += " (a very loud low-frequency sound, above 120 dB in a third-octave band up to 250 Hz, is beyond "
                     "the loudness model)";
        return false;
    }
    out.values.push_back({"mean", mean_of(t), "t.u."});
    out.values.push_back({"max", *std::max_element(t.begin(), t.end()), "t.u."});
    // Frames are 250 ms long and 125 ms apart; each value belongs to its
    // frame's centre, (6000 k + 6000) / 48000 s.
    if (with_series)
        out.series_list.push_back({"tonality", "t.u.", {{"time", "s", frame_times(t.size(), 0.125, 0.125)}}, t});
    return true;
}

constexpr int ecma_bands = 53;

// Total roughness of each frame: 0.5 Bark times the sum of the specific
// roughness over the 53 bands.
std::vector<double> ecma_total_roughness(const std::vector<double> &specific) {
    std::vector<double> total(specific.size() / ecma_bands);
    for (std::size_t k = 0; k < total.size(); ++k) {
        double sum = 0;
        for (int b = 0; b < ecma_bands; ++b) sum += specific[k * ecma_bands + b];
        total[k] = 0.5 * sum;
    }
    return total;
}

bool roughness_ecma_metric(channel_context &ctx, bool with_series, metric_result &out, std::string &error) {
    uint64_t frames = 0;
    qn_status status = qn_ecma_roughness_frame_count(ctx.count(), QN_SAMPLE_RATE, &frames);
    if (status != QN_STATUS_SUCCESS) {
        error = status_message("roughness-ecma", status);
        return false;
    }
    std::vector<double> specific(frames * ecma_bands);
    status = qn_roughness_ecma(ctx.samples(), ctx.count(), QN_SAMPLE_RATE, ctx.field(), specific.data(),
                               specific.size(), &frames);
    if (status != QN_STATUS_SUCCESS) {
        error = status_message("roughness-ecma", status);
        return false;
    }
    const std::vector<double> total = ecma_total_roughness(specific);
    out.values.push_back({"roughness", ecma_roughness_value(total), "asper"});
    out.values.push_back({"mean", mean_of(total), "asper"});
    out.values.push_back({"max", *std::max_element(total.begin(), total.end()), "asper"});
    if (with_series) {
        const auto times = frame_times(total.size(), 0.0, 0.02);
        std::vector<double> rates(ecma_bands);
        for (int b = 0; b < ecma_bands; ++b) rates[b] = 0.5 * (b + 1);
        out.series_list.push_back({"roughness", "asper", {{"time", "s", times}}, total});
        out.series_list.push_back(
            {"specific_roughness", "asper/Bark", {{"time", "s", times}, {"rate", "Bark", rates}}, specific});
    }
    return true;
}

std::vector<double> ecma_band_rates() {
    std::vector<double> z(QN_ECMA_BANDS);
    for (int b = 0; b < QN_ECMA_BANDS; ++b) z[b] = 0.5 * (b + 1);
    return z;
}

bool tonality_ecma_metric(channel_context &ctx, bool with_series, metric_result &out, std::string &error) {
    uint64_t frames = 0;
    qn_status status = qn_ecma_tonal_frame_count(ctx.count(), QN_SAMPLE_RATE, &frames);
    if (status == QN_STATUS_SUCCESS) {
        std::vector<double> arrays(5 * QN_ECMA_BANDS * frames);
        status = qn_ecma_tonal_analysis(ctx.samples(), ctx.count(), QN_SAMPLE_RATE, ctx.field(), arrays.data(),
                                        arrays.size(), &frames);
        if (status == QN_STATUS_SUCCESS) {
            const std::size_t plane = QN_ECMA_BANDS * frames;
            const double *frequency = arrays.data() + 2 * plane;
            const double *specific = arrays.data() + 3 * plane;
            // T(l): the largest specific tonality of the frame, and the band
            // that has it (the lowest of equal ones).
            std::vector<double> tonality(frames), strongest_frequency(frames);
            std::vector<int> strongest_band(frames, 0);
            for (std::size_t l = 0; l < frames; ++l) {
                const double *row = specific + QN_ECMA_BANDS * l;
                const int b = static_cast<int>(std::max_element(row, row + QN_ECMA_BANDS) - row);
                tonality[l] = row[b];
                strongest_band[l] = b;
                strongest_frequency[l] = frequency[QN_ECMA_BANDS * l + b];
            }
            const tonality_summary summary = summarise_tonality(tonality, frame_seconds_ecma);
            const bool tonal = summary.max > 0;
            out.values.push_back({"tonality", summary.value, "tu_HMS"});
            out.values.push_back({"max", summary.max, "tu_HMS"});
            out.values.push_back(
                {"strongest_rate", tonal ? 0.5 * (strongest_band[summary.frame] + 1) : 0.0, "Bark"});
            out.values.push_back({"strongest_frequency", tonal ? strongest_frequency[summary.frame] : 0.0, "Hz"});
            if (with_series) {
                const auto times = frame_times(frames, 0.0, frame_seconds_ecma);
                out.series_list.push_back({"tonality", "tu_HMS", {{"time", "s", times}}, tonality});
                out.series_list.push_back({"tonal_frequency", "Hz", {{"time", "s", times}}, strongest_frequency});
                out.series_list.push_back({"specific_tonality",
                                           "tu_HMS/Bark",
                                           {{"time", "s", times}, {"rate", "Bark", ecma_band_rates()}},
                                           std::vector<double>(specific, specific + plane)});
            }
            return true;
        }
    }
    error = status_message("tonality-ecma", status);
    return false;
}

}  // namespace

const channel_context::stationary *channel_context::stationary_loudness(std::string &error) {
    if (!stationary_ && stationary_error_.empty()) {
        stationary s;
        const qn_status status =
            qn_loudness_stationary(samples_, count_, QN_SAMPLE_RATE, field_, &s.loudness, s.specific.data(), 240);
        if (status == QN_STATUS_SUCCESS) stationary_ = std::move(s);
        else stationary_error_ = stationary_status_message(status);
    }
    error = stationary_error_;
    return stationary_ ? &*stationary_ : nullptr;
}

const channel_context::time_varying *channel_context::time_varying_loudness(std::string &error) {
    if (!time_ && time_error_.empty()) {
        uint64_t frames = 0;
        qn_status status = qn_loudness_time_frame_count(count_, QN_SAMPLE_RATE, &frames);
        if (status == QN_STATUS_SUCCESS) {
            time_varying t{std::vector<double>(frames), std::vector<double>(frames * QN_BARK_POINTS)};
            status = qn_loudness_time(samples_, count_, QN_SAMPLE_RATE, field_, t.loudness.data(), t.loudness.size(),
                                      t.specific.data(), t.specific.size(), &frames);
            if (status == QN_STATUS_SUCCESS) time_ = std::move(t);
        }
        if (status != QN_STATUS_SUCCESS) time_error_ = status_message("loudness-time", status);
    }
    error = time_error_;
    return time_ ? &*time_ : nullptr;
}

const std::vector<metric> &metric_table() {
    static const std::vector<metric> table = {
        {"loudness", "stationary loudness (ISO 532-1), sone, and its specific-loudness peak", 256, true,
         loudness_metric, false, 0},
        {"loudness-time", "time-varying loudness (ISO 532-1): max, N5, N10, mean, sone", 1, true, loudness_time_metric,
         true, 0},
        {"sharpness", "sharpness (DIN 45692) of the stationary pattern and mean over 2 ms frames, acum", 256, true,
         sharpness_metric, true, 0.1},
        {"roughness-dw", "roughness (Daniel & Weber): mean and max over 200 ms frames, asper", 9600, false,
         roughness_dw_metric, false, 0.1},
        {"tonality-aures", "tonality (Aures, Terhardt's tonal components): mean and max over 250 ms frames", 12000,
         true, tonality_aures_metric, false, 0.1},
        {"tonality-ecma",
         "tonality (ECMA-418-2): mean of the time-dependent tonality from 0.3 s on over frames above 0.02, its "
         "max, and the strongest component's band and frequency, tu_HMS",
         14592, true, tonality_ecma_metric, false, 2 * 265 * 8 / 256.0},
        {"roughness-ecma",
         "roughness (ECMA-418-2): 90th percentile after 0.3 s, mean and max of the total over 20 ms frames, asper",
         15360, true, roughness_ecma_metric, false, 2 * 53 * 8 / 960.0},
    };
    return table;
}

const metric *find_metric(const std::string &name) {
    for (const metric &m : metric_table())
        if (name == m.name) return &m;
    return nullptr;
}

bool levels_result(const std::vector<double> &levels, qn_sound_field field, bool with_series, metric_result &out,
                   std::string &error) {
    double loudness = 0;
    std::vector<double> specific(QN_BARK_POINTS);
    qn_status status =
        qn_loudness_from_levels(levels.data(), levels.size(), field, &loudness, specific.data(), specific.size());
    if (status != QN_STATUS_SUCCESS) {
        error = stationary_status_message(status);
        return false;
    }
    double sharpness = 0;
    status = qn_sharpness_din(specific.data(), specific.size(), &sharpness);
    if (status != QN_STATUS_SUCCESS) {
        error = status_message("sharpness", status);
        return false;
    }
    out.values.push_back({"loudness", loudness, "sone"});
    add_pattern_values(specific, out);
    out.values.push_back({"sharpness", sharpness, "acum"});
    if (with_series) {
        const double *hz = qn_third_octave_centres_hz();
        out.series_list.push_back(
            {"band_level", "dB", {{"frequency", "Hz", std::vector<double>(hz, hz + QN_THIRD_OCTAVE_BANDS)}}, levels});
        out.series_list.push_back({"specific_loudness", "sone/Bark", {{"rate", "Bark", bark_axis_values()}}, specific});
    }
    return true;
}

std::string status_message(const char *metric, qn_status status) {
    return std::string(metric) + ": " + qn_status_string(status);
}

std::string stationary_status_message(qn_status status) {
    std::string text = status_message("loudness", status);
    // The only argument the stationary loudness refuses once the call is
    // well formed: its tables end at 120 dB in the bands up to 250 Hz.
    if (status == QN_STATUS_INVALID_ARGUMENT)
        text += ": a third-octave band at or below 250 Hz is above 120 dB, beyond the tables of the stationary "
                "method (loudness-time accepts such levels)";
    return text;
}

}  // namespace qcli
