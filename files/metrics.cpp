#include "metrics.h"

#include <algorithm>
#include <iterator>

namespace qnf {

namespace {

constexpr quantity loudness_values[] = {
    {"loudness", "sone"}, {"specific_peak", "sone/Bark"}, {"specific_peak_rate", "Bark"}};
constexpr quantity loudness_time_values[] = {{"max", "sone"}, {"n5", "sone"}, {"n10", "sone"}, {"mean", "sone"}};
constexpr quantity sharpness_values[] = {{"sharpness", "acum"}, {"mean_per_frame", "acum"}};
constexpr quantity roughness_dw_values[] = {{"mean", "asper"}, {"max", "asper"}};
constexpr quantity tonality_aures_values[] = {{"mean", "t.u."}, {"max", "t.u."}};
constexpr quantity tonality_ecma_values[] = {
    {"tonality", "tu_HMS"}, {"max", "tu_HMS"}, {"strongest_rate", "Bark"}, {"strongest_frequency", "Hz"}};
constexpr quantity roughness_ecma_values[] = {{"roughness", "asper"}, {"mean", "asper"}, {"max", "asper"}};

constexpr series_info loudness_series[] = {{"specific_loudness", "sone/Bark", "rate"}};
constexpr series_info loudness_time_series[] = {{"loudness", "sone", "time"},
                                                {"specific_loudness", "sone/Bark", "time rate"}};
constexpr series_info sharpness_series[] = {{"sharpness", "acum", "time"}};
constexpr series_info roughness_dw_series[] = {{"roughness", "asper", "time"}};
constexpr series_info tonality_aures_series[] = {{"tonality", "t.u.", "time"}};
constexpr series_info tonality_ecma_series[] = {{"tonality", "tu_HMS", "time"},
                                                {"tonal_frequency", "Hz", "time"},
                                                {"specific_tonality", "tu_HMS/Bark", "time rate"}};
constexpr series_info roughness_ecma_series[] = {{"roughness", "asper", "time"},
                                                 {"specific_roughness", "asper/Bark", "time rate"}};

}  // namespace

std::vector<double> bark_axis_values() {
    const double *z = qn_bark_axis();
    return std::vector<double>(z, z + QN_BARK_POINTS);
}

std::vector<double> ecma_band_rates() {
    std::vector<double> z(QN_ECMA_BANDS);
    for (int b = 0; b < QN_ECMA_BANDS; ++b) z[static_cast<std::size_t>(b)] = 0.5 * (b + 1);
    return z;
}

void add_pattern_values(const std::vector<double> &specific, metric_result &out) {
    const auto peak = std::max_element(specific.begin(), specific.end());
    out.values.push_back({"specific_peak", *peak, "sone/Bark"});
    out.values.push_back({"specific_peak_rate", qn_bark_axis()[peak - specific.begin()], "Bark"});
}

axis time_axis(uint64_t frames, double first, double step) {
    axis a{"time", "s", {}};
    a.count = frames;
    a.first = first;
    a.step = step;
    return a;
}

const std::vector<metric> &metric_table() {
    // Series times: the loudness frames and the ECMA-418-2 frames stand for
    // instants from the first sample on; the framed metrics' values belong
    // to their frames' centres.
    static const std::vector<metric> table = {
        {metric_id::loudness, family::loudness_meter, "loudness",
         "stationary loudness (ISO 532-1), sone, and its specific-loudness peak", "Loudness (ISO 532-1)",
         QN_LOUDNESS_MIN_SAMPLES, 0, 0, 0.0, true, loudness_values, loudness_series},
        {metric_id::loudness_time, family::loudness_meter, "loudness-time",
         "time-varying loudness (ISO 532-1): max, N5, N10, mean, sone", "Time-varying loudness (ISO 532-1)", 1,
         QN_LOUDNESS_TIME_HOP, QN_LOUDNESS_TIME_HOP, 0.0, true, loudness_time_values, loudness_time_series},
        {metric_id::sharpness, family::loudness_meter, "sharpness",
         "sharpness (DIN 45692) of the stationary pattern and mean over 2 ms frames, acum", "Sharpness (DIN 45692)",
         QN_LOUDNESS_MIN_SAMPLES, QN_LOUDNESS_TIME_HOP, QN_LOUDNESS_TIME_HOP, 0.0, true, sharpness_values, sharpness_series},
        {metric_id::roughness_dw, family::framed, "roughness-dw",
         "roughness (Daniel & Weber): mean and max over 200 ms frames, asper", "Roughness (Daniel & Weber)",
         QN_ROUGHNESS_DW_FRAME_LENGTH, QN_ROUGHNESS_DW_FRAME_LENGTH, QN_ROUGHNESS_DW_HOP,
         0.5 * QN_ROUGHNESS_DW_FRAME_LENGTH / QN_SAMPLE_RATE, false, roughness_dw_values, roughness_dw_series},
        {metric_id::tonality_aures, family::framed, "tonality-aures",
         "tonality (Aures, Terhardt's tonal components): mean and max over 250 ms frames", "Tonality (Aures)",
         QN_TONALITY_AURES_FRAME_LENGTH, QN_TONALITY_AURES_FRAME_LENGTH, QN_TONALITY_AURES_HOP,
         0.5 * QN_TONALITY_AURES_FRAME_LENGTH / QN_SAMPLE_RATE, true, tonality_aures_values, tonality_aures_series},
        // The two ECMA-418-2 metrics hold their outputs (265 values per 256
        // samples; 53 per 960) and the arrays made of them.
        {metric_id::tonality_ecma, family::ecma, "tonality-ecma",
         "tonality (ECMA-418-2): mean of the time-dependent tonality from 0.3 s on over frames above 0.02, its "
         "max, and the strongest component's band and frequency, tu_HMS; analyses each channel whole",
         "Tonality (ECMA-418-2)", QN_ECMA_TONAL_MIN_SAMPLES, QN_ECMA_TONAL_HOP, QN_ECMA_TONAL_HOP, 0.0, true,
         tonality_ecma_values, tonality_ecma_series, true, 2 * 265 * 8 / 256.0},
        {metric_id::roughness_ecma, family::ecma, "roughness-ecma",
         "roughness (ECMA-418-2): 90th percentile after 0.3 s, mean and max of the total over 20 ms frames, asper; "
         "analyses each channel whole",
         "Roughness (ECMA-418-2)", QN_ECMA_ROUGHNESS_MIN_SAMPLES, QN_ECMA_ROUGHNESS_HOP, QN_ECMA_ROUGHNESS_HOP, 0.0,
         true, roughness_ecma_values, roughness_ecma_series, true, 2 * 53 * 8 / 960.0},
    };
    return table;
}

const metric *find_metric(const std::string &name) {
    for (const metric &m : metric_table())
        if (name == m.name) return &m;
    return nullptr;
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

}  // namespace qnf
