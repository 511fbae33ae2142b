#include "metrics.h"

#include <algorithm>

#include "statistics.h"

namespace qcli {

std::vector<double> bark_axis_values() {
    const double *z = qn_bark_axis();
    return std::vector<double>(z, z + QN_BARK_POINTS);
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
    static const std::vector<metric> table = {
        {metric_kind::loudness, "loudness", "stationary loudness (ISO 532-1), sone, and its specific-loudness peak",
         256, true},
        {metric_kind::loudness_time, "loudness-time", "time-varying loudness (ISO 532-1): max, N5, N10, mean, sone", 1,
         true},
        {metric_kind::sharpness, "sharpness",
         "sharpness (DIN 45692) of the stationary pattern and mean over 2 ms frames, acum", 256, true},
        {metric_kind::roughness_dw, "roughness-dw", "roughness (Daniel & Weber): mean and max over 200 ms frames, asper",
         9600, false},
        {metric_kind::tonality_aures, "tonality-aures",
         "tonality (Aures, Terhardt's tonal components): mean and max over 250 ms frames", 12000, true},
        // The two ECMA-418-2 metrics hold their outputs (265 values per 256
        // samples; 53 per 960) and the arrays made of them.
        {metric_kind::tonality_ecma, "tonality-ecma",
         "tonality (ECMA-418-2): mean of the time-dependent tonality from 0.3 s on over frames above 0.02, its "
         "max, and the strongest component's band and frequency, tu_HMS; analyses each channel whole",
         14592, true, true, 2 * 265 * 8 / 256.0},
        {metric_kind::roughness_ecma, "roughness-ecma",
         "roughness (ECMA-418-2): 90th percentile after 0.3 s, mean and max of the total over 20 ms frames, asper; "
         "analyses each channel whole",
         15360, true, true, 2 * 53 * 8 / 960.0},
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
            {"band_level", "dB", {{"frequency", "Hz", std::vector<double>(hz, hz + QN_THIRD_OCTAVE_BANDS)}},
             value_list(levels)});
        out.series_list.push_back({"specific_loudness", "sone/Bark", {{"rate", "Bark", bark_axis_values()}},
                                   value_list(specific)});
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
