// The statistics over frames against the table of cases the Python package
// is held to as well, and the names and order of every metric's single
// values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "quarnelo_files.h"
#include "statistics.h"

namespace {

nlohmann::json cases() {
    std::ifstream in(QUARNELO_STATISTICS_CASES);
    return nlohmann::json::parse(in);
}

::testing::AssertionResult near(double got, double expected) {
    if (std::fabs(got - expected) <= 1e-12 * std::fabs(expected)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << got << ", expected " << expected;
}

std::string names_of(const qnf::metric &m, const std::vector<double> &percentiles) {
    std::string text;
    for (const auto &q : qnf::quoted_names(m, percentiles)) text += (text.empty() ? "" : " ") + q.name;
    return text;
}

}  // namespace

TEST(FilesStatistics, SilentFloorIsTheTablesFloor) {
    EXPECT_EQ(qnf::silent_floor_sone, cases().at("silent_floor_sone").get<double>());
}

TEST(FilesStatistics, ExceededByNearestRank) {
    const nlohmann::json all = cases();
    for (const auto &c : all.at("exceeded")) {
        const auto values = c.at("values").get<std::vector<double>>();
        for (const auto &[percent, expected] : c.at("percent").items()) {
            EXPECT_EQ(qnf::exceeded_percent(values, std::stod(percent)), expected.get<double>())
                << c.at("name").get<std::string>() << ", " << percent << " %";
        }
    }
    EXPECT_EQ(qnf::exceeded_percent({}, 5), 0.0);
}

// Through the C interface, as the Python package calls it.
TEST(FilesStatistics, LoudnessAndSharpnessOverFramesWithSilentFrames) {
    const nlohmann::json all = cases();
    const double percents[] = {5, 10};
    for (const auto &c : all.at("frames")) {
        SCOPED_TRACE(c.at("name").get<std::string>());
        const auto loudness = c.at("loudness").get<std::vector<double>>();
        const auto sharpness = c.at("sharpness").get<std::vector<double>>();
        const auto &e = c.at("expected");
        double n[5], s[3];
        ASSERT_EQ(qnf_frame_statistics(loudness.data(), loudness.data(), loudness.size(), percents, 2, n, 5),
                  QN_STATUS_SUCCESS);
        EXPECT_TRUE(near(n[0], e.at("mean").get<double>()));
        EXPECT_EQ(n[1], e.at("max").get<double>());
        EXPECT_EQ(n[2], e.at("min").get<double>());
        EXPECT_EQ(n[3], e.at("n5").get<double>());
        EXPECT_EQ(n[4], e.at("n10").get<double>());
        ASSERT_EQ(qnf_frame_statistics(sharpness.data(), loudness.data(), sharpness.size(), nullptr, 0, s, 3),
                  QN_STATUS_SUCCESS);
        EXPECT_TRUE(near(s[0], e.at("sharpness_mean").get<double>()));
        EXPECT_EQ(s[1], e.at("sharpness_max").get<double>());
        EXPECT_EQ(s[2], e.at("sharpness_min").get<double>());
    }
}

TEST(FilesStatistics, EcmaTonalitySingleValuesFollowTheSharedTable) {
    const nlohmann::json all = cases();
    for (const auto &c : all.at("tonality_ecma").at("cases")) {
        const std::string name = c.at("name").get<std::string>();
        const auto tonality = c.at("tonality").get<std::vector<double>>();
        double value = -1, max = -1;
        uint64_t frame = 0;
        ASSERT_EQ(qnf_tonality_ecma_summary(tonality.data(), tonality.size(), c.at("hop_seconds").get<double>(), &value,
                                            &max, &frame),
                  QN_STATUS_SUCCESS);
        EXPECT_NEAR(value, c.at("value").get<double>(), 1e-15) << name;
        EXPECT_EQ(max, c.at("max").get<double>()) << name;
        EXPECT_EQ(frame, c.at("frame").get<uint64_t>()) << name;
    }
}

TEST(FilesStatistics, EcmaRoughnessSingleValueIsTheLibrarysFollowingTheSharedTable) {
    const nlohmann::json all = cases();
    for (const auto &c : all.at("roughness_ecma").at("cases")) {
        const auto total = c.at("total").get<std::vector<double>>();
        double value = -1;
        const qn_status status = qnf::ecma_roughness_value(total, value);
        if (c.at("value").is_null()) {
            EXPECT_EQ(status, QN_STATUS_INPUT_TOO_SHORT) << c.at("name").get<std::string>();
        } else {
            ASSERT_EQ(status, QN_STATUS_SUCCESS);
            EXPECT_TRUE(near(value, c.at("value").get<double>())) << c.at("name").get<std::string>();
        }
    }
}

TEST(FilesStatistics, EveryMetricsSingleValuesInOrderWithThePercentilesAskedFor) {
    struct row {
        const char *metric;
        std::vector<double> percentiles;
        const char *names;
    };
    const row rows[] = {
        {"loudness", {50}, "loudness loudness_level specific_peak specific_peak_rate"},
        {"loudness-time", {5, 10}, "max max_level n5 n5_level n10 n10_level mean mean_level min min_level"},
        {"loudness-time", {50, 2.5, 99.9, 0},
         "max max_level n50 n50_level n2.5 n2.5_level n99.9 n99.9_level n0 n0_level mean mean_level min min_level"},
        {"sharpness", {}, "sharpness mean_per_frame max min"},
        {"sharpness", {90}, "sharpness mean_per_frame max min s90"},
        {"roughness-dw", {5}, "mean max min r5"},
        {"tonality-aures", {}, "mean max min"},
        {"tonality-ecma", {10}, "tonality max strongest_rate strongest_frequency mean min t10"},
        {"roughness-ecma", {50}, "roughness mean max min r50"},
        {"spl", {90}, "LZeq LAeq LCeq LAFmax LASmax LAFmin LCpeak LAF90"},
    };
    for (const row &r : rows) EXPECT_EQ(names_of(*qnf::find_metric(r.metric), r.percentiles), r.names) << r.metric;
    // Each metric's own percentiles: N5 and N10 of the loudness, LAF5 ...
    // LAF95 of the sound levels.
    for (const qnf::metric &m : qnf::metric_table())
        EXPECT_EQ(m.statistics.default_percentiles.size(),
                  m.id == qnf::metric_id::loudness_time ? 2u : m.id == qnf::metric_id::spl ? 5u : 0u)
            << m.name;
    // The band levels are named after the library's band centres, in order.
    const qnf::metric &bands = *qnf::find_metric("levels");
    ASSERT_EQ(bands.quantities.size(), static_cast<std::size_t>(QN_THIRD_OCTAVE_BANDS));
    for (int b = 0; b < QN_THIRD_OCTAVE_BANDS; ++b) {
        char name[32];
        std::snprintf(name, sizeof name, "L%gHz", qn_third_octave_centres_hz()[b]);
        EXPECT_STREQ(bands.quantities[static_cast<std::size_t>(b)].name, name);
    }
}

TEST(FilesStatistics, SkipLeavesOutTheFramesBeforeItOnTheSeriesTimes) {
    // Roughness frames at 0.1, 0.2, ... s: a skip of 0.3 s keeps frame 2 on.
    const qnf::metric &m = *qnf::find_metric("roughness-dw");
    qnf::statistics_settings settings;
    settings.skip_s = 0.3;
    settings.percentiles = std::vector<double>{50};
    qnf::frame_statistics stats(m, settings);
    for (double v : {9.0, 8.0, 1.0, 3.0, 2.0}) stats.add(v);
    qnf::metric_result result;
    ASSERT_TRUE(qnf::finish_statistics(stats, settings, result));
    EXPECT_EQ(result.statistics.mean, 2.0);
    EXPECT_EQ(result.statistics.max, 3.0);
    EXPECT_EQ(result.statistics.min, 1.0);
    EXPECT_EQ(result.statistics.percentiles, std::vector<double>{2.0});

    settings.skip_s = 0.6;
    qnf::frame_statistics none(m, settings);
    for (double v : {9.0, 8.0, 1.0, 3.0, 2.0}) none.add(v);
    qnf::metric_result empty;
    EXPECT_FALSE(qnf::finish_statistics(none, settings, empty));
    EXPECT_EQ(empty.statistics_error, "no frame from --skip 0.6 s on");
}
