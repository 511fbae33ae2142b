// The file layer's C interface as a host calls it: options and their
// refusals, the metric table against libquarnelo's constants, the reader
// against the resampler and the analysis, and the status of each way a
// file can fail.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "quarnelo_files.h"

namespace {

namespace fs = std::filesystem;

fs::path scratch() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("qnf_api_" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

// Writes `frames` interleaved frames of `channels` to a file of `format`.
std::string write_audio(const std::string &name, int format, int rate, int channels, const std::vector<double> &x) {
    const std::string path = (scratch() / name).string();
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    sf_writef_double(f, x.data(), static_cast<sf_count_t>(x.size() / static_cast<std::size_t>(channels)));
    sf_close(f);
    return path;
}

std::vector<double> tone(std::size_t frames, int channels, int rate) {
    std::vector<double> x(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            x[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                (0.3 + 0.2 * c) * std::sin(2 * M_PI * (1000.0 + 250 * c) * static_cast<double>(i) / rate);
    return x;
}

struct options_owner {
    options_owner() { EXPECT_EQ(qnf_options_create(&o), QN_STATUS_SUCCESS); }
    ~options_owner() { qnf_options_destroy(o); }
    qnf_status set(const char *name, const char *value) {
        char why[256];
        return qnf_options_set(o, name, value, why, sizeof why);
    }
    qnf_options *o = nullptr;
};

// Everything a reader delivers, interleaved, read `block` frames at a time;
// the status of the first failure.
qnf_status read_all(const std::string &path, const options_owner &o, std::vector<double> &out, qnf_format &format,
                    std::string &reason, uint64_t block = 1000) {
    qnf_reader *r = nullptr;
    char why[512];
    qnf_status s = qnf_reader_open(path.c_str(), o.o, &r, why, sizeof why);
    reason = why;
    if (s != QN_STATUS_SUCCESS) return s;
    qnf_reader_format(r, &format);
    std::vector<double> buffer(block * static_cast<uint64_t>(format.channels_read));
    uint64_t n = 0;
    while ((s = qnf_reader_read(r, buffer.data(), block, &n, why, sizeof why)) == QN_STATUS_SUCCESS && n > 0)
        out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n * format.channels_read));
    reason = why;
    qnf_reader_close(r);
    return s;
}

}  // namespace

TEST(FilesApi, OptionsRefuseWhatTheyDoNotTakeAndStayAsTheyWere) {
    const struct {
        const char *name, *value;
        qnf_status want;
    } cases[] = {
        {"metrics", "loudness,roughness-ecma", QN_STATUS_SUCCESS}, {"metrics", "loudness,nope", QNF_STATUS_INVALID_OPTION},
        {"metrics", "", QNF_STATUS_INVALID_OPTION},                {"field", "diffuse", QN_STATUS_SUCCESS},
        {"field", "open", QNF_STATUS_INVALID_OPTION},              {"channel", "all", QN_STATUS_SUCCESS},
        {"channel", "1024", QN_STATUS_SUCCESS},                    {"channel", "0", QNF_STATUS_INVALID_OPTION},
        {"channel", "2x", QNF_STATUS_INVALID_OPTION},              {"pa-per-unit", "1e-9", QN_STATUS_SUCCESS},
        {"pa-per-unit", "0", QNF_STATUS_INVALID_OPTION},           {"pa-per-unit", "nan", QNF_STATUS_INVALID_OPTION},
        {"full-scale-spl", "200", QN_STATUS_SUCCESS},              {"full-scale-spl", "200.5", QNF_STATUS_INVALID_OPTION},
        {"cal-spl", "-1", QNF_STATUS_INVALID_OPTION},              {"resample", "0", QN_STATUS_SUCCESS},
        {"resample", "maybe", QNF_STATUS_INVALID_OPTION},          {"series", "1", QN_STATUS_SUCCESS},
        {"max-memory", "500M", QN_STATUS_SUCCESS},                 {"max-memory", "lots", QNF_STATUS_INVALID_OPTION},
        {"jobs", "256", QN_STATUS_SUCCESS},                        {"jobs", "257", QNF_STATUS_INVALID_OPTION},
        {"colour", "blue", QNF_STATUS_INVALID_OPTION},
        {"percentiles", "5,10,50,90,95", QN_STATUS_SUCCESS},       {"percentiles", "", QN_STATUS_SUCCESS},
        {"percentiles", "2.5,0,100", QN_STATUS_SUCCESS},           {"percentiles", "101", QNF_STATUS_INVALID_OPTION},
        {"percentiles", "5,5.0", QNF_STATUS_INVALID_OPTION},       {"percentiles", "5,", QNF_STATUS_INVALID_OPTION},
        {"percentiles", "n5", QNF_STATUS_INVALID_OPTION},          {"skip", "0.3", QN_STATUS_SUCCESS},
        {"skip", "-1", QNF_STATUS_INVALID_OPTION},                 {"start", "2", QN_STATUS_SUCCESS},
        {"start", "inf", QNF_STATUS_INVALID_OPTION},               {"end", "7.5", QN_STATUS_SUCCESS},
        {"end", "0", QNF_STATUS_INVALID_OPTION},                   {"end", "", QN_STATUS_SUCCESS},
        {"series-dir", "results", QN_STATUS_SUCCESS},              {"series-name", "take.nc", QN_STATUS_SUCCESS},
        {"series-name", "out/take.nc", QNF_STATUS_INVALID_OPTION},
        {"sharpness-weighting", "aures", QN_STATUS_SUCCESS},       {"sharpness-weighting", "DIN", QNF_STATUS_INVALID_OPTION},
        {"band-step", "0.001", QN_STATUS_SUCCESS},                 {"band-step", "3600", QN_STATUS_SUCCESS},
        {"band-step", "0.0009", QNF_STATUS_INVALID_OPTION},        {"band-step", "nan", QNF_STATUS_INVALID_OPTION},
    };
    for (const auto &c : cases) {
        options_owner o;
        char why[256] = "unchanged";
        EXPECT_EQ(qnf_options_set(o.o, c.name, c.value, why, sizeof why), c.want) << c.name << '=' << c.value;
        EXPECT_EQ(why[0] == '\0', c.want == QN_STATUS_SUCCESS) << c.name << '=' << c.value << ": " << why;
    }
    options_owner o;
    char why[8];
    EXPECT_EQ(qnf_options_set(o.o, "pa-per-unit", "-3", why, sizeof why), QNF_STATUS_INVALID_OPTION);
    EXPECT_EQ(std::string(why), "--pa-pe");  // cut to fit, terminated
    EXPECT_EQ(qnf_options_set(nullptr, "jobs", "1", nullptr, 0), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qnf_options_create(nullptr), QN_STATUS_NULL_POINTER);
}

TEST(FilesApi, SingleValuesAreNamedWithThePercentilesOfTheOptions) {
    options_owner o;
    const auto names = [&](uint64_t metric) {
        std::string text;
        for (uint64_t q = 0; q < qnf_options_quantity_count(o.o, metric); ++q) {
            const char *name = nullptr, *unit = nullptr;
            EXPECT_EQ(qnf_options_quantity(o.o, metric, q, &name, &unit), QN_STATUS_SUCCESS);
            text += (text.empty() ? "" : " ") + std::string(name) + "/" + unit;
        }
        return text;
    };
    EXPECT_EQ(names(1), "max/sone max_level/phon n5/sone n5_level/phon n10/sone n10_level/phon mean/sone "
                        "mean_level/phon min/sone min_level/phon");
    EXPECT_EQ(names(3), "mean/asper max/asper min/asper");
    EXPECT_EQ(names(9), "LZeq/dB LAeq/dB LCeq/dB LAFmax/dB LASmax/dB LAFmin/dB LCpeak/dB LAF5/dB LAF10/dB "
                        "LAF50/dB LAF90/dB LAF95/dB");
    ASSERT_EQ(o.set("percentiles", "50,2.5"), QN_STATUS_SUCCESS);
    EXPECT_EQ(names(1), "max/sone max_level/phon n50/sone n50_level/phon n2.5/sone n2.5_level/phon mean/sone "
                        "mean_level/phon min/sone min_level/phon");
    EXPECT_EQ(names(3), "mean/asper max/asper min/asper r50/asper r2.5/asper");
    EXPECT_EQ(names(0), "loudness/sone loudness_level/phon specific_peak/sone/Bark specific_peak_rate/Bark");
    EXPECT_EQ(names(9), "LZeq/dB LAeq/dB LCeq/dB LAFmax/dB LASmax/dB LAFmin/dB LCpeak/dB LAF50/dB LAF2.5/dB");
    // The table's own names are the defaults.
    const char *name = nullptr, *unit = nullptr;
    ASSERT_EQ(qnf_metric_quantity(1, 4, &name, &unit), QN_STATUS_SUCCESS);
    EXPECT_STREQ(name, "n10");

    EXPECT_EQ(qnf_options_quantity_count(nullptr, 1), 0u);
    EXPECT_EQ(qnf_options_quantity_count(o.o, qnf_metric_count()), 0u);
    EXPECT_EQ(qnf_options_quantity(o.o, 1, 0, nullptr, &unit), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qnf_options_quantity(o.o, 1, 10, &name, &unit), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qnf_options_quantity(o.o, qnf_metric_count(), 0, &name, &unit), QN_STATUS_INVALID_ARGUMENT);

    const char *axes = nullptr;
    ASSERT_EQ(qnf_metric_series_info(1, 1, &name, &unit, &axes), QN_STATUS_SUCCESS);
    EXPECT_EQ(std::string(name) + " " + unit + " " + axes, "specific_loudness sone/Bark time bark");
    EXPECT_EQ(qnf_metric_series_info(1, 2, &name, &unit, &axes), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qnf_metric_series_info(1, 0, &name, &unit, nullptr), QN_STATUS_NULL_POINTER);
    ASSERT_EQ(qnf_metric_series_info(10, 1, &name, &unit, &axes), QN_STATUS_SUCCESS);
    EXPECT_EQ(std::string(name) + " " + unit + " " + axes, "band_levels dB time third_octave");
}

TEST(FilesApi, StatisticsExportsCheckTheirArgumentsInOrder) {
    const double v[] = {3, 1, 2}, loudness[] = {1, 1, 1e-4}, bad_percent[] = {50, 101}, percents[] = {50};
    const double with_nan[] = {1, std::nan("")};
    double out[5] = {-1, -1, -1, -1, -1};
    const struct {
        const double *values, *loudness;
        uint64_t count;
        const double *percents;
        uint64_t percent_count;
        double *out;
        uint64_t capacity;
        qnf_status want;
    } cases[] = {
        {nullptr, nullptr, 3, nullptr, 0, out, 3, QN_STATUS_NULL_POINTER},
        {v, nullptr, 3, nullptr, 1, out, 4, QN_STATUS_NULL_POINTER},
        {v, nullptr, 3, nullptr, 0, nullptr, 3, QN_STATUS_NULL_POINTER},
        {v, nullptr, 3, percents, 1, out, 3, QN_STATUS_OUTPUT_TOO_SMALL},
        {v, nullptr, 3, bad_percent, 2, out, 5, QN_STATUS_INVALID_ARGUMENT},
        {with_nan, nullptr, 2, nullptr, 0, out, 3, QN_STATUS_NON_FINITE_INPUT},
        {v, with_nan, 2, nullptr, 0, out, 3, QN_STATUS_NON_FINITE_INPUT},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(qnf_frame_statistics(c.values, c.loudness, c.count, c.percents, c.percent_count, c.out, c.capacity),
                  c.want);
        EXPECT_EQ(out[0], -1.0) << "nothing written on failure";
    }
    ASSERT_EQ(qnf_frame_statistics(v, loudness, 3, percents, 1, out, 4), QN_STATUS_SUCCESS);
    EXPECT_EQ(out[0], 4.0 / 3);  // the silent third frame counts 0
    EXPECT_EQ(out[1], 3.0);
    EXPECT_EQ(out[2], 0.0);
    EXPECT_EQ(out[3], 1.0);
    ASSERT_EQ(qnf_frame_statistics(nullptr, nullptr, 0, nullptr, 0, out, 3), QN_STATUS_SUCCESS);
    EXPECT_EQ(out[0] + out[1] + out[2], 0.0);

    double value = -1, max = -1;
    uint64_t frame = 9;
    EXPECT_EQ(qnf_tonality_ecma_summary(nullptr, 2, 0.1, &value, &max, &frame), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qnf_tonality_ecma_summary(v, 3, 0.1, &value, nullptr, &frame), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qnf_tonality_ecma_summary(v, 3, 0.0, &value, &max, &frame), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qnf_tonality_ecma_summary(with_nan, 2, 0.1, &value, &max, &frame), QN_STATUS_NON_FINITE_INPUT);
    EXPECT_EQ(value, -1.0);
    EXPECT_EQ(frame, 9u);
}

TEST(FilesApi, MetricTableTakesTheLibrarysGeometry) {
    const struct {
        const char *name;
        uint64_t min_samples, hop;
    } want[] = {{"loudness", QN_LOUDNESS_MIN_SAMPLES, 0},
                {"loudness-time", 1, QN_LOUDNESS_TIME_HOP},
                {"sharpness", QN_LOUDNESS_MIN_SAMPLES, QN_LOUDNESS_TIME_HOP},
                {"roughness-dw", QN_ROUGHNESS_DW_FRAME_LENGTH, QN_ROUGHNESS_DW_HOP},
                {"tonality-aures", QN_TONALITY_AURES_FRAME_LENGTH, QN_TONALITY_AURES_HOP},
                {"tonality-ecma", QN_ECMA_TONAL_MIN_SAMPLES, QN_ECMA_TONAL_HOP},
                {"roughness-ecma", QN_ECMA_ROUGHNESS_MIN_SAMPLES, QN_ECMA_ROUGHNESS_HOP},
                {"loudness-ecma", QN_ECMA_TONAL_MIN_SAMPLES, QN_ECMA_TONAL_HOP},
                {"fluctuation-ecma", QN_ECMA_FLUCTUATION_MIN_SAMPLES, QN_ECMA_FLUCTUATION_HOP},
                {"spl", QN_SOUND_LEVEL_STEP + 1, QN_SOUND_LEVEL_STEP},
                {"levels", QN_LOUDNESS_MIN_SAMPLES, 4800}};
    ASSERT_EQ(qnf_metric_count(), std::size(want));
    for (uint64_t i = 0; i < qnf_metric_count(); ++i) {
        qnf_metric_info m{};
        ASSERT_EQ(qnf_metric_describe(i, &m), QN_STATUS_SUCCESS);
        EXPECT_STREQ(m.name, want[i].name);
        EXPECT_EQ(m.min_samples, want[i].min_samples) << m.name;
        EXPECT_EQ(m.hop, want[i].hop) << m.name;
        EXPECT_GE(m.quantity_count, 2u) << m.name;
        const char *name = nullptr, *unit = nullptr;
        EXPECT_EQ(qnf_metric_quantity(i, m.quantity_count, &name, &unit), QN_STATUS_INVALID_ARGUMENT);
        // The table's own names are those of options at their defaults.
        options_owner o;
        ASSERT_EQ(qnf_options_quantity_count(o.o, i), m.quantity_count) << m.name;
        for (uint64_t q = 0; q < m.quantity_count; ++q) {
            const char *option_name = nullptr, *option_unit = nullptr;
            ASSERT_EQ(qnf_metric_quantity(i, q, &name, &unit), QN_STATUS_SUCCESS);
            ASSERT_EQ(qnf_options_quantity(o.o, i, q, &option_name, &option_unit), QN_STATUS_SUCCESS);
            EXPECT_STREQ(name, option_name) << m.name;
            EXPECT_STREQ(unit, option_unit) << m.name;
        }
    }
    qnf_metric_info m{};
    EXPECT_EQ(qnf_metric_describe(qnf_metric_count(), &m), QN_STATUS_INVALID_ARGUMENT);
}

TEST(FilesApi, ReaderDeliversResampledThenCalibratedSamplesAsTheAnalysisSeesThem) {
    const std::vector<double> x = tone(30000, 2, 44100);
    const std::string path = write_audio("cd.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 44100, 2, x);
    options_owner o;
    ASSERT_EQ(o.set("channel", "2"), QN_STATUS_SUCCESS);
    ASSERT_EQ(o.set("full-scale-spl", "100"), QN_STATUS_SUCCESS);
    std::vector<double> got;
    qnf_format f{};
    std::string reason;
    ASSERT_EQ(read_all(path, o, got, f, reason, 777), QN_STATUS_SUCCESS) << reason;
    EXPECT_EQ(f.sample_rate, 44100);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.resampled, 1);
    EXPECT_EQ(f.channels_read, 1);
    EXPECT_EQ(f.first_channel, 2);

    // The second channel resampled as one array, then scaled.
    std::vector<double> raw(30000), want(40000);
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = x[2 * i + 1];
    uint64_t n = 0;
    ASSERT_EQ(qnf_resample(raw.data(), raw.size(), 44100, want.data(), want.size(), &n), QN_STATUS_SUCCESS);
    want.resize(n);
    const double factor = 20e-6 * std::pow(10.0, 100.0 / 20) * std::sqrt(2.0);
    for (double &v : want) v *= factor;
    EXPECT_EQ(got, want);

    // The analysis of the file sees those very samples.
    ASSERT_EQ(o.set("metrics", "loudness"), QN_STATUS_SUCCESS);
    qnf_results *r = nullptr;
    const char *paths[] = {path.c_str()};
    ASSERT_EQ(qnf_analyze_files(paths, 1, o.o, nullptr, nullptr, &r, nullptr, 0), QN_STATUS_SUCCESS);
    double analysed = 0, direct = 0;
    qnf_metric_value(qnf_channel_metric(qnf_file_channel(qnf_results_file(r, 0), 0), 0), 0, nullptr, &analysed,
                     nullptr);
    ASSERT_EQ(qn_loudness_stationary(got.data(), got.size(), 48000, QN_SOUND_FIELD_FREE, &direct, nullptr, 0),
              QN_STATUS_SUCCESS);
    EXPECT_EQ(analysed, direct);
    qnf_results_destroy(r);
}

TEST(FilesApi, EachWayAFileFailsHasItsStatusInReaderAndAnalysis) {
    std::vector<double> nan = tone(20000, 1, 48000);
    nan[12345] = std::nan("");
    const std::string truncated = write_audio("cut.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, tone(20000, 1, 48000));
    fs::resize_file(truncated, 20000);
    const std::string garbage = (scratch() / "garbage.wav").string();
    {
        std::FILE *g = std::fopen(garbage.c_str(), "wb");
        std::fputs("RIFF, but not quite", g);
        std::fclose(g);
    }
    const struct {
        std::string path;
        const char *option, *value;
        qnf_status want;
        const char *reason;  // the start of the reason
    } cases[] = {
        {truncated, nullptr, nullptr, QNF_STATUS_TRUNCATED, "truncated: "},
        {garbage, nullptr, nullptr, QNF_STATUS_UNREADABLE, "cannot read audio"},
        {(scratch() / "missing.wav").string(), nullptr, nullptr, QNF_STATUS_UNREADABLE, "cannot read"},
        {scratch().string(), nullptr, nullptr, QNF_STATUS_UNREADABLE, "is a directory"},
        {write_audio("slow.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 800, 1, tone(800, 1, 800)), nullptr, nullptr,
         QNF_STATUS_UNSUPPORTED, "sample rate 800 Hz is outside"},
        {write_audio("cd2.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 1, tone(800, 1, 44100)), "resample", "0",
         QNF_STATUS_UNSUPPORTED, "sample rate 44100 Hz; the metrics need 48000 Hz"},
        {write_audio("mono.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, tone(800, 1, 48000)), "channel", "2",
         QNF_STATUS_UNSUPPORTED, "has 1 channel(s), channel 2 asked for"},
        {write_audio("long.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, tone(800, 1, 48000)), "max-memory", "1M",
         QNF_STATUS_MEMORY_LIMIT, "needs about"},
        {write_audio("nan.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 1, nan), nullptr, nullptr,
         QN_STATUS_NON_FINITE_INPUT, "sample 12345 is NaN or infinite"},
    };
    for (const auto &c : cases) {
        options_owner o;
        if (c.option != nullptr) {
            ASSERT_EQ(o.set(c.option, c.value), QN_STATUS_SUCCESS);
        }
        std::vector<double> x;
        qnf_format f{};
        std::string reason;
        EXPECT_EQ(read_all(c.path, o, x, f, reason), c.want) << c.path;
        EXPECT_EQ(reason.rfind(c.reason, 0), 0u) << c.path << ": " << reason;
        qnf_results *r = nullptr;
        const char *paths[] = {c.path.c_str()};
        ASSERT_EQ(qnf_analyze_files(paths, 1, o.o, nullptr, nullptr, &r, nullptr, 0), QN_STATUS_SUCCESS);
        const qnf_file_result *file = qnf_results_file(r, 0);
        if (c.want == QN_STATUS_NON_FINITE_INPUT) {  // the channel's failure, not the file's
            EXPECT_EQ(qnf_file_error(file), nullptr);
            EXPECT_STREQ(qnf_channel_error(qnf_file_channel(file, 0)), reason.c_str());
        } else if (c.want == QNF_STATUS_MEMORY_LIMIT) {  // a reader holds no analysis: it needs less
            EXPECT_EQ(qnf_file_status(file), c.want) << c.path;
            EXPECT_EQ(std::string(qnf_file_error(file)).rfind(c.reason, 0), 0u) << qnf_file_error(file);
        } else {
            EXPECT_EQ(qnf_file_status(file), c.want) << c.path;
            EXPECT_STREQ(qnf_file_error(file), reason.c_str());
        }
        qnf_results_destroy(r);
    }
}

TEST(FilesApi, ReaderKeepsGivingNothingAfterTheEndAndRefusesNoRoom) {
    const std::string path = write_audio("short.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 1, tone(100, 1, 48000));
    options_owner o;
    qnf_reader *r = nullptr;
    ASSERT_EQ(qnf_reader_open(path.c_str(), o.o, &r, nullptr, 0), QN_STATUS_SUCCESS);
    double out[200];
    uint64_t n = 99;
    EXPECT_EQ(qnf_reader_read(r, out, 0, &n, nullptr, 0), QN_STATUS_OUTPUT_TOO_SMALL);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(qnf_reader_read(r, out, 200, &n, nullptr, 0), QN_STATUS_SUCCESS);
    EXPECT_EQ(n, 100u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(qnf_reader_read(r, out, 200, &n, nullptr, 0), QN_STATUS_SUCCESS);
        EXPECT_EQ(n, 0u);
    }
    char text[128];
    double factor = 0;
    EXPECT_EQ(qnf_reader_calibration(r, 0, &factor, text, sizeof text), QN_STATUS_SUCCESS);
    EXPECT_EQ(factor, 1.0);
    EXPECT_STREQ(text, "pa-per-unit 1");
    EXPECT_EQ(qnf_reader_calibration(r, 1, &factor, text, sizeof text), QN_STATUS_INVALID_ARGUMENT);
    qnf_reader_close(r);
}

// The analysis of a stretch is that of a file holding only its frames, to
// the bit, with the series' times in the file; reading gives its samples.
TEST(FilesApi, StretchIsTheAnalysisOfTheFileCutToIt) {
    const std::vector<double> x = tone(9 * 48000 + 17, 2, 48000);
    const std::string whole = write_audio("whole.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 2, x);
    const std::string cut = write_audio("cut2to7.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 48000, 2,
                                        std::vector<double>(x.begin() + 2 * 96000, x.begin() + 2 * 336000));
    const auto analyse = [](const std::string &path, bool stretch) {
        // Every metric but the costliest, tonality-ecma: the stretch is cut
        // before any metric sees a sample.
        options_owner o;
        EXPECT_EQ(o.set("metrics", "loudness,loudness-time,sharpness,roughness-dw,tonality-aures,roughness-ecma"),
                  QN_STATUS_SUCCESS);
        EXPECT_EQ(o.set("series", "1"), QN_STATUS_SUCCESS);
        EXPECT_EQ(o.set("jobs", "2"), QN_STATUS_SUCCESS);
        if (stretch) {
            EXPECT_EQ(o.set("start", "2"), QN_STATUS_SUCCESS);
            EXPECT_EQ(o.set("end", "7"), QN_STATUS_SUCCESS);
        }
        qnf_results *r = nullptr;
        const char *paths[] = {path.c_str()};
        EXPECT_EQ(qnf_analyze_files(paths, 1, o.o, nullptr, nullptr, &r, nullptr, 0), QN_STATUS_SUCCESS);
        return r;
    };
    qnf_results *a = analyse(whole, true), *b = analyse(cut, false);
    const qnf_file_result *fa = qnf_results_file(a, 0), *fb = qnf_results_file(b, 0);
    ASSERT_EQ(qnf_file_error(fa), nullptr);
    EXPECT_EQ(qnf_file_start(fa), 2.0);
    EXPECT_EQ(qnf_file_duration(fa), 5.0);
    ASSERT_EQ(qnf_file_channel_count(fa), 2u);
    std::size_t compared = 0;
    for (uint64_t c = 0; c < 2; ++c) {
        const qnf_channel_result *ca = qnf_file_channel(fa, c), *cb = qnf_file_channel(fb, c);
        ASSERT_EQ(qnf_channel_metric_count(ca), 6u);
        for (uint64_t m = 0; m < qnf_channel_metric_count(ca); ++m) {
            const qnf_metric_result *ma = qnf_channel_metric(ca, m), *mb = qnf_channel_metric(cb, m);
            const std::string name = qnf_metric_name(ma);
            ASSERT_EQ(qnf_metric_error(ma), nullptr) << name;
            ASSERT_EQ(qnf_metric_value_count(ma), qnf_metric_value_count(mb)) << name;
            for (uint64_t v = 0; v < qnf_metric_value_count(ma); ++v) {
                double va = 0, vb = 1;
                qnf_metric_value(ma, v, nullptr, &va, nullptr);
                qnf_metric_value(mb, v, nullptr, &vb, nullptr);
                EXPECT_EQ(va, vb) << name << " value " << v;
            }
            for (uint64_t k = 0; k < qnf_metric_series_count(ma); ++k) {
                const qnf_series *sa = qnf_metric_series(ma, k), *sb = qnf_metric_series(mb, k);
                std::vector<double> da(qnf_series_value_count(sa)), db(qnf_series_value_count(sb));
                ASSERT_EQ(qnf_series_values(sa, 0, da.data(), da.size()), QN_STATUS_SUCCESS);
                ASSERT_EQ(qnf_series_values(sb, 0, db.data(), db.size()), QN_STATUS_SUCCESS);
                EXPECT_TRUE(da == db) << qnf_series_variable(sa);
                double ta = 0, tb = 0;
                ASSERT_EQ(qnf_series_axis_points(sa, 0, 1, &ta, 1) + qnf_series_axis_points(sb, 0, 1, &tb, 1), 0);
                if (std::string(qnf_series_axis_dimension(sa, 0)).find(".time") != std::string::npos) {
                    EXPECT_NEAR(ta, tb + 2.0, 1e-12) << "times in the file";
                }
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 2u * 8);
    qnf_results_destroy(a);
    qnf_results_destroy(b);

    // Reading the stretch gives the cut file's samples; the stretch may run
    // past the end.
    options_owner o;
    ASSERT_EQ(o.set("start", "8.5"), QN_STATUS_SUCCESS);
    ASSERT_EQ(o.set("end", "100"), QN_STATUS_SUCCESS);
    std::vector<double> got;
    qnf_format f{};
    std::string reason;
    ASSERT_EQ(read_all(whole, o, got, f, reason, 1000), QN_STATUS_SUCCESS) << reason;
    EXPECT_TRUE(got == std::vector<double>(x.begin() + 2 * 408000, x.end()));

    // A stretch beyond the file is its error; an end before the start, the run's.
    ASSERT_EQ(o.set("start", "9.5"), QN_STATUS_SUCCESS);
    qnf_results *r = nullptr;
    const char *paths[] = {whole.c_str()};
    ASSERT_EQ(qnf_analyze_files(paths, 1, o.o, nullptr, nullptr, &r, nullptr, 0), QN_STATUS_SUCCESS);
    EXPECT_EQ(qnf_file_status(qnf_results_file(r, 0)), QN_STATUS_INPUT_TOO_SHORT);
    EXPECT_STREQ(qnf_file_error(qnf_results_file(r, 0)),
                 "--start 9.5 s lies at or beyond the end of the file (9.00035417 s)");
    qnf_results_destroy(r);
    ASSERT_EQ(o.set("start", "0.000001"), QN_STATUS_SUCCESS);
    ASSERT_EQ(o.set("end", "0.000002"), QN_STATUS_SUCCESS);  // both frame 0
    ASSERT_EQ(qnf_analyze_files(paths, 1, o.o, nullptr, nullptr, &r, nullptr, 0), QN_STATUS_SUCCESS);
    EXPECT_STREQ(qnf_file_error(qnf_results_file(r, 0)), "--start 0 s and --end 0 s hold no frame at 48000 Hz");
    qnf_results_destroy(r);
    ASSERT_EQ(o.set("start", "9.5"), QN_STATUS_SUCCESS);
    ASSERT_EQ(o.set("end", "9"), QN_STATUS_SUCCESS);
    char why[256];
    EXPECT_EQ(qnf_analyze_files(paths, 1, o.o, nullptr, nullptr, &r, why, sizeof why), QNF_STATUS_INVALID_OPTION);
    EXPECT_STREQ(why, "--end 9 s is not after --start 9.5 s");
}

TEST(FilesApi, ExceededByNearestRankAndItsRefusals) {
    const double v[] = {5, 1, 4, 2, 3};
    double got = -1;
    EXPECT_EQ(qnf_exceeded(v, 5, 20, &got), QN_STATUS_SUCCESS);
    EXPECT_EQ(got, 4.0);  // rank ceil(80 * 5 / 100) = 4 of 1 ... 5
    EXPECT_EQ(qnf_exceeded(v, 0, 5, &got), QN_STATUS_SUCCESS);
    EXPECT_EQ(got, 0.0);
    EXPECT_EQ(qnf_exceeded(v, 5, 101, &got), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qnf_exceeded(nullptr, 5, 5, &got), QN_STATUS_NULL_POINTER);
    const double with_nan[] = {1, std::nan("")};
    EXPECT_EQ(qnf_exceeded(with_nan, 2, 5, &got), QN_STATUS_NON_FINITE_INPUT);
}
