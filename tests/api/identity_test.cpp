// Version, ABI and status texts: the identification exports and the header
// agree with each other and with the project's version.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "quarnelo.h"

TEST(Identity, AbiVersionIsOne) {
    EXPECT_EQ(qn_abi_version(), 1);
    EXPECT_EQ(QN_ABI_VERSION, 1);
}

TEST(Identity, VersionMacrosMatchProjectAndRuntime) {
    EXPECT_STREQ(qn_version_string(), "0.2.2");
    EXPECT_STREQ(qn_version_string(), QN_VERSION_STRING);
    EXPECT_STREQ(QN_VERSION_STRING, QN_TEST_PROJECT_VERSION);
    EXPECT_EQ(QN_VERSION_MAJOR, QN_TEST_PROJECT_VERSION_MAJOR);
    EXPECT_EQ(QN_VERSION_MINOR, QN_TEST_PROJECT_VERSION_MINOR);
    EXPECT_EQ(QN_VERSION_PATCH, QN_TEST_PROJECT_VERSION_PATCH);
    const std::string joined = std::to_string(QN_VERSION_MAJOR) + "." +
                               std::to_string(QN_VERSION_MINOR) + "." +
                               std::to_string(QN_VERSION_PATCH);
    EXPECT_EQ(joined, QN_VERSION_STRING);
    EXPECT_EQ(QN_VERSION_NUMBER, 202);
}

TEST(Identity, StatusTextsOfEveryValue) {
    struct Case {
        qn_status status;
        const char *text;
    };
    const Case cases[] = {
        {QN_STATUS_SUCCESS, "success"},
        {QN_STATUS_NULL_POINTER, "null pointer"},
        {QN_STATUS_INVALID_ARGUMENT, "invalid argument"},
        {QN_STATUS_INVALID_SAMPLE_RATE, "invalid sample rate"},
        {QN_STATUS_INVALID_SOUND_FIELD, "invalid sound field"},
        {QN_STATUS_NON_FINITE_INPUT, "input contains NaN or infinity"},
        {QN_STATUS_INPUT_TOO_SHORT, "input is too short"},
        {QN_STATUS_OUTPUT_TOO_SMALL, "output buffer is too small"},
        {QN_STATUS_SIZE_OVERFLOW, "size calculation overflow"},
        {QN_STATUS_ALLOCATION_FAILED, "memory allocation failed"},
        {QN_STATUS_NUMERICAL_FAILURE, "numerical calculation failed"},
    };
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(cases[i].status, i) << "statuses are frozen for ABI 1";
        EXPECT_STREQ(qn_status_string(cases[i].status), cases[i].text) << "status " << i;
    }
}

TEST(Identity, UnknownStatusValues) {
    const qn_status unknown[] = {11, 12, 100, -1, -2, INT32_MIN, INT32_MAX};
    for (qn_status s : unknown) EXPECT_STREQ(qn_status_string(s), "unknown status") << s;
}

TEST(Identity, TextsAreStatic) {
    EXPECT_EQ(qn_version_string(), qn_version_string());
    EXPECT_EQ(qn_status_string(3), qn_status_string(3));
    EXPECT_NE(qn_status_string(-5), nullptr);
}
