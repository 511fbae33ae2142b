// The ECMA-418-2 metrics of the file layer, streamed block by block, against
// the library's one-shot exports on the whole signal reduced by the shared
// statistics: every value and series the same to the bit, whatever the
// blocks; channels too short for one metric keep the others; the binaural
// result of two ears against qn_ecma_binaural and qn_ecma_aggregate of the
// whole channels; and a memory estimate that does not grow with the length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "batch.h"
#include "channel_analysis.h"
#include "source.h"
#include "flat_result.h"
#include "statistics.h"

namespace {

using namespace qnf;
constexpr std::size_t B = QN_ECMA_BANDS;

void add_statistics(flat_result &f, const std::string &metric, const std::vector<double> &series) {
    const frame_summary s = summarise_frames(series, {}, {});
    f.values[metric + "/mean"] = s.mean;
    f.values[metric + "/max"] = s.max;
    f.values[metric + "/min"] = s.min;
}

// Loudness and roughness from band values, as one ear's or two combined:
// qn_ecma_aggregate of the whole series.
void add_band_metric(flat_result &f, qn_ecma_metric id, const std::vector<double> &specific) {
    const bool loudness = id == QN_ECMA_LOUDNESS;
    const std::string m = loudness ? "loudness-ecma" : "roughness-ecma";
    const uint64_t frames = specific.size() / B;
    std::vector<double> series(frames), averaged(B);
    double value = 0;
    ASSERT_EQ(qn_ecma_aggregate(id, specific.data(), frames, series.data(), frames, averaged.data(), B, &value),
              QN_STATUS_SUCCESS);
    f.values[m + (loudness ? "/loudness" : "/roughness")] = value;
    add_statistics(f, m, series);
    f.series[m + (loudness ? "/loudness" : "/roughness")] = series;
    f.series[m + (loudness ? "/specific_loudness" : "/specific_roughness")] = specific;
    if (loudness) f.series[m + "/averaged_specific_loudness"] = averaged;
}

struct whole_channel {
    std::vector<double> loudness, roughness;  // band values of every frame
    flat_result f;
};

// The three metrics from one call of each export on the whole signal.
whole_channel whole(const std::vector<double> &x, qn_sound_field field, bool with_roughness = true) {
    whole_channel w;
    uint64_t frames = 0;
    EXPECT_EQ(qn_ecma_tonal_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    std::vector<double> arrays(5 * B * frames);
    EXPECT_EQ(qn_ecma_tonal_analysis(x.data(), x.size(), 48000, field, arrays.data(), arrays.size(), &frames),
              QN_STATUS_SUCCESS);
    std::vector<double> t(frames), frequency(frames);
    for (std::size_t l = 0; l < frames; ++l) {
        const double *row = &arrays[3 * B * frames + B * l];
        const std::size_t b = static_cast<std::size_t>(std::max_element(row, row + B) - row);
        t[l] = row[b];
        frequency[l] = arrays[2 * B * frames + B * l + b];
    }
    const tonality_summary s = summarise_tonality(t, 256.0 / 48000);
    std::size_t strongest = 0;
    const double *at = &arrays[3 * B * frames + B * s.frame];
    strongest = static_cast<std::size_t>(std::max_element(at, at + B) - at);
    w.f.values["tonality-ecma/tonality"] = s.value;
    w.f.values["tonality-ecma/max"] = s.max;
    w.f.values["tonality-ecma/strongest_rate"] = s.max > 0 ? 0.5 * static_cast<double>(strongest + 1) : 0.0;
    w.f.values["tonality-ecma/strongest_frequency"] = s.max > 0 ? frequency[s.frame] : 0.0;
    add_statistics(w.f, "tonality-ecma", t);
    w.f.series["tonality-ecma/tonality"] = t;
    w.f.series["tonality-ecma/tonal_frequency"] = frequency;
    w.f.series["tonality-ecma/specific_tonality"].assign(&arrays[3 * B * frames], &arrays[4 * B * frames]);

    // qn_loudness_ecma gives the same band values as array 4.
    w.loudness.resize(B * frames);
    std::vector<double> n(frames), averaged(B);
    double value = 0;
    EXPECT_EQ(qn_loudness_ecma(x.data(), x.size(), 48000, field, n.data(), frames, averaged.data(), B, &value,
                               w.loudness.data(), w.loudness.size(), &frames),
              QN_STATUS_SUCCESS);
    add_band_metric(w.f, QN_ECMA_LOUDNESS, w.loudness);
    EXPECT_EQ(w.f.values["loudness-ecma/loudness"], value);
    if (!with_roughness) return w;
    EXPECT_EQ(qn_ecma_roughness_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    w.roughness.resize(B * frames);
    EXPECT_EQ(qn_roughness_ecma(x.data(), x.size(), 48000, field, w.roughness.data(), w.roughness.size(), &frames),
              QN_STATUS_SUCCESS);
    add_band_metric(w.f, QN_ECMA_ROUGHNESS, w.roughness);
    return w;
}

analysis_options ecma_options(qn_sound_field field) {
    analysis_options o;
    for (const char *name : {"tonality-ecma", "loudness-ecma", "roughness-ecma"}) o.metrics.push_back(find_metric(name));
    o.field = field;
    o.series = true;
    o.keep_series = true;
    return o;
}

void expect_identical(const flat_result &got, const flat_result &want) {
    ASSERT_TRUE(got.errors.empty()) << got.errors.front();
    ASSERT_EQ(got.values.size(), want.values.size());
    for (const auto &[key, v] : want.values) {
        ASSERT_TRUE(got.values.count(key)) << key;
        EXPECT_EQ(got.values.at(key), v) << key;
    }
    ASSERT_EQ(got.series.size(), want.series.size());
    for (const auto &[key, v] : want.series) {
        ASSERT_TRUE(got.series.count(key)) << key;
        EXPECT_TRUE(got.series.at(key) == v) << key;
    }
}

// A 1 kHz tone fully modulated at 70 Hz, or noise with a silent stretch.
std::vector<double> signal(int kind, double seconds, unsigned seed = 3) {
    std::vector<double> x(static_cast<std::size_t>(seconds * 48000));
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0.0, 0.05);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / 48000;
        x[i] = kind == 0 ? 0.02 * (1 + std::sin(2 * std::numbers::pi * 70 * t)) * std::sin(2 * std::numbers::pi * 1000 * t)
                         : (t >= 1 && t < 1.5 ? 0.0 : noise(rng));
    }
    return x;
}

}  // namespace

TEST(FilesEcma, StreamedMetricsEqualTheWholeSignalsForAnyBlocks) {
    const struct {
        int kind;
        qn_sound_field field;
        std::size_t block;  // 0: one block
        int threads;
    } cases[] = {{0, QN_SOUND_FIELD_FREE, 997, 1},    {0, QN_SOUND_FIELD_FREE, 0, 2},
                 {1, QN_SOUND_FIELD_DIFFUSE, 65537, 2}, {1, QN_SOUND_FIELD_DIFFUSE, 4096, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE("signal " + std::to_string(c.kind) + ", blocks of " + std::to_string(c.block));
        const std::vector<double> x = signal(c.kind, 1.5);
        qnf_channel_result out;
        analyse_channel(x, ecma_options(c.field), out, c.block == 0 ? x.size() : c.block, c.threads);
        expect_identical(flatten(out), whole(x, c.field).f);
    }
}

TEST(FilesEcma, ChannelTooShortForOneMetricKeepsTheOthers) {
    const std::vector<double> x = signal(0, 1.0);
    for (const std::size_t length : {14592u, 15359u, 15360u}) {
        SCOPED_TRACE(length);
        const std::vector<double> part(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(length));
        qnf_channel_result out;
        analyse_channel(part, ecma_options(QN_SOUND_FIELD_FREE), out, 1000, 1);
        flat_result got = flatten(out);
        const bool roughness = length >= QN_ECMA_ROUGHNESS_MIN_SAMPLES;
        if (!roughness) {
            ASSERT_EQ(got.errors.size(), 1u);
            EXPECT_EQ(got.errors[0].rfind("roughness-ecma: too short", 0), 0u) << got.errors[0];
            got.errors.clear();
        }
        expect_identical(got, whole(part, QN_SOUND_FIELD_FREE, roughness).f);
    }
}

TEST(FilesEcma, BinauralIsTheCombinationOfTheEarsReducedAsOne) {
    const std::vector<double> left = signal(0, 1.5), right = signal(1, 1.5);
    const struct {
        const char *label;
        bool same;        // right = left
        bool binaural;    // the option
        int nan_at;       // a NaN in the right channel, or -1
    } cases[] = {{"two ears", false, true, -1},
                 {"identical ears", true, true, -1},
                 {"option off", false, false, -1},
                 {"right fails", false, true, 30000}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<double> interleaved(2 * left.size());
        for (std::size_t i = 0; i < left.size(); ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = c.same ? left[i] : right[i];
        }
        if (c.nan_at >= 0) interleaved[2 * static_cast<std::size_t>(c.nan_at) + 1] = std::nan("");
        analysis_options o = ecma_options(QN_SOUND_FIELD_FREE);
        o.binaural = c.binaural;
        const qnf_file_result r = analyse_signal(interleaved.data(), left.size(), 2, 48000, "head", o, 2);
        ASSERT_TRUE(r.error.empty()) << r.error;
        if (!c.binaural) {
            EXPECT_TRUE(r.binaural.empty());
            continue;
        }
        ASSERT_EQ(r.binaural.size(), 1u);
        const qnf_channel_result &b = r.binaural[0];
        EXPECT_EQ(b.channel, 0);
        ASSERT_EQ(b.metrics.size(), 2u) << "loudness and roughness; tonality has no binaural value";
        EXPECT_EQ(b.metrics[0].name, "loudness-ecma");
        EXPECT_EQ(b.metrics[1].name, "roughness-ecma");
        if (c.nan_at >= 0) {
            for (const qnf_metric_result &m : b.metrics) EXPECT_EQ(m.error.rfind("channel 2: input: ", 0), 0u) << m.error;
            continue;
        }
        flat_result got = flatten(b);
        for (const qnf_metric_result &m : b.metrics)
            for (const qnf_series &s : m.series_list) EXPECT_EQ(s.variable, m.name + ".binaural." + s.name);
        if (c.same) {
            // The one-ear result exactly, tonality aside.
            flat_result one = flatten(r.channels[0]);
            std::erase_if(one.values, [](const auto &v) { return v.first.rfind("tonality", 0) == 0; });
            std::erase_if(one.series, [](const auto &v) { return v.first.rfind("tonality", 0) == 0; });
            expect_identical(got, one);
            continue;
        }
        const whole_channel l = whole(left, QN_SOUND_FIELD_FREE), rr = whole(right, QN_SOUND_FIELD_FREE);
        flat_result want;
        for (const auto &[id, a, z] : {std::tuple{QN_ECMA_LOUDNESS, &l.loudness, &rr.loudness},
                                       std::tuple{QN_ECMA_ROUGHNESS, &l.roughness, &rr.roughness}}) {
            std::vector<double> both(a->size());
            ASSERT_EQ(qn_ecma_binaural(a->data(), z->data(), a->size(), both.data(), both.size()), QN_STATUS_SUCCESS);
            add_band_metric(want, id, both);
        }
        expect_identical(got, want);
    }
}

TEST(FilesEcma, MemoryEstimateOfTheEcmaMetricsDoesNotGrowWithTheLength) {
    analysis_options o = ecma_options(QN_SOUND_FIELD_FREE);
    o.series = o.keep_series = false;
    audio_format f{};
    f.sample_rate = 48000;
    f.channels = 2;
    f.frames = 60 * 48000;
    const uint64_t minute = file_memory_need(f, o).total;
    f.frames = 3600 * 48000;
    const uint64_t hour = file_memory_need(f, o).total;
    EXPECT_LT(hour, 256e6) << "an hour of a head recording";
    // Only the values of the roughness percentile grow: 8 bytes a frame.
    EXPECT_LT(static_cast<double>(hour - minute), 3 * 8 * 3540 * 50.0 + 1);
}
