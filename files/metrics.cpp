#include "metrics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <sstream>

namespace qnf {

namespace {

using enum statistic;

// Single values in the order results give them. An entry of kind
// `percentiles` stands for the percentiles asked for, named after the
// metric's symbol ("n5"), in the unit given.
constexpr quantity loudness_values[] = {
    {"loudness", "sone", own, true}, {"specific_peak", "sone/Bark"}, {"specific_peak_rate", "Bark"}};
constexpr quantity loudness_time_values[] = {{"max", "sone", max, true},
                                             {nullptr, "sone", percentiles, true},
                                             {"mean", "sone", mean, true},
                                             {"min", "sone", min, true}};
constexpr quantity sharpness_values[] = {{"sharpness", "acum"},
                                         {"mean_per_frame", "acum", mean},
                                         {"max", "acum", max},
                                         {"min", "acum", min},
                                         {nullptr, "acum", percentiles}};
constexpr quantity roughness_dw_values[] = {
    {"mean", "asper", mean}, {"max", "asper", max}, {"min", "asper", min}, {nullptr, "asper", percentiles}};
constexpr quantity tonality_aures_values[] = {
    {"mean", "t.u.", mean}, {"max", "t.u.", max}, {"min", "t.u.", min}, {nullptr, "t.u.", percentiles}};
// Its "max" is the largest T(l) from 0.3 s on, the frame of the strongest
// component; the statistics over frames add the others.
constexpr quantity tonality_ecma_values[] = {{"tonality", "tu_HMS"},
                                             {"max", "tu_HMS"},
                                             {"strongest_rate", "Bark"},
                                             {"strongest_frequency", "Hz"},
                                             {"mean", "tu_HMS", mean},
                                             {"min", "tu_HMS", min},
                                             {nullptr, "tu_HMS", percentiles}};
// N, the power mean of N(l) from 0.304 s on, then the statistics of N(l).
constexpr quantity loudness_ecma_values[] = {{"loudness", "sone_HMS"},
                                             {"max", "sone_HMS", max},
                                             {"mean", "sone_HMS", mean},
                                             {"min", "sone_HMS", min},
                                             {nullptr, "sone_HMS", percentiles}};
constexpr quantity roughness_ecma_values[] = {{"roughness", "asper"},
                                              {"mean", "asper", mean},
                                              {"max", "asper", max},
                                              {"min", "asper", min},
                                              {nullptr, "asper", percentiles}};
constexpr quantity fluctuation_ecma_values[] = {{"fluctuation", "vacil_HMS"},
                                                {"mean", "vacil_HMS", mean},
                                                {"max", "vacil_HMS", max},
                                                {"min", "vacil_HMS", min},
                                                {nullptr, "vacil_HMS", percentiles}};

// Sound levels, dB re 20 uPa (-inf for silence); the percentiles are those
// of the LAF series: "LAF5" is the level exceeded during 5 % of the time.
constexpr quantity spl_values[] = {{"LZeq", "dB"},   {"LAeq", "dB"},   {"LCeq", "dB"},
                                   {"LAFmax", "dB"}, {"LASmax", "dB"}, {"LAFmin", "dB"},
                                   {"LCpeak", "dB"}, {nullptr, "dB", percentiles}};
// The equivalent level of each third-octave band over the stretch, dB re
// 20 uPa, named after the bands' nominal centres (qn_third_octave_centres_hz).
constexpr quantity band_level_values[] = {
    {"L25Hz", "dB"},   {"L31.5Hz", "dB"}, {"L40Hz", "dB"},    {"L50Hz", "dB"},    {"L63Hz", "dB"},
    {"L80Hz", "dB"},   {"L100Hz", "dB"},  {"L125Hz", "dB"},   {"L160Hz", "dB"},   {"L200Hz", "dB"},
    {"L250Hz", "dB"},  {"L315Hz", "dB"},  {"L400Hz", "dB"},   {"L500Hz", "dB"},   {"L630Hz", "dB"},
    {"L800Hz", "dB"},  {"L1000Hz", "dB"}, {"L1250Hz", "dB"},  {"L1600Hz", "dB"},  {"L2000Hz", "dB"},
    {"L2500Hz", "dB"}, {"L3150Hz", "dB"}, {"L4000Hz", "dB"},  {"L5000Hz", "dB"},  {"L6300Hz", "dB"},
    {"L8000Hz", "dB"}, {"L10000Hz", "dB"}, {"L12500Hz", "dB"}};
static_assert(std::size(band_level_values) == QN_THIRD_OCTAVE_BANDS);

constexpr series_info spl_series[] = {{"LAF", "dB", "time"}, {"LAS", "dB", "time"}};
// The band levels of the whole stretch, and of each interval of the band
// step.
constexpr series_info band_level_series[] = {{"spectrum", "dB", "third_octave"},
                                             {"band_levels", "dB", "time third_octave"}};

constexpr series_info loudness_series[] = {{"specific_loudness", "sone/Bark", "bark"}};
constexpr series_info loudness_time_series[] = {{"loudness", "sone", "time"},
                                                {"specific_loudness", "sone/Bark", "time bark"}};
constexpr series_info sharpness_series[] = {{"sharpness", "acum", "time"}};
constexpr series_info roughness_dw_series[] = {{"roughness", "asper", "time"}};
constexpr series_info tonality_aures_series[] = {{"tonality", "t.u.", "time"}};
constexpr series_info tonality_ecma_series[] = {{"tonality", "tu_HMS", "time"},
                                                {"tonal_frequency", "Hz", "time"},
                                                {"specific_tonality", "tu_HMS/Bark", "time band"}};
// The ECMA-418-2 metrics that combine two ears give their time-dependent
// values first, then their values per frame and band, then (loudness) the
// averaged values per band.
constexpr series_info loudness_ecma_series[] = {{"loudness", "sone_HMS", "time"},
                                                {"specific_loudness", "sone_HMS/Bark", "time band"},
                                                {"averaged_specific_loudness", "sone_HMS/Bark", "band"}};
constexpr series_info roughness_ecma_series[] = {{"roughness", "asper", "time"},
                                                 {"specific_roughness", "asper/Bark", "time band"}};
constexpr series_info fluctuation_ecma_series[] = {
    {"fluctuation", "vacil_HMS", "time"},
    {"specific_fluctuation", "vacil_HMS/Bark", "time band"},
    {"averaged_specific_fluctuation", "vacil_HMS/Bark", "band"}};

// N5 and N10, the percentiles of loudness quoted most.
constexpr double loudness_percentiles[] = {5, 10};
// The percentile levels a sound level meter reports.
constexpr double spl_percentiles[] = {5, 10, 50, 90, 95};

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

axis bark_axis() {
    axis a{"rate", "Bark", bark_axis_values()};
    a.dimension = "bark";
    return a;
}

axis band_axis() {
    axis a{"rate", "Bark", ecma_band_rates()};
    a.dimension = "band";
    // The centre frequency of the band at z Bark: 81.9289 / 0.1618 sinh(0.1618 z) Hz.
    coordinate hz{"band_frequency", "Hz", {}};
    for (double z : a.values) hz.values.push_back(81.9289 / 0.1618 * std::sinh(0.1618 * z));
    a.coordinates.push_back(std::move(hz));
    return a;
}

axis third_octave_axis() {
    const double *hz = qn_third_octave_centres_hz();
    axis a{"frequency", "Hz", std::vector<double>(hz, hz + QN_THIRD_OCTAVE_BANDS)};
    a.dimension = "third_octave";
    return a;
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

axis time_axis(const metric &m, uint64_t frames) {
    axis a = time_axis(frames, m.first_time, static_cast<double>(m.hop) / QN_SAMPLE_RATE);
    a.dimension = std::string(m.name) + ".time";
    return a;
}

void complete_series(const metric &m, series &s, double start_s) {
    s.variable = std::string(m.name) + "." + s.name;
    const auto info = std::find_if(m.series.begin(), m.series.end(),
                                   [&](const series_info &i) { return s.name == i.name; });
    std::vector<std::string> kinds;
    if (info != m.series.end()) {
        std::istringstream words(info->axes);
        for (std::string w; words >> w;) kinds.push_back(w);
    }
    for (std::size_t i = 0; i < s.axes.size() && i < kinds.size(); ++i) {
        axis &a = s.axes[i];
        if (kinds[i] == "time") {
            if (a.dimension.empty()) a.dimension = std::string(m.name) + ".time";
            if (start_s != 0) {
                a.first += start_s;
                for (double &t : a.values) t += start_s;
            }
        } else if (a.dimension.empty()) {
            const axis pattern = kinds[i] == "band"           ? band_axis()
                                 : kinds[i] == "third_octave" ? third_octave_axis()
                                                              : bark_axis();
            a.dimension = pattern.dimension;
            a.coordinates = pattern.coordinates;
        }
    }
}

std::string percentile_name(const metric &m, double percent) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", percent);
    return std::string(m.statistics.symbol != nullptr ? m.statistics.symbol : "p") + text;
}

std::vector<quantity_name> quoted_names(const metric &m, std::span<const double> percentiles) {
    std::vector<quantity_name> names;
    const auto add = [&](const quantity_name &n, bool with_level) {
        names.push_back(n);
        if (with_level) names.push_back({n.name + "_level", "phon", n.kind, n.percent, true});
    };
    for (const quantity &q : m.quantities) {
        if (q.kind != statistic::percentiles) {
            add({q.name, q.unit, q.kind}, q.with_level);
            continue;
        }
        for (double p : percentiles) add({percentile_name(m, p), q.unit, statistic::percentiles, p}, q.with_level);
    }
    return names;
}

const std::vector<metric> &metric_table() {
    // Series times: the loudness frames and the ECMA-418-2 frames stand for
    // instants from the first sample on; the framed metrics' values belong
    // to their frames' centres.
    static const std::vector<metric> table = {
        {.id = metric_id::loudness,
         .group = family::loudness_meter,
         .name = "loudness",
         .description = "stationary loudness (ISO 532-1), sone, with its loudness level, phon, and its "
                        "specific-loudness peak",
         .title = "Loudness (ISO 532-1)",
         .min_samples = QN_LOUDNESS_MIN_SAMPLES,
         .frame_length = 0,
         .hop = 0,
         .first_time = 0.0,
         .uses_field = true,
         .quantities = loudness_values,
         .series = loudness_series},
        {.id = metric_id::loudness_time,
         .group = family::loudness_meter,
         .name = "loudness-time",
         .description = "time-varying loudness (ISO 532-1) over 2 ms frames: max, N5, N10, mean, min, sone, "
                        "each with its loudness level, phon",
         .title = "Time-varying loudness (ISO 532-1)",
         .min_samples = 1,
         .frame_length = QN_LOUDNESS_TIME_HOP,
         .hop = QN_LOUDNESS_TIME_HOP,
         .first_time = 0.0,
         .uses_field = true,
         .quantities = loudness_time_values,
         .series = loudness_time_series,
         .statistics = {.series = 0, .symbol = "n", .silent_floor = true, .default_percentiles = loudness_percentiles}},
        {.id = metric_id::sharpness,
         .group = family::loudness_meter,
         .name = "sharpness",
         .description = "sharpness (DIN 45692) of the stationary pattern, and mean, max and min over 2 ms frames, acum",
         .title = "Sharpness (DIN 45692)",
         .min_samples = QN_LOUDNESS_MIN_SAMPLES,
         .frame_length = QN_LOUDNESS_TIME_HOP,
         .hop = QN_LOUDNESS_TIME_HOP,
         .first_time = 0.0,
         .uses_field = true,
         .quantities = sharpness_values,
         .series = sharpness_series,
         .statistics = {.series = 0, .symbol = "s", .silent_floor = true}},
        {.id = metric_id::roughness_dw,
         .group = family::framed,
         .name = "roughness-dw",
         .description = "roughness (Daniel & Weber): mean, max and min over 200 ms frames, asper",
         .title = "Roughness (Daniel & Weber)",
         .min_samples = QN_ROUGHNESS_DW_FRAME_LENGTH,
         .frame_length = QN_ROUGHNESS_DW_FRAME_LENGTH,
         .hop = QN_ROUGHNESS_DW_HOP,
         .first_time = 0.5 * QN_ROUGHNESS_DW_FRAME_LENGTH / QN_SAMPLE_RATE,
         .uses_field = false,
         .quantities = roughness_dw_values,
         .series = roughness_dw_series,
         .statistics = {.series = 0, .symbol = "r"}},
        {.id = metric_id::tonality_aures,
         .group = family::framed,
         .name = "tonality-aures",
         .description = "tonality (Aures, Terhardt's tonal components): mean, max and min over 250 ms frames",
         .title = "Tonality (Aures)",
         .min_samples = QN_TONALITY_AURES_FRAME_LENGTH,
         .frame_length = QN_TONALITY_AURES_FRAME_LENGTH,
         .hop = QN_TONALITY_AURES_HOP,
         .first_time = 0.5 * QN_TONALITY_AURES_FRAME_LENGTH / QN_SAMPLE_RATE,
         .uses_field = true,
         .quantities = tonality_aures_values,
         .series = tonality_aures_series,
         .statistics = {.series = 0, .symbol = "t"}},
        // The ECMA-418-2 metrics share one stream of the hearing model per
        // channel, which holds a fixed working set whatever the length.
        {.id = metric_id::tonality_ecma,
         .group = family::ecma,
         .name = "tonality-ecma",
         .description = "tonality (ECMA-418-2): mean of the time-dependent tonality from 0.3 s on over frames above "
                        "0.02, its max from 0.3 s on with the strongest component's band and frequency, and the "
                        "mean and min over frames, tu_HMS; each ear on its own (no binaural value)",
         .title = "Tonality (ECMA-418-2)",
         .min_samples = QN_ECMA_TONAL_MIN_SAMPLES,
         .frame_length = QN_ECMA_TONAL_HOP,
         .hop = QN_ECMA_TONAL_HOP,
         .first_time = 0.0,
         .uses_field = true,
         .quantities = tonality_ecma_values,
         .series = tonality_ecma_series,
         .statistics = {.series = 0, .symbol = "t"},
         .ecma = QN_ECMA_TONALITY},
        {.id = metric_id::roughness_ecma,
         .group = family::ecma,
         .name = "roughness-ecma",
         .description = "roughness (ECMA-418-2): the standard's 90th percentile from 0.32 s on, and mean, max and "
                        "min of the total over 20 ms frames, asper",
         .title = "Roughness (ECMA-418-2)",
         .min_samples = QN_ECMA_ROUGHNESS_MIN_SAMPLES,
         .frame_length = QN_ECMA_ROUGHNESS_HOP,
         .hop = QN_ECMA_ROUGHNESS_HOP,
         .first_time = 0.0,
         .uses_field = true,
         .quantities = roughness_ecma_values,
         .series = roughness_ecma_series,
         .statistics = {.series = 0, .symbol = "r"},
         .ecma = QN_ECMA_ROUGHNESS,
         .binaural = true,
         .bytes_per_sample = 8 / 960.0},
        {.id = metric_id::loudness_ecma,
         .group = family::ecma,
         .name = "loudness-ecma",
         .description = "loudness (ECMA-418-2): the power mean of N(l) from 0.304 s on, and max, mean and min of "
                        "N(l) over 5.33 ms frames, sone_HMS; the averaged specific loudness with --series",
         .title = "Loudness (ECMA-418-2)",
         .min_samples = QN_ECMA_TONAL_MIN_SAMPLES,
         .frame_length = QN_ECMA_TONAL_HOP,
         .hop = QN_ECMA_TONAL_HOP,
         .first_time = 0.0,
         .uses_field = true,
         .quantities = loudness_ecma_values,
         .series = loudness_ecma_series,
         .statistics = {.series = 0, .symbol = "n"},
         .ecma = QN_ECMA_LOUDNESS,
         .binaural = true},
        {.id = metric_id::fluctuation_ecma,
         .group = family::ecma,
         .name = "fluctuation-ecma",
         .description = "fluctuation strength (ECMA-418-2): the standard's 90th percentile from 0.72 s on, and mean, "
                        "max and min of the total over 20 ms frames, vacil_HMS; the averaged specific values with "
                        "--series",
         .title = "Fluctuation strength (ECMA-418-2)",
         .min_samples = QN_ECMA_FLUCTUATION_MIN_SAMPLES,
         .frame_length = QN_ECMA_FLUCTUATION_HOP,
         .hop = QN_ECMA_FLUCTUATION_HOP,
         .first_time = 0.0,
         .uses_field = true,
         .quantities = fluctuation_ecma_values,
         .series = fluctuation_ecma_series,
         .statistics = {.series = 0, .symbol = "f"},
         .ecma = QN_ECMA_FLUCTUATION,
         .binaural = true,
         .bytes_per_sample = 8 / 960.0,
         .in_default_set = false},
        // The levels a report quotes beside the metrics.
        {.id = metric_id::spl,
         .group = family::levels,
         .name = "spl",
         .description = "sound levels (IEC 61672-1), dB re 20 uPa: LZeq, LAeq, LCeq, LAFmax, LASmax, LAFmin, LCpeak, "
                        "and LAF5, LAF10, LAF50, LAF90, LAF95 of the LAF series every 10 ms; -inf for silence",
         .title = "Sound levels (IEC 61672-1)",
         .min_samples = QN_SOUND_LEVEL_STEP + 1,  // a point of the LAF series
         .frame_length = QN_SOUND_LEVEL_STEP,
         .hop = QN_SOUND_LEVEL_STEP,
         .first_time = static_cast<double>(QN_SOUND_LEVEL_STEP) / QN_SAMPLE_RATE,
         .uses_field = false,
         .quantities = spl_values,
         .series = spl_series,
         .statistics = {.series = 0, .symbol = "LAF", .default_percentiles = spl_percentiles}},
        // Its hop is the default band step, 100 ms ("band-step" sets it);
        // each interval stands for its centre.
        {.id = metric_id::band_levels,
         .group = family::levels,
         .name = "levels",
         .description = "third-octave band levels (the ISO 532-1 filter bank, 25 Hz ... 12.5 kHz), dB re 20 uPa, "
                        "over the whole stretch and, as a series, every --band-step (100 ms)",
         .title = "Third-octave band levels",
         .min_samples = QN_LOUDNESS_MIN_SAMPLES,
         .frame_length = default_band_step,
         .hop = default_band_step,
         .first_time = 0.5 * default_band_step / QN_SAMPLE_RATE,
         .uses_field = false,
         .quantities = band_level_values,
         .series = band_level_series},
    };
    return table;
}

const metric *find_metric(const std::string &name) {
    for (const metric &m : metric_table())
        if (name == m.name) return &m;
    return nullptr;
}

const metric &metric_of(metric_id id) {
    for (const metric &m : metric_table())
        if (m.id == id) return m;
    return metric_table().front();  // every id has its entry
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
