// The tool's block-by-block analysis against the library called on the
// whole signal: whatever the blocks' sizes and the number of threads, every
// single value and every series is the same to the bit, and libsoxr fed in
// blocks gives what its one-shot call gives.
#include <gtest/gtest.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "audio.h"
#include "channel_analysis.h"
#include "quarnelo.h"
#include "flat_result.h"
#include "statistics.h"

namespace {

using namespace qnf;

std::vector<double> framed(const std::vector<double> &x, bool roughness, qn_sound_field field) {
    uint64_t frames = 0;
    EXPECT_EQ(roughness ? qn_roughness_frame_count(x.size(), 48000, &frames)
                        : qn_tonality_frame_count(x.size(), 48000, &frames),
              QN_STATUS_SUCCESS);
    std::vector<double> v(frames);
    EXPECT_EQ(roughness ? qn_roughness_dw(x.data(), x.size(), 48000, v.data(), frames, &frames)
                        : qn_tonality_aures(x.data(), x.size(), 48000, field, v.data(), frames, &frames),
              QN_STATUS_SUCCESS);
    return v;
}

double phon(double sone) {
    double p = 0;
    EXPECT_EQ(qn_loudness_level(sone, &p), QN_STATUS_SUCCESS);
    return p;
}

std::string band_name(int b) {
    char name[32];
    std::snprintf(name, sizeof name, "L%gHz", qn_third_octave_centres_hz()[b]);
    return name;
}

// The sound levels and band levels (intervals of `step` samples) of the
// whole signal, from one call each.
void whole_signal_levels(const std::vector<double> &x, uint64_t step, flat_result &f) {
    uint64_t points = 0;
    EXPECT_EQ(qn_sound_level_point_count(x.size(), 48000, &points), QN_STATUS_SUCCESS);
    std::vector<double> levels(QN_SOUND_LEVELS), laf(points), las(points);
    EXPECT_EQ(qn_sound_levels(x.data(), x.size(), 48000, levels.data(), levels.size(), laf.data(), points, las.data(),
                              points, &points),
              QN_STATUS_SUCCESS);
    const char *names[] = {"LZeq", "LAeq", "LCeq", "LAFmax", "LASmax", "LAFmin", "LCpeak"};
    for (int i = 0; i < QN_SOUND_LEVELS; ++i) f.values[std::string("spl/") + names[i]] = levels[i];
    const double percents[] = {5, 10, 50, 90, 95};
    const frame_summary stats = summarise_frames(laf, {}, percents);
    for (std::size_t i = 0; i < std::size(percents); ++i)
        f.values["spl/LAF" + std::to_string(static_cast<int>(percents[i]))] = stats.percentiles[i];
    f.series["spl/LAF"] = laf;
    f.series["spl/LAS"] = las;

    EXPECT_EQ(qn_band_level_point_count(x.size(), 48000, step, &points), QN_STATUS_SUCCESS);
    std::vector<double> bands(QN_THIRD_OCTAVE_BANDS), series(points * QN_THIRD_OCTAVE_BANDS);
    EXPECT_EQ(qn_band_levels(x.data(), x.size(), 48000, step, bands.data(), bands.size(), series.data(), series.size(),
                             &points),
              QN_STATUS_SUCCESS);
    for (int b = 0; b < QN_THIRD_OCTAVE_BANDS; ++b) f.values["levels/" + band_name(b)] = bands[static_cast<std::size_t>(b)];
    f.series["levels/spectrum"] = bands;
    f.series["levels/band_levels"] = series;
}

// The same quantities from one call of each library function on the whole
// signal, summarised by the shared statistics.
flat_result whole_signal(const std::vector<double> &x, qn_sound_field field) {
    flat_result f;
    double n = 0, s = 0;
    std::vector<double> pattern(240);
    EXPECT_EQ(qn_loudness_stationary(x.data(), x.size(), 48000, field, &n, pattern.data(), 240), QN_STATUS_SUCCESS);
    const auto peak = std::max_element(pattern.begin(), pattern.end());
    f.values["loudness/loudness"] = n;
    f.values["loudness/loudness_level"] = phon(n);
    f.values["loudness/specific_peak"] = *peak;
    f.values["loudness/specific_peak_rate"] = qn_bark_axis()[peak - pattern.begin()];
    f.series["loudness/specific_loudness"] = pattern;
    EXPECT_EQ(qn_sharpness_din(pattern.data(), 240, &s), QN_STATUS_SUCCESS);
    f.values["sharpness/sharpness"] = s;

    uint64_t frames = 0;
    EXPECT_EQ(qn_loudness_time_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    std::vector<double> total(frames), specific(frames * 240), sharp(frames);
    EXPECT_EQ(qn_loudness_time(x.data(), x.size(), 48000, field, total.data(), frames, specific.data(),
                               specific.size(), &frames),
              QN_STATUS_SUCCESS);
    const double n5_n10[] = {5, 10};
    const frame_summary stats = summarise_frames(total, total, n5_n10);
    f.values["loudness-time/max"] = stats.max;
    f.values["loudness-time/n5"] = stats.percentiles[0];
    f.values["loudness-time/n10"] = stats.percentiles[1];
    f.values["loudness-time/mean"] = stats.mean;
    f.values["loudness-time/min"] = stats.min;
    for (const char *q : {"max", "n5", "n10", "mean", "min"})
        f.values["loudness-time/" + std::string(q) + "_level"] = phon(f.values["loudness-time/" + std::string(q)]);
    f.series["loudness-time/loudness"] = total;
    f.series["loudness-time/specific_loudness"] = specific;
    for (uint64_t k = 0; k < frames; ++k)
        EXPECT_EQ(qn_sharpness_din(&specific[k * 240], 240, &sharp[k]), QN_STATUS_SUCCESS);
    const frame_summary sharp_stats = summarise_frames(sharp, total, {});
    f.values["sharpness/mean_per_frame"] = sharp_stats.mean;
    f.values["sharpness/max"] = sharp_stats.max;
    f.values["sharpness/min"] = sharp_stats.min;
    f.series["sharpness/sharpness"] = sharp;

    const std::vector<double> r = framed(x, true, field);
    const frame_summary r_stats = summarise_frames(r, {}, {});
    f.values["roughness-dw/mean"] = r_stats.mean;
    f.values["roughness-dw/max"] = r_stats.max;
    f.values["roughness-dw/min"] = r_stats.min;
    f.series["roughness-dw/roughness"] = r;
    whole_signal_levels(x, 4800, f);
    if (x.size() < 12000) return f;  // too short for the tonality
    const std::vector<double> t = framed(x, false, field);
    const frame_summary t_stats = summarise_frames(t, {}, {});
    f.values["tonality-aures/mean"] = t_stats.mean;
    f.values["tonality-aures/max"] = t_stats.max;
    f.values["tonality-aures/min"] = t_stats.min;
    f.series["tonality-aures/tonality"] = t;
    return f;
}

analysis_options streamed_metrics(qn_sound_field field) {
    analysis_options o;
    for (const char *name : {"loudness", "loudness-time", "sharpness", "roughness-dw", "tonality-aures", "spl", "levels"})
        o.metrics.push_back(find_metric(name));
    o.field = field;
    o.series = true;
    return o;
}

// The signal cut into blocks of `block` samples (0: one block), analysed
// on `threads` threads.
flat_result streamed(const std::vector<double> &x, const analysis_options &o, std::size_t block, int threads) {
    qnf_channel_result out;
    analyse_channel(x, o, out, block == 0 ? x.size() : block, threads);
    return flatten(out);
}

// 7 s (long enough for a task of framed windows of each framed metric
// before the end): a modulated tone, or noise with a silent second.
std::vector<double> signal(int kind) {
    std::vector<double> x(7 * 48000);
    std::mt19937_64 rng(15);
    std::normal_distribution<double> noise(0.0, 0.05);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / 48000;
        x[i] = kind == 0 ? 0.2 * (1 + std::sin(2 * std::numbers::pi * 70 * t)) * std::sin(2 * std::numbers::pi * 1000 * t)
                         : (t >= 3 && t < 4 ? 0.0 : noise(rng));
    }
    return x;
}

void expect_identical(const flat_result &got, const flat_result &want) {
    EXPECT_TRUE(got.errors.empty()) << got.errors.front();
    ASSERT_EQ(got.values.size(), want.values.size());
    for (const auto &[key, v] : want.values) {
        ASSERT_TRUE(got.values.count(key)) << key;
        EXPECT_EQ(got.values.at(key), v) << key;
    }
    ASSERT_EQ(got.series.size(), want.series.size());
    for (const auto &[key, v] : want.series) {
        ASSERT_TRUE(got.series.count(key)) << key;
        const std::vector<double> &g = got.series.at(key);
        ASSERT_EQ(g.size(), v.size()) << key;
        const auto diff = std::mismatch(g.begin(), g.end(), v.begin());
        EXPECT_TRUE(diff.first == g.end()) << key << " differs at " << (diff.first - g.begin());
    }
}

}  // namespace

TEST(CliStreaming, EveryBlockSizeAndThreadCountGivesTheWholeSignalsValues) {
    const std::size_t blocks[] = {1, 7, 95, 96, 97, 4096, 65537, 0};
    for (int kind = 0; kind < 2; ++kind) {
        const std::vector<double> x = signal(kind);
        for (const qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
            const flat_result want = whole_signal(x, field);
            const analysis_options o = streamed_metrics(field);
            for (std::size_t i = 0; i < std::size(blocks); ++i) {
                const std::size_t block = blocks[i];
                // Blocks of one sample on one signal and field: each is a task.
                if (block == 1 && (kind != 0 || field != QN_SOUND_FIELD_FREE)) continue;
                // One thread and three in turn, so that each block size meets
                // both over the signals and fields.
                const int threads = (i + static_cast<std::size_t>(kind) + static_cast<std::size_t>(field)) % 2 == 0 ? 1 : 3;
                SCOPED_TRACE("signal " + std::to_string(kind) + ", field " + std::to_string(field) + ", blocks of " +
                             std::to_string(block) + ", threads " + std::to_string(threads));
                expect_identical(streamed(x, o, block, threads), want);
            }
        }
    }
}

TEST(CliStreaming, BlocksAtAndAroundFrameBoundariesAndShortChannels) {
    // Lengths at the framed metrics' minimum lengths and a frame, give or
    // take a sample, in blocks that end inside frames.
    const std::vector<double> x = signal(0);
    for (const std::size_t length : {9600u, 9601u, 11999u, 12000u, 12001u, 14399u, 14400u, 14401u, 18000u}) {
        SCOPED_TRACE(length);
        const std::vector<double> part(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(length));
        analysis_options o = streamed_metrics(QN_SOUND_FIELD_FREE);
        if (length < 12000) {
            const flat_result got = streamed(part, o, 4799, 2);
            ASSERT_EQ(got.errors.size(), 1u);
            EXPECT_EQ(got.errors[0].rfind("tonality-aures: too short: ", 0), 0u) << got.errors[0];
            // The others, compared with the library below.
            std::erase_if(o.metrics, [](const metric *m) { return m->id == metric_id::tonality_aures; });
        }
        expect_identical(streamed(part, o, 4799, 2), whole_signal(part, QN_SOUND_FIELD_FREE));
    }
}

TEST(CliStreaming, SharpnessWeightingAndBandStepReachTheLibrary) {
    const std::vector<double> x = signal(1);
    std::vector<double> pattern(240);
    double n = 0;
    ASSERT_EQ(qn_loudness_stationary(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, &n, pattern.data(), 240),
              QN_STATUS_SUCCESS);
    for (const qn_sharpness_weighting w : {QN_SHARPNESS_BISMARCK, QN_SHARPNESS_FASTL, QN_SHARPNESS_AURES}) {
        analysis_options o;
        o.metrics = {find_metric("sharpness"), find_metric("levels")};
        o.series = true;
        o.sharpness_weighting = w;
        o.band_step = 12000;
        const flat_result got = streamed(x, o, 4097, 2);
        double s = 0;
        ASSERT_EQ(qn_sharpness(pattern.data(), 240, w, &s), QN_STATUS_SUCCESS);
        EXPECT_EQ(got.values.at("sharpness/sharpness"), s) << w;
        flat_result want;
        whole_signal_levels(x, 12000, want);
        EXPECT_EQ(got.series.at("levels/band_levels"), want.series.at("levels/band_levels"));
    }
}

TEST(CliStreaming, SilenceHasLevelsOfMinusInfinityAndNoError) {
    const std::vector<double> x(48000, 0.0);
    analysis_options o;
    o.metrics = {find_metric("spl")};
    qnf_channel_result out;
    analyse_channel(x, o, out, 4096, 1);
    const flat_result got = flatten(out);
    EXPECT_TRUE(got.errors.empty());
    ASSERT_EQ(got.values.size(), 12u);
    for (const auto &[name, v] : got.values) EXPECT_EQ(v, -std::numeric_limits<double>::infinity()) << name;
}

TEST(CliStreaming, NonFiniteSampleIsNamedByItsPosition) {
    std::vector<double> x = signal(0);
    x[100000] = std::numeric_limits<double>::quiet_NaN();
    const flat_result got = streamed(x, streamed_metrics(QN_SOUND_FIELD_FREE), 4096, 2);
    ASSERT_EQ(got.errors.size(), 1u);
    EXPECT_EQ(got.errors[0], "input: sample 100000 is NaN or infinite");
    EXPECT_TRUE(got.values.empty());
}

TEST(CliStreaming, ResamplingInBlocksEqualsTheOneShotCall) {
    std::mt19937_64 rng(3);
    std::normal_distribution<double> noise(0.0, 0.1);
    for (const int rate : {44100, 96000, 32000, 8000}) {
        std::vector<double> x(static_cast<std::size_t>(rate) * 3 / 2);
        for (std::size_t i = 0; i < x.size(); ++i)
            x[i] = 0.3 * std::sin(2 * std::numbers::pi * 997 * static_cast<double>(i) / rate) + noise(rng);
        std::vector<double> oneshot(static_cast<std::size_t>(resampled_length(x.size(), rate)));
        std::size_t done = 0;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        ASSERT_EQ(soxr_oneshot(rate, 48000, 1, x.data(), x.size(), nullptr, oneshot.data(), oneshot.size(), &done, &io,
                               &quality, nullptr),
                  nullptr);
        oneshot.resize(done);
        for (const std::size_t block : {1u, 97u, 4096u, 65536u}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz in blocks of " + std::to_string(block));
            resampler r;
            std::string error;
            ASSERT_TRUE(r.start(rate, error)) << error;
            std::vector<double> out;
            for (std::size_t at = 0; at < x.size(); at += block)
                ASSERT_TRUE(r.process({x.data() + at, std::min(block, x.size() - at)}, out, error)) << error;
            ASSERT_TRUE(r.finish(out, error)) << error;
            ASSERT_EQ(out.size(), oneshot.size());
            const auto diff = std::mismatch(out.begin(), out.end(), oneshot.begin());
            EXPECT_TRUE(diff.first == out.end()) << "first difference at " << (diff.first - out.begin()) << ": "
                                                 << *diff.first << " against " << *diff.second;
        }
    }
}

TEST(CliStreaming, SeriesSpilledToTheSpoolReadBackInOrder) {
    auto spool = std::make_shared<series_spool>();
    value_list a(spool), b(spool);
    std::vector<double> want_a, want_b;
    // Two lists filling the spool in turn, by single values and by runs
    // that cross the chunks' ends.
    for (int i = 0; i < 3 * static_cast<int>(value_list::chunk_values) + 5; ++i) {
        a.push_back(i * 0.5);
        want_a.push_back(i * 0.5);
        if (i % 1000 == 0) {
            const std::vector<double> run(1777, -i);
            b.append(run);
            want_b.insert(want_b.end(), run.begin(), run.end());
        }
    }
    EXPECT_TRUE(a.error().empty() && b.error().empty()) << a.error() << b.error();
    EXPECT_EQ(a.size(), want_a.size());
    EXPECT_EQ(a.to_vector(), want_a);
    EXPECT_EQ(b.to_vector(), want_b);
    // Without a spool the values stay in memory.
    value_list c;
    c.append(want_b);
    EXPECT_EQ(c.to_vector(), want_b);
}
