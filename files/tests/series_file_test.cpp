// Series files read back with the netCDF library and held to libquarnelo
// called directly on the same samples; their names, and a failure that
// leaves nothing under the name.
#include <gtest/gtest.h>
#include <netcdf.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "quarnelo_files.h"

namespace {

namespace fs = std::filesystem;

fs::path scratch(const std::string &name) {
    const fs::path d = fs::temp_directory_path() / ("qnf_series_" + std::to_string(::getpid())) / name;
    fs::create_directories(d);
    return d;
}

// Two channels of modulated tones, written as doubles.
std::vector<double> write_stereo(const fs::path &path, std::size_t frames) {
    std::vector<double> x(2 * frames);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 48000;
        x[2 * i] = 0.05 * (1 + std::sin(2 * M_PI * 70 * t)) * std::sin(2 * M_PI * 1000 * t);
        x[2 * i + 1] = 0.02 * std::sin(2 * M_PI * 2500 * t) + 0.01 * std::sin(2 * M_PI * 300 * t);
    }
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_DOUBLE;
    SNDFILE *f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(f, nullptr);
    sf_writef_double(f, x.data(), static_cast<sf_count_t>(frames));
    sf_close(f);
    return x;
}

struct results_owner {
    ~results_owner() { qnf_results_destroy(r); }
    qnf_results *r = nullptr;
};

qnf_results *analyse(const std::vector<std::string> &files, const std::vector<std::pair<const char *, std::string>> &set) {
    qnf_options *o = nullptr;
    EXPECT_EQ(qnf_options_create(&o), QN_STATUS_SUCCESS);
    for (const auto &[name, value] : set) EXPECT_EQ(qnf_options_set(o, name, value.c_str(), nullptr, 0), QN_STATUS_SUCCESS) << name;
    std::vector<const char *> paths;
    for (const std::string &f : files) paths.push_back(f.c_str());
    qnf_results *r = nullptr;
    EXPECT_EQ(qnf_analyze_files(paths.data(), paths.size(), o, nullptr, nullptr, &r, nullptr, 0), QN_STATUS_SUCCESS);
    qnf_options_destroy(o);
    return r;
}

std::string text_attribute(int file, int var, const char *name) {
    std::size_t length = 0;
    if (nc_inq_attlen(file, var, name, &length) != NC_NOERR) return "(none)";
    std::string text(length, '\0');
    nc_get_att_text(file, var, name, text.data());
    return text;
}

std::size_t dimension_length(int file, const char *name) {
    int id = -1;
    std::size_t length = 0;
    if (nc_inq_dimid(file, name, &id) != NC_NOERR) return 0;
    nc_inq_dimlen(file, id, &length);
    return length;
}

// Variable `name` of one channel, every value.
std::vector<double> channel_values(int file, const char *name, std::size_t channel) {
    int var = -1, dims = 0;
    EXPECT_EQ(nc_inq_varid(file, name, &var), NC_NOERR) << name;
    nc_inq_varndims(file, var, &dims);
    std::vector<int> ids(static_cast<std::size_t>(dims));
    nc_inq_vardimid(file, var, ids.data());
    std::vector<std::size_t> start(ids.size(), 0), count(ids.size(), 1);
    std::size_t total = 1;
    for (std::size_t i = 1; i < ids.size(); ++i) {
        nc_inq_dimlen(file, ids[i], &count[i]);
        total *= count[i];
    }
    start[0] = channel;
    std::vector<double> v(total);
    EXPECT_EQ(nc_get_vara_double(file, var, start.data(), count.data(), v.data()), NC_NOERR) << name;
    return v;
}

// Every value within the rounding of 16 significant bits of its own.
::testing::AssertionResult rounded_alike(const std::vector<double> &got, const std::vector<double> &want) {
    if (got.size() != want.size())
        return ::testing::AssertionFailure() << got.size() << " values, expected " << want.size();
    for (std::size_t i = 0; i < got.size(); ++i)
        if (!(std::fabs(got[i] - want[i]) <= 0x1p-16 * std::fabs(want[i]) + 1e-37))
            return ::testing::AssertionFailure() << "value " << i << ": " << got[i] << ", expected " << want[i];
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST(FilesSeriesFile, ReadBackWithTheNetcdfLibraryAsTheLibraryComputesIt) {
    const fs::path dir = scratch("read_back");
    const fs::path input = dir / "in" / "take.wav";
    fs::create_directories(input.parent_path());
    const std::vector<double> x = write_stereo(input, 48000);
    fs::create_directories(dir / "nc");
    results_owner r;
    r.r = analyse({input.string()}, {{"metrics", "loudness,loudness-time,roughness-dw,roughness-ecma"},
                                     {"series-dir", (dir / "nc").string() + "/"},
                                     {"pa-per-unit", "2"},
                                     {"field", "diffuse"}});
    const qnf_file_result *f = qnf_results_file(r.r, 0);
    ASSERT_EQ(qnf_file_series_error(f), nullptr) << qnf_file_series_error(f);
    const std::string path = (dir / "nc" / "take.nc").string();
    ASSERT_STREQ(qnf_file_series_file(f), path.c_str());
    EXPECT_EQ(qnf_metric_series_count(qnf_channel_metric(qnf_file_channel(f, 0), 1)), 0u)
        << "without option series the file holds them, not the results";

    int nc = -1;
    ASSERT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR);
    EXPECT_EQ(dimension_length(nc, "channel"), 2u);
    EXPECT_EQ(dimension_length(nc, "bark"), 240u);
    EXPECT_EQ(dimension_length(nc, "band"), 53u);
    EXPECT_EQ(dimension_length(nc, "loudness-time.time"), 500u);
    EXPECT_EQ(dimension_length(nc, "roughness-dw.time"), 9u);
    EXPECT_EQ(dimension_length(nc, "roughness-ecma.time"), 51u);
    EXPECT_EQ(text_attribute(nc, NC_GLOBAL, "input_file"), input.string());
    EXPECT_EQ(text_attribute(nc, NC_GLOBAL, "calibration"), "pa-per-unit 2");
    EXPECT_EQ(text_attribute(nc, NC_GLOBAL, "field"), "diffuse");
    double duration = 0;
    EXPECT_EQ(nc_get_att_double(nc, NC_GLOBAL, "duration_s", &duration), NC_NOERR);
    EXPECT_EQ(duration, 1.0);
    const struct {
        const char *variable, *units;
    } units[] = {{"loudness.specific_loudness", "sone/Bark"}, {"loudness-time.loudness", "sone"},
                 {"loudness-time.specific_loudness", "sone/Bark"}, {"roughness-dw.roughness", "asper"},
                 {"roughness-ecma.roughness", "asper"}, {"roughness-ecma.specific_roughness", "asper/Bark"},
                 {"loudness-time.time", "s"}, {"bark", "Bark"}, {"band", "Bark"}, {"band_frequency", "Hz"}};
    for (const auto &u : units) {
        int var = -1;
        ASSERT_EQ(nc_inq_varid(nc, u.variable, &var), NC_NOERR) << u.variable;
        EXPECT_EQ(text_attribute(nc, var, "units"), u.units) << u.variable;
    }
    int var = -1, shuffle = 0, deflate = 0, level = 0;
    nc_inq_varid(nc, "loudness-time.specific_loudness", &var);
    nc_inq_var_deflate(nc, var, &shuffle, &deflate, &level);
    EXPECT_TRUE(shuffle && deflate) << "compressed";

    // Channel 2 as the library computes it, called directly.
    std::vector<double> ch(48000);
    for (std::size_t i = 0; i < ch.size(); ++i) ch[i] = 2 * x[2 * i + 1];
    std::vector<double> n(500), specific(500 * 240), stationary(240), rough(9), ecma(51 * 53);
    uint64_t frames = 0;
    double total = 0;
    ASSERT_EQ(qn_loudness_time(ch.data(), ch.size(), 48000, QN_SOUND_FIELD_DIFFUSE, n.data(), 500, specific.data(),
                               specific.size(), &frames),
              QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_loudness_stationary(ch.data(), ch.size(), 48000, QN_SOUND_FIELD_DIFFUSE, &total, stationary.data(), 240),
              QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_roughness_dw(ch.data(), ch.size(), 48000, rough.data(), 9, &frames), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_roughness_ecma(ch.data(), ch.size(), 48000, QN_SOUND_FIELD_DIFFUSE, ecma.data(), ecma.size(), &frames),
              QN_STATUS_SUCCESS);
    EXPECT_TRUE(rounded_alike(channel_values(nc, "loudness-time.loudness", 1), n));
    EXPECT_TRUE(rounded_alike(channel_values(nc, "loudness-time.specific_loudness", 1), specific));
    EXPECT_TRUE(rounded_alike(channel_values(nc, "loudness.specific_loudness", 1), stationary));
    EXPECT_TRUE(rounded_alike(channel_values(nc, "roughness-dw.roughness", 1), rough));
    EXPECT_TRUE(rounded_alike(channel_values(nc, "roughness-ecma.specific_roughness", 1), ecma));

    // Coordinates in doubles: frame centres, the bands' rates and frequencies.
    std::vector<double> times(9), bands(53), hz(53);
    nc_inq_varid(nc, "roughness-dw.time", &var);
    nc_get_var_double(nc, var, times.data());
    for (std::size_t k = 0; k < times.size(); ++k) EXPECT_EQ(times[k], 0.1 + static_cast<double>(k) * 0.1) << k;
    nc_inq_varid(nc, "band", &var);
    nc_get_var_double(nc, var, bands.data());
    nc_inq_varid(nc, "band_frequency", &var);
    nc_get_var_double(nc, var, hz.data());
    EXPECT_EQ(bands[52], 26.5);
    EXPECT_NEAR(hz[0], 81.9289 / 0.1618 * std::sinh(0.1618 * 0.5), 1e-9);
    nc_inq_varid(nc, "roughness-ecma.specific_roughness", &var);
    EXPECT_EQ(text_attribute(nc, var, "coordinates"), "band_frequency");
    nc_close(nc);
}

TEST(FilesSeriesFile, BandLevelsLieOnAThirdOctaveDimensionAndTheLevelsOfSilenceStayInfinite) {
    const fs::path dir = scratch("levels");
    const fs::path input = dir / "take.wav";
    std::vector<double> x = write_stereo(input, 48000);
    // Channel 2 silent from the start: its LAF is -inf throughout.
    for (std::size_t i = 0; i < 48000; ++i) x[2 * i + 1] = 0;
    SF_INFO info{48000, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 0, 0};
    SNDFILE *out = sf_open(input.c_str(), SFM_WRITE, &info);
    ASSERT_NE(out, nullptr);
    sf_writef_double(out, x.data(), 48000);
    sf_close(out);
    results_owner r;
    r.r = analyse({input.string()}, {{"metrics", "spl,levels"}, {"series-dir", dir.string()}, {"band-step", "0.25"}});
    const qnf_file_result *f = qnf_results_file(r.r, 0);
    ASSERT_EQ(qnf_file_series_error(f), nullptr) << qnf_file_series_error(f);
    int nc = -1;
    ASSERT_EQ(nc_open((dir / "take.nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
    EXPECT_EQ(dimension_length(nc, "third_octave"), 28u);
    EXPECT_EQ(dimension_length(nc, "levels.time"), 4u);
    EXPECT_EQ(dimension_length(nc, "spl.time"), 99u);
    std::vector<double> centres(28);
    int var = -1;
    nc_inq_varid(nc, "third_octave", &var);
    nc_get_var_double(nc, var, centres.data());
    EXPECT_TRUE(std::equal(centres.begin(), centres.end(), qn_third_octave_centres_hz()));
    EXPECT_EQ(text_attribute(nc, var, "units"), "Hz");

    std::vector<double> ch(48000), levels(28), series(4 * 28);
    for (std::size_t i = 0; i < ch.size(); ++i) ch[i] = x[2 * i];
    uint64_t points = 0;
    ASSERT_EQ(qn_band_levels(ch.data(), ch.size(), 48000, 12000, levels.data(), 28, series.data(), series.size(),
                             &points),
              QN_STATUS_SUCCESS);
    EXPECT_TRUE(rounded_alike(channel_values(nc, "levels.band_levels", 0), series));
    EXPECT_TRUE(rounded_alike(channel_values(nc, "levels.spectrum", 0), levels));
    for (double v : channel_values(nc, "spl.LAF", 1)) ASSERT_EQ(v, -HUGE_VAL);
    nc_close(nc);
}

TEST(FilesSeriesFile, NamesFollowTheInputsAndTakeANumberWhenTaken) {
    const char *paths[] = {"a/take.wav", "b/take.wav", "take.flac", "-", "take_2.wav", "noext", ".hidden", "x.y.z"};
    const char *want[] = {"take.nc", "take_2.nc", "take_3.nc", "stdin.nc", "take_2_2.nc", "noext.nc", ".hidden.nc",
                          "x.y.nc"};
    char name[64];
    for (uint64_t i = 0; i < std::size(paths); ++i) {
        ASSERT_EQ(qnf_series_file_name(paths, std::size(paths), i, name, sizeof name), QN_STATUS_SUCCESS);
        EXPECT_STREQ(name, want[i]) << paths[i];
    }
    std::strcpy(name, "unchanged");
    EXPECT_EQ(qnf_series_file_name(nullptr, 1, 0, name, sizeof name), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qnf_series_file_name(paths, 2, 0, nullptr, 8), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qnf_series_file_name(paths, 2, 2, name, sizeof name), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(qnf_series_file_name(paths, 2, 0, name, 7), QN_STATUS_OUTPUT_TOO_SMALL);
    EXPECT_STREQ(name, "unchanged");
}

TEST(FilesSeriesFile, TwoInputsOfOneNameGetTwoFilesAndAFailureLeavesNone) {
    const fs::path dir = scratch("names");
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    write_stereo(dir / "a" / "x.wav", 20000);
    write_stereo(dir / "b" / "x.wav", 20000);
    // The second file's name is taken by a directory: it cannot be renamed there.
    fs::create_directories(dir / "out" / "x_2.nc");
    results_owner r;
    r.r = analyse({(dir / "a" / "x.wav").string(), (dir / "b" / "x.wav").string()},
                  {{"metrics", "loudness-time"}, {"series-dir", (dir / "out").string()}, {"series", "1"}, {"jobs", "2"}});
    const qnf_file_result *first = qnf_results_file(r.r, 0), *second = qnf_results_file(r.r, 1);
    EXPECT_STREQ(qnf_file_series_file(first), (dir / "out" / "x.nc").c_str());
    EXPECT_EQ(qnf_file_series_file(second), nullptr);
    ASSERT_NE(qnf_file_series_error(second), nullptr);
    EXPECT_EQ(std::string(qnf_file_series_error(second)).rfind("series file " + (dir / "out" / "x_2.nc").string() + ": cannot name it", 0), 0u)
        << qnf_file_series_error(second);
    EXPECT_EQ(qnf_file_error(second), nullptr) << "its values are there";
    EXPECT_EQ(qnf_metric_series_count(qnf_channel_metric(qnf_file_channel(second, 0), 0)), 2u) << "option series keeps them";
    std::vector<std::string> left;
    for (const auto &e : fs::directory_iterator(dir / "out")) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"x.nc", "x_2.nc"})) << "no half-written file beside them";
    EXPECT_TRUE(fs::is_directory(dir / "out" / "x_2.nc"));

    // A directory that is not there is refused before anything is read.
    qnf_options *o = nullptr;
    ASSERT_EQ(qnf_options_create(&o), QN_STATUS_SUCCESS);
    ASSERT_EQ(qnf_options_set(o, "series-dir", (dir / "missing").c_str(), nullptr, 0), QN_STATUS_SUCCESS);
    const char *paths[] = {"-"};
    char why[256];
    qnf_results *none = nullptr;
    EXPECT_EQ(qnf_analyze_files(paths, 1, o, nullptr, nullptr, &none, why, sizeof why), QNF_STATUS_INVALID_OPTION);
    EXPECT_EQ(std::string(why), "--series-dir " + (dir / "missing").string() + " is not a directory that can be written");
    qnf_options_destroy(o);
}
