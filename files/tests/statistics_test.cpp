// The tool's statistics over frames against the table of cases the Python
// package is held to as well.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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

}  // namespace

TEST(CliStatistics, SilentFloorIsTheTablesFloor) {
    EXPECT_EQ(qnf::silent_floor_sone, cases().at("silent_floor_sone").get<double>());
}

TEST(CliStatistics, ExceededByNearestRank) {
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

TEST(CliStatistics, LoudnessAndSharpnessOverFramesWithSilentFrames) {
    const nlohmann::json all = cases();
    for (const auto &c : all.at("frames")) {
        SCOPED_TRACE(c.at("name").get<std::string>());
        const auto loudness = c.at("loudness").get<std::vector<double>>();
        const auto sharpness = c.at("sharpness").get<std::vector<double>>();
        const auto &e = c.at("expected");
        const qnf::loudness_statistics s = qnf::loudness_over_frames(loudness);
        EXPECT_EQ(s.max, e.at("max").get<double>());
        EXPECT_EQ(s.n5, e.at("n5").get<double>());
        EXPECT_EQ(s.n10, e.at("n10").get<double>());
        EXPECT_TRUE(near(s.mean, e.at("mean").get<double>()));
        EXPECT_TRUE(near(qnf::sharpness_mean_over_frames(sharpness, loudness), e.at("sharpness_mean").get<double>()));
    }
}

TEST(CliStatistics, EcmaTonalitySingleValuesFollowTheSharedTable) {
    const nlohmann::json all = cases();
    for (const auto &c : all.at("tonality_ecma").at("cases")) {
        const std::string name = c.at("name").get<std::string>();
        const auto tonality = c.at("tonality").get<std::vector<double>>();
        const auto s = qnf::summarise_tonality(tonality, c.at("hop_seconds").get<double>());
        EXPECT_NEAR(s.value, c.at("value").get<double>(), 1e-15) << name;
        EXPECT_EQ(s.max, c.at("max").get<double>()) << name;
        EXPECT_EQ(s.frame, c.at("frame").get<std::size_t>()) << name;
    }
}

TEST(CliStatistics, EcmaRoughnessSingleValueFollowsTheSharedTable) {
    const nlohmann::json all = cases();
    for (const auto &c : all.at("roughness_ecma").at("cases")) {
        const auto total = c.at("total").get<std::vector<double>>();
        EXPECT_EQ(qnf::ecma_roughness_value(total), c.at("value").get<double>()) << c.at("name").get<std::string>();
    }
}
