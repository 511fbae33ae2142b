// The quarnelo tool run as a user runs it, on files the test writes: its JSON
// values against direct library calls on the same samples, and its answers
// to bad input.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <nlohmann/json.hpp>
#include <numbers>
#include <string>
#include <vector>

#include "cli_support.h"
#include "quarnelo.h"
#include "statistics.h"

namespace {

using namespace cli_test;

// The file as the library sees it: decoded to doubles, calibrated, at 48 kHz.
std::vector<std::vector<double>> pascal_channels(const fs::path &path, double pa_per_unit) {
    SF_INFO info{};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<double> inter(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_double(f, inter.data(), info.frames);
    sf_close(f);
    std::vector<std::vector<double>> chans(static_cast<std::size_t>(info.channels));
    for (sf_count_t i = 0; i < info.frames; ++i)
        for (int c = 0; c < info.channels; ++c) chans[c].push_back(inter[i * info.channels + c]);
    for (auto &x : chans) {
        if (info.samplerate != 48000) {
            std::vector<double> out(static_cast<std::size_t>(x.size() * 48000.0 / info.samplerate + 1));
            std::size_t done = 0;
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
            const soxr_quality_spec_t q = soxr_quality_spec(SOXR_VHQ, 0);
            EXPECT_EQ(soxr_oneshot(info.samplerate, 48000, 1, x.data(), x.size(), nullptr, out.data(), out.size(),
                                   &done, &io, &q, nullptr),
                      nullptr);
            out.resize(done);
            x.swap(out);
        }
        for (double &v : x) v *= pa_per_unit;
    }
    return chans;
}

// N5 and N10 with the mean, max and min of a loudness-time's frames.
qnf::frame_summary loudness_statistics(const std::vector<double> &n) {
    const double n5_n10[] = {5, 10};
    return qnf::summarise_frames(n, n, n5_n10);
}

struct expected_values {
    double loudness, peak, n5, n10, max_time, mean_time, sharpness, sharpness_mean, rough_mean, rough_max;
    double n5_phon, levels[QN_SOUND_LEVELS], band_1k;
};

expected_values library_values(const std::vector<double> &x) {
    expected_values e{};
    std::vector<double> spec(240);
    EXPECT_EQ(qn_loudness_stationary(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, &e.loudness, spec.data(), 240),
              QN_STATUS_SUCCESS);
    e.peak = *std::max_element(spec.begin(), spec.end());
    EXPECT_EQ(qn_sharpness_din(spec.data(), 240, &e.sharpness), QN_STATUS_SUCCESS);
    uint64_t frames = 0;
    EXPECT_EQ(qn_loudness_time_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    std::vector<double> n(frames), s(frames * 240);
    EXPECT_EQ(qn_loudness_time(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, n.data(), frames, s.data(), s.size(),
                               &frames),
              QN_STATUS_SUCCESS);
    const qnf::frame_summary stats = loudness_statistics(n);
    e.n5 = stats.percentiles[0];
    e.n10 = stats.percentiles[1];
    e.max_time = stats.max;
    e.mean_time = stats.mean;
    std::vector<double> sharp(frames);
    for (uint64_t f = 0; f < frames; ++f) EXPECT_EQ(qn_sharpness_din(&s[f * 240], 240, &sharp[f]), QN_STATUS_SUCCESS);
    e.sharpness_mean = qnf::summarise_frames(sharp, n, {}).mean;
    EXPECT_EQ(qn_roughness_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    std::vector<double> r(frames);
    EXPECT_EQ(qn_roughness_dw(x.data(), x.size(), 48000, r.data(), frames, &frames), QN_STATUS_SUCCESS);
    double rs = 0;
    for (double v : r) rs += v;
    e.rough_mean = rs / frames;
    e.rough_max = *std::max_element(r.begin(), r.end());
    EXPECT_EQ(qn_loudness_level(e.n5, &e.n5_phon), QN_STATUS_SUCCESS);
    EXPECT_EQ(qn_sound_levels(x.data(), x.size(), 48000, e.levels, QN_SOUND_LEVELS, nullptr, 0, nullptr, 0, &frames),
              QN_STATUS_SUCCESS);
    double bands[QN_THIRD_OCTAVE_BANDS];
    EXPECT_EQ(qn_band_levels(x.data(), x.size(), 48000, 4800, bands, QN_THIRD_OCTAVE_BANDS, nullptr, 0, &frames),
              QN_STATUS_SUCCESS);
    e.band_1k = bands[16];
    return e;
}

double value(const nlohmann::json &channel, const char *metric, const char *quantity) {
    return channel.at("metrics").at(metric).at(quantity).at("value").get<double>();
}

::testing::AssertionResult close(double got, double expected) {
    if (std::fabs(got - expected) <= 1e-12 * std::fabs(expected) + 1e-300) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << got << ", expected " << expected;
}

}  // namespace

TEST(CliAnalyze, JsonEqualsTheLibraryOnEveryFormat) {
    struct Case {
        const char *name;
        int format, rate, channels;
        std::string calibration;  // tool options
        double pa_per_unit;
    };
    const double full_scale_94 = 20e-6 * std::pow(10.0, 94 / 20.0) * std::sqrt(2.0);
    const Case cases[] = {
        {"pcm16_mono_48k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, "", 1.0},
        {"pcm24_stereo_44k1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 2, "--pa-per-unit 0.5", 0.5},
        {"float_stereo_96k.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 96000, 2, "--full-scale-spl 94", full_scale_94},
        {"pcm16_mono_48k.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1, "--full-scale-spl 94", full_scale_94},
        {"double_mono_48k.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1, "--pa-per-unit 2", 2.0},
        {"pcm32_stereo_44k1.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 44100, 2, "", 1.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = write_audio(c.name, c.format, c.rate, c.channels, test_signal(c.rate, c.channels, 1.0));
        const run_result r = run("analyze --format json " + c.calibration + " " + quoted(path.string()));
        ASSERT_EQ(r.status, 0) << r.err;
        const auto doc = nlohmann::json::parse(r.out);
        const auto &file = doc.at("files").at(0);
        EXPECT_EQ(file.at("channels").get<int>(), c.channels);
        EXPECT_EQ(file.at("resampled_to_48k").get<bool>(), c.rate != 48000);
        if (c.rate != 48000) {
            EXPECT_NE(r.err.find("resampling"), std::string::npos) << "a notice on stderr";
        }
        const auto channels = pascal_channels(path, c.pa_per_unit);
        ASSERT_EQ(file.at("results").size(), channels.size());
        for (std::size_t ch = 0; ch < channels.size(); ++ch) {
            const auto &jc = file.at("results").at(ch);
            EXPECT_FALSE(jc.at("calibration").get<std::string>().empty());
            EXPECT_TRUE(jc.at("errors").empty());
            const expected_values e = library_values(channels[ch]);
            EXPECT_TRUE(close(value(jc, "loudness", "loudness"), e.loudness));
            EXPECT_TRUE(close(value(jc, "loudness", "specific_peak"), e.peak));
            EXPECT_TRUE(close(value(jc, "loudness-time", "n5"), e.n5));
            EXPECT_TRUE(close(value(jc, "loudness-time", "n10"), e.n10));
            EXPECT_TRUE(close(value(jc, "loudness-time", "max"), e.max_time));
            EXPECT_TRUE(close(value(jc, "loudness-time", "mean"), e.mean_time));
            EXPECT_TRUE(close(value(jc, "sharpness", "sharpness"), e.sharpness));
            EXPECT_TRUE(close(value(jc, "sharpness", "mean_per_frame"), e.sharpness_mean));
            EXPECT_TRUE(close(value(jc, "roughness-dw", "mean"), e.rough_mean));
            EXPECT_TRUE(close(value(jc, "roughness-dw", "max"), e.rough_max));
            EXPECT_TRUE(close(value(jc, "loudness-time", "n5_level"), e.n5_phon));
            EXPECT_TRUE(close(value(jc, "spl", "LAeq"), e.levels[QN_LEVEL_LAEQ]));
            EXPECT_TRUE(close(value(jc, "spl", "LCpeak"), e.levels[QN_LEVEL_LCPEAK]));
            EXPECT_TRUE(close(value(jc, "levels", "L1000Hz"), e.band_1k));
        }
    }
}

TEST(CliAnalyze, SeriesChannelsMetricsAndCsv) {
    const fs::path path = write_audio("series.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2,
                                      test_signal(48000, 2, 0.5));
    const run_result r = run("analyze --format json --series --channel 2 --metrics loudness-time,roughness-dw " +
                             quoted(path.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    const auto &results = doc.at("files").at(0).at("results");
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results.at(0).at("channel").get<int>(), 2);
    const auto &metrics = results.at(0).at("metrics");
    EXPECT_FALSE(metrics.contains("loudness"));
    const auto &times = metrics.at("loudness-time").at("series").at("loudness").at("axes").at(0);
    EXPECT_EQ(times.at("unit").get<std::string>(), "s");
    EXPECT_EQ(times.at("values").size(), (24000u - 1) / 96 + 1);
    EXPECT_DOUBLE_EQ(times.at("values").at(1).get<double>(), 0.002);
    const auto &pattern = metrics.at("loudness-time").at("series").at("specific_loudness");
    EXPECT_EQ(pattern.at("axes").at(1).at("unit").get<std::string>(), "Bark");
    EXPECT_EQ(pattern.at("values").at(0).size(), 240u);
    const auto &rough = metrics.at("roughness-dw").at("series").at("roughness");
    EXPECT_EQ(rough.at("values").size(), 4u);
    EXPECT_DOUBLE_EQ(rough.at("axes").at(0).at("values").at(0).get<double>(), 0.1) << "frame centres";

    const run_result csv = run("analyze --format csv --metrics loudness " + quoted(path.string()));
    ASSERT_EQ(csv.status, 0);
    EXPECT_EQ(csv.out.rfind("file,channel,sample_rate,duration_s,calibration,loudness.loudness,"
                            "loudness.loudness_level,loudness.specific_peak,loudness.specific_peak_rate,error\n",
                            0),
              0u)
        << csv.out;
    EXPECT_NE(csv.out.find(",1,48000,0.5,pa-per-unit 1,"), std::string::npos);
    EXPECT_NE(csv.out.find(",2,48000,0.5,pa-per-unit 1,"), std::string::npos);

    const fs::path out_file = scratch() / "out.json";
    const run_result to_file = run("analyze --output " + quoted(out_file.string()) + " " + quoted(path.string()));
    ASSERT_EQ(to_file.status, 0);
    EXPECT_TRUE(to_file.out.empty());
    std::ifstream in(out_file);
    nlohmann::json parsed;
    EXPECT_NO_THROW(parsed = nlohmann::json::parse(in)) << "JSON when not on a terminal";
    EXPECT_EQ(parsed.value("tool", ""), "quarnelo");
}

TEST(CliAnalyze, StreamedSeriesEqualTheLibraryOnAnyNumberOfThreads) {
    // 6 s at 44.1 kHz, resampled as it is read: the specific loudness
    // series (720000 values) goes through the temporary file in chunks.
    const fs::path path = write_audio("long_series.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 44100, 2,
                                      test_signal(44100, 2, 6.0));
    const std::string args = "analyze --format json --series --channel 2 --metrics loudness-time,sharpness,roughness-dw " +
                             quoted(path.string());
    const run_result one = run(args + " -j 1"), three = run(args + " -j 3");
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(three.status, 0) << three.err;
    EXPECT_TRUE(one.out == three.out) << "the same report on one thread and on three";

    const std::vector<double> x = pascal_channels(path, 1.0).at(1);
    uint64_t frames = 0;
    ASSERT_EQ(qn_loudness_time_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    std::vector<double> n(frames), spec(frames * 240);
    ASSERT_EQ(qn_loudness_time(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, n.data(), frames, spec.data(),
                               spec.size(), &frames),
              QN_STATUS_SUCCESS);
    const auto channel = nlohmann::json::parse(one.out).at("files").at(0).at("results").at(0);
    const auto &series = channel.at("metrics").at("loudness-time").at("series");
    EXPECT_EQ(series.at("loudness").at("values").get<std::vector<double>>(), n);
    const auto &rows = series.at("specific_loudness").at("values");
    ASSERT_EQ(rows.size(), frames);
    bool same = true;
    for (uint64_t f = 0; f < frames && same; ++f)
        same = rows.at(f).get<std::vector<double>>() == std::vector<double>(&spec[f * 240], &spec[f * 240 + 240]);
    EXPECT_TRUE(same) << "the specific loudness of every frame, to the bit";
    EXPECT_EQ(value(channel, "loudness-time", "n5"), loudness_statistics(n).percentiles[0]);
    EXPECT_EQ(series.at("loudness").at("axes").at(0).at("values").at(frames - 1).get<double>(),
              static_cast<double>(frames - 1) * 0.002);
}

TEST(CliAnalyze, EcmaMetricsStreamWithinTheMemoryOfTheOthers) {
    // Half a minute in 140 MB: the ECMA-418-2 metrics run through a stream
    // of fixed working memory, as the others do (holding the channel whole,
    // they needed 149 MB).
    const fs::path path = write_audio("half_minute.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
                                      std::vector<double>(30 * 48000, 0.01));
    const run_result r = run("analyze --format json --max-memory 140M --metrics loudness,tonality-ecma " +
                             quoted(path.string()));
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(CliAnalyze, TonalityAuresInTheDefaultSetWithItsSeries) {
    const fs::path path = write_audio("tonal.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                                      test_signal(48000, 1, 1.0));
    const auto x = pascal_channels(path, 1.0)[0];
    uint64_t frames = 0;
    ASSERT_EQ(qn_tonality_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    std::vector<double> t(frames);
    ASSERT_EQ(qn_tonality_aures(x.data(), x.size(), 48000, QN_SOUND_FIELD_DIFFUSE, t.data(), frames, &frames),
              QN_STATUS_SUCCESS);
    double sum = 0;
    for (double v : t) sum += v;

    const run_result r = run("analyze --format json --series --field diffuse " + quoted(path.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto jc = nlohmann::json::parse(r.out).at("files").at(0).at("results").at(0);
    EXPECT_TRUE(close(value(jc, "tonality-aures", "mean"), sum / frames));
    EXPECT_TRUE(close(value(jc, "tonality-aures", "max"), *std::max_element(t.begin(), t.end())));
    const auto &series = jc.at("metrics").at("tonality-aures").at("series").at("tonality");
    ASSERT_EQ(series.at("values").size(), frames);
    for (std::size_t k = 0; k < frames; ++k) {
        EXPECT_TRUE(close(series.at("values").at(k).get<double>(), t[k])) << "frame " << k;
        EXPECT_EQ(series.at("axes").at(0).at("values").at(k).get<double>(), (6000.0 * k + 6000) / 48000)
            << "the centre of frame " << k;
    }

    const fs::path short_file = write_audio("tonal_short.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                                            test_signal(48000, 1, 0.24));
    const run_result too_short = run("analyze --format json --metrics tonality-aures " + quoted(short_file.string()));
    EXPECT_EQ(too_short.status, 1);
    EXPECT_NE(too_short.err.find("needs at least 0.25 s"), std::string::npos) << too_short.err;

    // 100 Hz at about 131 dB: beyond the loudness model, and the message says so.
    std::vector<double> low(24000);
    for (std::size_t i = 0; i < low.size(); ++i) low[i] = 0.5 * std::sin(2 * std::numbers::pi * 100 * i / 48000.0);
    const fs::path loud = write_audio("tonal_loud_low.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, low);
    const run_result refused =
        run("analyze --format json --pa-per-unit 200 --metrics tonality-aures " + quoted(loud.string()));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("120 dB"), std::string::npos) << refused.err;
}

TEST(CliAnalyze, RoughnessEcmaAggregation) {
    // 1 s: 51 frames, of which frames 16 ... 50 (35) count for the single
    // value, the library's 90th percentile.
    const auto x = test_signal(48000, 1, 1.0);
    const fs::path path = write_audio("rough_ecma.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1, x);
    const run_result r = run("analyze --format json --series --metrics roughness-ecma " + quoted(path.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    const auto &channel = doc.at("files").at(0).at("results").at(0);

    uint64_t frames = 0;
    ASSERT_EQ(qn_ecma_roughness_frame_count(x.size(), 48000, &frames), QN_STATUS_SUCCESS);
    ASSERT_EQ(frames, 51u);
    std::vector<double> specific(53 * frames);
    ASSERT_EQ(qn_roughness_ecma(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, specific.data(), specific.size(),
                                &frames),
              QN_STATUS_SUCCESS);
    std::vector<double> total(frames);
    for (uint64_t k = 0; k < frames; ++k) {
        double sum = 0;
        for (int b = 0; b < 53; ++b) sum += specific[k * 53 + b];
        total[k] = 0.5 * sum;
    }
    double single = 0;
    ASSERT_EQ(qn_ecma_single_value(QN_ECMA_ROUGHNESS, total.data(), frames, &single), QN_STATUS_SUCCESS);
    double mean = 0;
    for (double v : total) mean += v;
    mean /= frames;
    EXPECT_TRUE(close(value(channel, "roughness-ecma", "roughness"), single));
    EXPECT_TRUE(close(value(channel, "roughness-ecma", "mean"), mean));
    EXPECT_TRUE(close(value(channel, "roughness-ecma", "max"), *std::max_element(total.begin(), total.end())));
    EXPECT_EQ(value(channel, "roughness-ecma", "min"), 0.0) << "frame 0 is 0";
    EXPECT_GT(single, 0.1);

    const auto &series = channel.at("metrics").at("roughness-ecma").at("series");
    const auto &times = series.at("roughness").at("axes").at(0).at("values");
    ASSERT_EQ(times.size(), 51u);
    EXPECT_DOUBLE_EQ(times.at(50).get<double>(), 1.0);
    EXPECT_TRUE(close(series.at("roughness").at("values").at(20).get<double>(), total[20]));
    const auto &bands = series.at("specific_roughness");
    EXPECT_EQ(bands.at("unit").get<std::string>(), "asper/Bark");
    EXPECT_EQ(bands.at("axes").at(1).at("values").size(), 53u);
    EXPECT_DOUBLE_EQ(bands.at("axes").at(1).at("values").at(52).get<double>(), 26.5);
    EXPECT_TRUE(close(bands.at("values").at(30).at(16).get<double>(), specific[30 * 53 + 16]));

    // Shorter than 0.32 s: the metric is left out with its reason.
    const fs::path short_path = write_audio("rough_short.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1,
                                            test_signal(48000, 1, 0.3));
    const run_result s = run("analyze --format json --metrics roughness-ecma " + quoted(short_path.string()));
    EXPECT_NE(s.out.find("0.32 s"), std::string::npos) << s.out << s.err;
}

TEST(CliAnalyze, CalibratorRecording) {
    // A 1 kHz calibrator at 94 dB recorded at half of full scale.
    std::vector<double> cal(48000);
    for (int i = 0; i < 48000; ++i) cal[i] = 0.5 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0);
    const fs::path cal_path = write_audio("calibrator.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, cal);
    const fs::path path = write_audio("measured.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                                      test_signal(48000, 1, 0.5));
    const run_result r = run("analyze --format json --metrics loudness --cal-file " + quoted(cal_path.string()) +
                             " --cal-spl 94 " + quoted(path.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto jc = nlohmann::json::parse(r.out).at("files").at(0).at("results").at(0);
    EXPECT_NE(jc.at("calibration").get<std::string>().find("calibrator"), std::string::npos);
    const double factor = 20e-6 * std::pow(10.0, 94 / 20.0) / (0.5 / std::sqrt(2.0));
    const auto x = pascal_channels(path, factor)[0];
    double loudness = 0;
    ASSERT_EQ(qn_loudness_stationary(x.data(), x.size(), 48000, 0, &loudness, nullptr, 0), QN_STATUS_SUCCESS);
    EXPECT_NEAR(value(jc, "loudness", "loudness"), loudness, 1e-6 * loudness);
}

TEST(CliAnalyze, BadInputNamesTheFileAndTheOthersStillRun) {
    const fs::path good = write_audio("good.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
                                      test_signal(48000, 1, 0.5));
    const fs::path empty = write_audio("empty.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, {});
    const fs::path short_file = write_audio("short.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
                                            test_signal(48000, 1, 0.1));
    std::vector<double> with_nan = test_signal(48000, 1, 0.5);
    with_nan[1000] = std::numeric_limits<double>::quiet_NaN();
    const fs::path nan_file = write_audio("nan.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, with_nan);
    const fs::path text = scratch() / "text.wav";
    std::ofstream(text) << "this is not audio\n";
    const fs::path truncated = write_audio("truncated.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
                                           test_signal(48000, 1, 0.5));
    fs::resize_file(truncated, fs::file_size(truncated) / 2);
    const fs::path truncated_flac = write_audio("truncated.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 1,
                                                test_signal(48000, 1, 0.5));
    fs::resize_file(truncated_flac, fs::file_size(truncated_flac) / 2);
    const fs::path missing = scratch() / "missing.wav";

    struct Case {
        fs::path path;
        const char *reason;  // a word of the message on stderr
    };
    const Case cases[] = {{empty, "no samples"},     {short_file, "needs at least 0.2 s"},
                          {nan_file, "NaN"},         {text, "cannot read"},
                          {missing, "cannot read"}, {truncated, "truncated"},
                          {truncated_flac, "truncated"}};
    std::string arguments = "analyze --format json -j 2 " + quoted(good.string());
    for (const Case &c : cases) arguments += " " + quoted(c.path.string());
    const run_result r = run(arguments);
    EXPECT_EQ(r.status, 1);
    for (const Case &c : cases) {
        const std::string line_start = "quarnelo: " + c.path.string() + ": ";
        const auto at = r.err.find(line_start);
        ASSERT_NE(at, std::string::npos) << c.path << " not named in:\n" << r.err;
        const std::string line = r.err.substr(at, r.err.find('\n', at) - at);
        EXPECT_NE(line.find(c.reason), std::string::npos) << line;
    }
    const auto doc = nlohmann::json::parse(r.out);
    ASSERT_EQ(doc.at("files").size(), 8u) << "every file reported, in the order given";
    EXPECT_EQ(doc.at("files").at(0).at("file").get<std::string>(), good.string());
    EXPECT_TRUE(doc.at("files").at(0).at("results").at(0).at("errors").empty()) << "the good file still analysed";
    // The short file has its other metrics.
    EXPECT_TRUE(doc.at("files").at(2).at("results").at(0).at("metrics").contains("loudness"));
    EXPECT_EQ(doc.at("files").at(6).at("file").get<std::string>(), truncated.string());
    EXPECT_TRUE(doc.at("files").at(6).contains("error"));
}

TEST(CliAnalyze, ResamplingCanBeRefused) {
    const fs::path path = write_audio("at44k1.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1,
                                      test_signal(44100, 1, 0.3));
    const run_result r = run("analyze --no-resample --format json " + quoted(path.string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("44100 Hz"), std::string::npos) << r.err;
}

TEST(CliAnalyze, SilentFramesAfterABurstCountAsSilent) {
    // 0.3 s of a 1 kHz tone at 70 dB, then 1.7 s of silence: the temporal
    // decay leaves patterns of vanishing loudness that the library still
    // gives a sharpness; below the floor they count as 0.
    std::vector<double> x(96000, 0.0);
    for (std::size_t i = 0; i < 14400; ++i)
        x[i] = 20e-6 * std::pow(10.0, 70 / 20.0) * std::sqrt(2.0) * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0);
    const fs::path path = write_audio("burst.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1, x);
    const run_result r = run("analyze --format json --metrics loudness-time,sharpness " + quoted(path.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto jc = nlohmann::json::parse(r.out).at("files").at(0).at("results").at(0);

    const uint64_t frames = (x.size() - 1) / 96 + 1;
    std::vector<double> n(frames), specific(frames * 240), sharp(frames);
    uint64_t written = 0;
    ASSERT_EQ(qn_loudness_time(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, n.data(), frames, specific.data(),
                               specific.size(), &written),
              QN_STATUS_SUCCESS);
    double plain_sum = 0;
    std::size_t faint = 0;  // frames with some loudness, all of it below the floor
    for (uint64_t f = 0; f < frames; ++f) {
        ASSERT_EQ(qn_sharpness_din(&specific[f * 240], 240, &sharp[f]), QN_STATUS_SUCCESS);
        plain_sum += sharp[f];
        if (n[f] > 0 && n[f] < qnf::silent_floor_sone) ++faint;
    }
    ASSERT_GT(faint, frames / 4) << "the decay leaves many faint frames";
    const double mean = value(jc, "sharpness", "mean_per_frame");
    EXPECT_TRUE(close(mean, qnf::summarise_frames(sharp, n, {}).mean));
    EXPECT_LT(mean, 0.9 * plain_sum / static_cast<double>(frames)) << "faint frames no longer add their sharpness";
    // Only frames that are audible count, so the mean is about the burst's
    // sharpness times its share of the frames.
    const double burst = value(jc, "sharpness", "sharpness");
    EXPECT_LT(mean, burst * 0.5);
    EXPECT_EQ(value(jc, "loudness-time", "n5"), loudness_statistics(n).percentiles[0]);
}

TEST(CliUsage, ErrorsExitTwoHelpAndVersionZero) {
    struct Case {
        const char *arguments;
        int status;
    };
    const Case cases[] = {
        {"", 2},
        {"analyze", 2},
        {"analyze --bogus x.wav", 2},
        {"analyze --metrics nosuch x.wav", 2},
        {"analyze --field outdoor x.wav", 2},
        {"analyze --channel zero x.wav", 2},
        {"analyze --pa-per-unit -1 x.wav", 2},
        {"analyze --cal-file c.wav x.wav", 2},
        {"analyze --pa-per-unit 2 --full-scale-spl 90 x.wav", 2},
        {"levels 1,2,3", 2},
        {"--help", 0},
        {"analyze --help", 0},
        {"--version", 0},
    };
    for (const Case &c : cases) {
        const run_result r = run(c.arguments);
        EXPECT_EQ(r.status, c.status) << "quarnelo " << c.arguments << "\n" << r.err;
        if (c.status == 2) {
            EXPECT_FALSE(r.err.empty()) << c.arguments << ": usage errors go to stderr";
        }
    }
    const run_result v = run("--version");
    EXPECT_EQ(v.out, std::string("quarnelo ") + QUARNELO_CLI_VERSION + " (libquarnelo " + qn_version_string() +
                         ", ABI " + std::to_string(qn_abi_version()) + ")\n")
        << "the tool's version is the build's";
    EXPECT_NE(run("--help").out.find("analyze"), std::string::npos);
}

TEST(CliLevels, FromArgumentsAndCsv) {
    std::vector<double> levels(28, 60.0);
    std::string list;
    for (int i = 0; i < 28; ++i) list += (i ? "," : "") + std::string("60");
    const run_result r = run("levels --format json " + list);
    ASSERT_EQ(r.status, 0) << r.err;
    double loudness = 0;
    std::vector<double> spec(240);
    ASSERT_EQ(qn_loudness_from_levels(levels.data(), 28, 0, &loudness, spec.data(), 240), QN_STATUS_SUCCESS);
    double sharpness = 0;
    ASSERT_EQ(qn_sharpness_din(spec.data(), 240, &sharpness), QN_STATUS_SUCCESS);
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_TRUE(close(doc.at("levels").at("loudness").at("value").get<double>(), loudness));
    EXPECT_TRUE(close(doc.at("levels").at("sharpness").at("value").get<double>(), sharpness));

    const fs::path csv = scratch() / "levels.csv";
    {
        std::ofstream out(csv);
        out << "frequency_hz,level_db\n";
        const double *hz = qn_third_octave_centres_hz();
        for (int i = 0; i < 28; ++i) out << hz[i] << "," << 60 << "\n";
    }
    const run_result from_csv = run("levels --format json --field diffuse --csv " + quoted(csv.string()));
    ASSERT_EQ(from_csv.status, 0) << from_csv.err;
    ASSERT_EQ(qn_loudness_from_levels(levels.data(), 28, 1, &loudness, nullptr, 0), QN_STATUS_SUCCESS);
    EXPECT_TRUE(close(nlohmann::json::parse(from_csv.out).at("levels").at("loudness").at("value").get<double>(),
                      loudness));

    std::string too_loud = "130";
    for (int i = 1; i < 28; ++i) too_loud += ",60";
    const run_result refused = run("levels " + too_loud);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("invalid argument"), std::string::npos) << refused.err;
}

TEST(CliAnalyze, SilenceReadsNullInJsonAndMinusInfInCsvAndTheWeightingIsNamed) {
    const fs::path path = write_audio("silence.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1,
                                      std::vector<double>(24000, 0.0));
    const run_result json = run("analyze --format json --metrics spl,sharpness --sharpness-weighting fastl " +
                                quoted(path.string()));
    ASSERT_EQ(json.status, 0) << json.err;
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ(doc.at("sharpness_weighting").get<std::string>(), "fastl");
    const auto &spl = doc.at("files").at(0).at("results").at(0).at("metrics").at("spl");
    ASSERT_EQ(spl.size(), 12u);
    for (const auto &[name, v] : spl.items()) EXPECT_TRUE(v.at("value").is_null()) << name;
    const run_result csv = run("analyze --format csv --metrics spl --percentiles 50 " + quoted(path.string()));
    ASSERT_EQ(csv.status, 0) << csv.err;
    EXPECT_NE(csv.out.find(",-inf,-inf,-inf,-inf,-inf,-inf,-inf,-inf,\n"), std::string::npos) << csv.out;
    EXPECT_EQ(run("analyze --sharpness-weighting zwicker " + quoted(path.string())).status, 2);
}

TEST(CliDemo, PrintsEveryMetric) {
    const run_result r = run("demo");
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *metric :
         {"loudness", "loudness-time", "sharpness", "roughness-dw", "tonality-aures", "tonality-ecma", "roughness-ecma",
          "spl", "levels", "asper", "sone", "acum", "tu_HMS", "LAeq", "LAFmax", "loudness_level", "phon", "L1000Hz"})
        EXPECT_NE(r.out.find(metric), std::string::npos) << metric;
}

// The metric's values and series against the library called directly on
// the same samples, in both sound fields.
TEST(CliAnalyze, TonalityEcmaEqualsTheLibrary) {
    std::vector<double> x(72000);
    uint64_t state = 7;
    for (std::size_t i = 0; i < x.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        const double noise = static_cast<double>(state >> 11) * 0x1p-53 - 0.5;
        x[i] = 0.02 * std::sin(2 * std::numbers::pi * 2500 * i / 48000.0) + 0.01 * noise;
    }
    const fs::path path = write_audio("tonal.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1, x);
    const auto samples = pascal_channels(path, 1.0).at(0);
    for (const char *field : {"free", "diffuse"}) {
        SCOPED_TRACE(field);
        const run_result r = run(std::string("analyze --format json --series --metrics tonality-ecma --field ") + field +
                                 " " + quoted(path.string()));
        ASSERT_EQ(r.status, 0) << r.err;
        const auto metric = nlohmann::json::parse(r.out).at("files").at(0).at("results").at(0).at("metrics").at(
            "tonality-ecma");

        uint64_t frames = 0;
        ASSERT_EQ(qn_ecma_tonal_frame_count(samples.size(), 48000, &frames), QN_STATUS_SUCCESS);
        std::vector<double> arrays(265 * frames);
        ASSERT_EQ(qn_ecma_tonal_analysis(samples.data(), samples.size(), 48000,
                                         field[0] == 'd' ? QN_SOUND_FIELD_DIFFUSE : QN_SOUND_FIELD_FREE,
                                         arrays.data(), arrays.size(), &frames),
                  QN_STATUS_SUCCESS);
        std::vector<double> tonality(frames);
        std::vector<int> band(frames);
        for (uint64_t l = 0; l < frames; ++l) {
            const double *row = &arrays[3 * 53 * frames + 53 * l];
            band[l] = static_cast<int>(std::max_element(row, row + 53) - row);
            tonality[l] = row[band[l]];
        }
        const auto s = qnf::summarise_tonality(tonality, 256.0 / 48000);
        const qnf::frame_summary over_frames = qnf::summarise_frames(tonality, {}, {});
        EXPECT_TRUE(close(metric.at("mean").at("value").get<double>(), over_frames.mean));
        EXPECT_EQ(metric.at("min").at("value").get<double>(), over_frames.min);
        EXPECT_GT(s.value, 0.5);
        EXPECT_TRUE(close(metric.at("tonality").at("value").get<double>(), s.value));
        EXPECT_EQ(metric.at("tonality").at("unit").get<std::string>(), "tu_HMS");
        EXPECT_TRUE(close(metric.at("max").at("value").get<double>(), s.max));
        EXPECT_EQ(metric.at("strongest_rate").at("value").get<double>(), 0.5 * (band[s.frame] + 1));
        EXPECT_EQ(metric.at("strongest_frequency").at("value").get<double>(),
                  arrays[2 * 53 * frames + 53 * s.frame + band[s.frame]]);
        EXPECT_NEAR(metric.at("strongest_frequency").at("value").get<double>(), 2500, 3);

        const auto &series = metric.at("series");
        const auto &t = series.at("tonality");
        EXPECT_EQ(t.at("values").get<std::vector<double>>(), tonality);
        EXPECT_DOUBLE_EQ(t.at("axes").at(0).at("values").at(3).get<double>(), 3 * 256.0 / 48000);
        EXPECT_EQ(series.at("tonal_frequency").at("values").size(), frames);
        const auto &specific = series.at("specific_tonality");
        EXPECT_EQ(specific.at("axes").at(1).at("values").at(52).get<double>(), 26.5);
        ASSERT_EQ(specific.at("values").size(), frames);
        EXPECT_EQ(specific.at("values").at(100).at(band[100]).get<double>(), tonality[100]);
    }
    const run_result short_file =
        run("analyze --format json --metrics tonality-ecma " +
            quoted(write_audio("short.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, std::vector<double>(14591, 0.1))
                       .string()));
    EXPECT_NE(short_file.out.find("too short"), std::string::npos) << short_file.out;
}

namespace {

// The rows of a CSV table (fields without line breaks): fields by column name.
std::vector<std::map<std::string, std::string>> csv_rows(const std::string &text) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields(1);
        bool quoted = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') fields.back() += line[++i];
            else if (c == '"') quoted = !quoted;
            else if (c == ',' && !quoted) fields.emplace_back();
            else fields.back() += c;
        }
        lines.push_back(fields);
    }
    std::vector<std::map<std::string, std::string>> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::map<std::string, std::string> row;
        for (std::size_t k = 0; k < lines[0].size() && k < lines[i].size(); ++k) row[lines[0][k]] = lines[i][k];
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

// Single values in the batch's layout, failed files as rows with their
// error, and each metric's series with a value per frame as a tidy table of
// numbers, the same as the JSON series to the bit.
TEST(CliAnalyze, CsvHasAnErrorColumnAndATidyTablePerMetric) {
    const fs::path good = write_audio("tidy.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, test_signal(48000, 2, 0.5));
    const fs::path short_file = write_audio("tidy_short.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                                            test_signal(48000, 1, 0.1));
    const fs::path missing = scratch() / "tidy_missing.wav";
    const fs::path out = scratch() / "tidy" / "r.csv";
    fs::create_directories(out.parent_path());
    const std::string inputs = quoted(good.string()) + " " + quoted(missing.string()) + " " + quoted(short_file.string());
    const std::string options = "--metrics loudness-time,roughness-dw --percentiles 50,90 ";
    const run_result r = run("analyze --format csv --series " + options + "--output " + quoted(out.string()) + " " + inputs);
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string main_table = file_bytes(out);
    EXPECT_EQ(main_table.substr(0, main_table.find('\n')),
              "file,channel,sample_rate,duration_s,calibration,loudness-time.max,loudness-time.max_level,"
              "loudness-time.n50,loudness-time.n50_level,loudness-time.n90,loudness-time.n90_level,"
              "loudness-time.mean,loudness-time.mean_level,loudness-time.min,loudness-time.min_level,roughness-dw.mean,roughness-dw.max,roughness-dw.min,"
              "roughness-dw.r50,roughness-dw.r90,error");
    const auto rows = csv_rows(main_table);
    ASSERT_EQ(rows.size(), 4u) << main_table;
    EXPECT_EQ(rows[0].at("channel"), "1");
    EXPECT_EQ(rows[1].at("channel"), "2");
    EXPECT_EQ(rows[1].at("error"), "");
    EXPECT_EQ(rows[2].at("file"), missing.string());
    EXPECT_EQ(rows[2].at("channel"), "");
    EXPECT_EQ(rows[2].at("error").rfind("cannot read", 0), 0u) << rows[2].at("error");
    EXPECT_EQ(rows[3].at("roughness-dw.mean"), "");
    EXPECT_EQ(rows[3].at("error").rfind("roughness-dw: too short", 0), 0u) << rows[3].at("error");
    EXPECT_NE(rows[3].at("loudness-time.n50"), "");

    const run_result json = run("analyze --format json --series " + options + quoted(good.string()));
    ASSERT_EQ(json.status, 0) << json.err;
    const auto metrics = nlohmann::json::parse(json.out).at("files").at(0).at("results").at(1).at("metrics");
    EXPECT_EQ(std::stod(rows[1].at("roughness-dw.r90")), value(nlohmann::json{{"metrics", metrics}}, "roughness-dw", "r90"));

    struct table {
        const char *metric, *series;
        std::size_t frames, short_rows;  // of each channel of the good file; of the short file
    } tables[] = {{"loudness-time", "loudness", 250, 50}, {"roughness-dw", "roughness", 4, 1}};
    for (const table &t : tables) {
        const std::string text = file_bytes(out.parent_path() / (std::string("r.") + t.metric + ".csv"));
        EXPECT_EQ(text.substr(0, text.find('\n')), std::string("file,channel,time_s,") + t.series + ",error");
        const auto series_rows = csv_rows(text);
        ASSERT_EQ(series_rows.size(), 2 * t.frames + 1 + t.short_rows) << t.metric;
        const auto &want = metrics.at(t.metric).at("series").at(t.series);
        for (std::size_t k = 0; k < t.frames; ++k) {
            const auto &row = series_rows[t.frames + k];  // channel 2
            ASSERT_EQ(row.at("channel"), "2");
            EXPECT_EQ(std::stod(row.at(t.series)), want.at("values").at(k).get<double>()) << t.metric << " frame " << k;
            EXPECT_EQ(std::stod(row.at("time_s")), want.at("axes").at(0).at("values").at(k).get<double>());
        }
        EXPECT_EQ(series_rows[2 * t.frames].at("error").rfind("cannot read", 0), 0u);
        EXPECT_EQ(series_rows[2 * t.frames + 1].at("time_s") == "", t.short_rows == 1) << "too short: a row of its error";
    }
    const run_result to_stdout = run("analyze --format csv --series " + quoted(good.string()));
    EXPECT_EQ(to_stdout.status, 2);
    EXPECT_NE(to_stdout.err.find("give --output"), std::string::npos) << to_stdout.err;
}

// The time span, the settling time and the series files from the command
// line.
TEST(CliAnalyze, StretchSkipAndSeriesDir) {
    const fs::path path = write_audio("stretch.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1, test_signal(48000, 1, 1.0));
    const fs::path dir = scratch() / "series_dir";
    fs::create_directories(dir);
    const run_result r = run("analyze --format json --metrics loudness-time,roughness-dw --start 0.25 --end 0.75 "
                             "--skip 0.2 --series-dir " + quoted(dir.string()) + " " + quoted(path.string()));
    ASSERT_EQ(r.status, 0) << r.err;
    const auto file = nlohmann::json::parse(r.out).at("files").at(0);
    EXPECT_EQ(file.at("start_s").get<double>(), 0.25);
    EXPECT_EQ(file.at("duration_s").get<double>(), 0.5);
    EXPECT_EQ(file.at("series_file").get<std::string>(), (dir / "stretch.nc").string());
    EXPECT_TRUE(fs::file_size(dir / "stretch.nc") > 1000);
    EXPECT_FALSE(file.at("results").at(0).at("metrics").at("loudness-time").contains("series"));

    // The statistics leave out the frames before 0.2 s of the stretch.
    const auto x = pascal_channels(path, 1.0).at(0);
    const std::vector<double> part(x.begin() + 12000, x.begin() + 36000);
    uint64_t frames = 0;
    ASSERT_EQ(qn_roughness_frame_count(part.size(), 48000, &frames), QN_STATUS_SUCCESS);
    std::vector<double> rough(frames);
    ASSERT_EQ(qn_roughness_dw(part.data(), part.size(), 48000, rough.data(), frames, &frames), QN_STATUS_SUCCESS);
    ASSERT_EQ(frames, 4u);  // centres at 0.1, 0.2, 0.3, 0.4 s of the stretch
    const auto channel = file.at("results").at(0);
    EXPECT_EQ(value(channel, "roughness-dw", "max"), std::max({rough[1], rough[2], rough[3]}));
    EXPECT_TRUE(close(value(channel, "roughness-dw", "mean"), (rough[1] + rough[2] + rough[3]) / 3));

    const run_result late = run("analyze --format json --metrics roughness-dw --skip 5 " + quoted(path.string()));
    EXPECT_EQ(late.status, 1);
    EXPECT_NE(late.err.find("roughness-dw: no frame from --skip 5 s on"), std::string::npos) << late.err;
}

TEST(CliAnalyze, TwoChannelsGiveABinauralResultUnlessTurnedOff) {
    const fs::path path =
        write_audio("ears.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 2, test_signal(48000, 2, 0.5));
    const struct {
        const char *options;
        const char *want;  // the channel column of the CSV rows
    } cases[] = {{"--metrics loudness-ecma,tonality-ecma", "1 2 binaural"},
                 {"--metrics loudness-ecma --no-binaural", "1 2"},
                 {"--metrics tonality-ecma", "1 2"},  // tonality has no binaural value
                 {"--metrics loudness-ecma --channel 2", "2"}};
    for (const auto &c : cases) {
        const run_result csv = run(std::string("analyze --format csv ") + c.options + " " + quoted(path.string()));
        ASSERT_EQ(csv.status, 0) << c.options << '\n' << csv.err;
        std::istringstream lines(csv.out);
        std::string line, channels;
        std::getline(lines, line);  // the header
        while (std::getline(lines, line)) {
            const auto first = line.find(',');
            channels += (channels.empty() ? "" : " ") + line.substr(first + 1, line.find(',', first + 1) - first - 1);
        }
        EXPECT_EQ(channels, c.want) << c.options;
        const run_result json = run(std::string("analyze --format json ") + c.options + " " + quoted(path.string()));
        const auto file = nlohmann::json::parse(json.out).at("files").at(0);
        EXPECT_EQ(file.contains("binaural"), std::string(c.want).find("binaural") != std::string::npos) << c.options;
        if (file.contains("binaural")) {
            EXPECT_FALSE(file.at("binaural").contains("channel"));
            EXPECT_FALSE(file.at("binaural").at("metrics").contains("tonality-ecma"));
            EXPECT_GT(file.at("binaural").at("metrics").at("loudness-ecma").at("loudness").at("value").get<double>(), 0);
        }
    }
}
