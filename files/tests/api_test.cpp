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
                {"roughness-ecma", QN_ECMA_ROUGHNESS_MIN_SAMPLES, QN_ECMA_ROUGHNESS_HOP}};
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
