// Every row of the table of reference cases (cases.md beside this file):
// calibration points, the methods' computed values and analysers' results.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/reference_cases.h"

namespace {

const std::string table = QN_TEST_SOURCE_DIR "/reference/cases.md";

// The metrics of the table, in its order: one test each.
std::vector<std::string> metrics_of_table() {
    std::string error;
    std::vector<std::string> metrics;
    for (const auto &c : qn_test::read_reference_cases(table, &error)) {
        if (metrics.empty() || metrics.back() != c.metric) metrics.push_back(c.metric);
    }
    return metrics;
}

TEST(ReferenceCases, TableIsReadable) {
    std::string error;
    EXPECT_FALSE(qn_test::read_reference_cases(table, &error).empty());
    EXPECT_EQ(error, "");
}

class ReferenceCasesOf : public ::testing::TestWithParam<std::string> {};

TEST_P(ReferenceCasesOf, EveryRowHolds) {
    std::string error;
    const auto rows = qn_test::read_reference_cases(table, &error);
    ASSERT_EQ(error, "");
    qn_test::reference_runner runner;
    int checked = 0;
    for (const auto &c : rows) {
        if (c.metric != GetParam()) continue;
        ++checked;
        const auto o = runner.run(c);
        const std::string row = c.metric + ", " + c.name + " (cases.md line " + std::to_string(c.line) + ")";
        ASSERT_TRUE(o.ran) << row << ": " << o.error;
        EXPECT_TRUE(o.pass) << row << ": " << c.quantity << " expected " << testing::PrintToString(c.expected)
                            << ", got " << testing::PrintToString(o.got) << (o.where.empty() ? "" : " at ")
                            << o.where << ", difference " << o.difference << ", tolerance " << c.tolerance_text;
    }
    EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, ReferenceCasesOf, ::testing::ValuesIn(metrics_of_table()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             std::string name = info.param;
                             for (char &ch : name)
                                 if (ch == '-') ch = '_';
                             return name;
                         });

}  // namespace
