// Current outputs of every metric for a fixed set of generated signals,
// held to the committed table outputs.csv at a relative 1e-12. A change
// that moves any of them shows here first; when the change is intended,
// review the difference and write the table anew:
//
//     QN_REGRESSION_WRITE=1 build/tests/qn_regression_tests
//
// (the table is rewritten in the source tree, and the test then passes).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "quarnelo.h"
#include "support/signals.h"

namespace {

struct row {
    std::string signal, quantity;
    uint64_t index;
    double value;
};

using qn_test::rms_for_level;

// The signals: a second or less each, so the whole table takes a moment.
struct signal_case {
    const char *name;
    std::vector<double> (*make)();
};

std::vector<double> tone() { return qn_test::sine(1000, rms_for_level(60) * std::sqrt(2.0), 48000); }
std::vector<double> am() { return qn_test::am_tone(1000, 70, 1.0, 0.06, 48000); }
std::vector<double> pink() { return qn_test::pink_noise(rms_for_level(50), 48000, 3); }
std::vector<double> tone_in_noise() {
    auto x = qn_test::pink_noise(rms_for_level(45), 48000, 5);
    const auto t = qn_test::sine(3150, rms_for_level(55) * std::sqrt(2.0), 48000);
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += t[i];
    return x;
}
std::vector<double> burst_then_silence() {
    auto x = qn_test::sine(2000, rms_for_level(70) * std::sqrt(2.0), 28800);
    for (std::size_t i = 9600; i < x.size(); ++i) x[i] = 0;
    return x;
}

const signal_case signals[] = {
    {"tone_1k_60dB", tone},
    {"am_1k_70Hz", am},
    {"pink_50dB", pink},
    {"tone_3k15_in_noise", tone_in_noise},
    {"burst_then_silence", burst_then_silence},
};

// Indices of the specific-loudness patterns that are recorded (4, 8, 12,
// 16, 20 Bark).
const uint64_t pattern_points[] = {39, 79, 119, 159, 199};

void add(std::vector<row> &rows, const char *signal, const char *quantity, uint64_t index, double value) {
    rows.push_back({signal, quantity, index, value});
}

std::vector<row> compute_rows() {
    std::vector<row> rows;
    for (const signal_case &s : signals) {
        const std::vector<double> x = s.make();
        const uint64_t n = x.size();
        for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
            const bool free = field == QN_SOUND_FIELD_FREE;
            double loudness = 0, specific[QN_BARK_POINTS], sharpness = 0;
            EXPECT_EQ(qn_loudness_stationary(x.data(), n, 48000, field, &loudness, specific, QN_BARK_POINTS),
                      QN_STATUS_SUCCESS)
                << s.name;
            EXPECT_EQ(qn_sharpness_din(specific, QN_BARK_POINTS, &sharpness), QN_STATUS_SUCCESS) << s.name;
            add(rows, s.name, free ? "loudness_free" : "loudness_diffuse", 0, loudness);
            add(rows, s.name, free ? "sharpness_free" : "sharpness_diffuse", 0, sharpness);
            if (free)
                for (uint64_t k : pattern_points) add(rows, s.name, "specific_free", k, specific[k]);
        }

        uint64_t frames = 0;
        EXPECT_EQ(qn_loudness_time_frame_count(n, 48000, &frames), QN_STATUS_SUCCESS);
        std::vector<double> lt(frames), st(frames * QN_BARK_POINTS);
        EXPECT_EQ(qn_loudness_time(x.data(), n, 48000, QN_SOUND_FIELD_FREE, lt.data(), lt.size(), st.data(),
                                   st.size(), &frames),
                  QN_STATUS_SUCCESS)
            << s.name;
        for (uint64_t f = 0; f < frames; f += 25) add(rows, s.name, "loudness_time", f, lt[f]);
        add(rows, s.name, "loudness_time", frames - 1, lt[frames - 1]);
        const uint64_t mid = frames / 2;
        for (uint64_t k : pattern_points)
            add(rows, s.name, "specific_time_mid", k, st[mid * QN_BARK_POINTS + k]);

        EXPECT_EQ(qn_roughness_frame_count(n, 48000, &frames), QN_STATUS_SUCCESS);
        std::vector<double> r(frames);
        EXPECT_EQ(qn_roughness_dw(x.data(), n, 48000, r.data(), r.size(), &frames), QN_STATUS_SUCCESS) << s.name;
        for (uint64_t f = 0; f < frames; ++f) add(rows, s.name, "roughness_dw", f, r[f]);

        EXPECT_EQ(qn_tonality_frame_count(n, 48000, &frames), QN_STATUS_SUCCESS);
        std::vector<double> t(frames);
        EXPECT_EQ(qn_tonality_aures(x.data(), n, 48000, QN_SOUND_FIELD_FREE, t.data(), t.size(), &frames),
                  QN_STATUS_SUCCESS)
            << s.name;
        for (uint64_t f = 0; f < frames; ++f) add(rows, s.name, "tonality_aures", f, t[f]);

        // ECMA-418-2: a few frames of the steady part, in the bands that
        // carry the signals (about 1, 2, 3 and 6 kHz) and the strongest.
        const uint64_t ecma_bands = QN_ECMA_BANDS;
        const uint64_t probe_bands[] = {16, 22, 27, 35};
        EXPECT_EQ(qn_ecma_tonal_frame_count(n, 48000, &frames), QN_STATUS_SUCCESS);
        std::vector<double> tonal(5 * ecma_bands * frames);
        EXPECT_EQ(qn_ecma_tonal_analysis(x.data(), n, 48000, QN_SOUND_FIELD_FREE, tonal.data(), tonal.size(), &frames),
                  QN_STATUS_SUCCESS)
            << s.name;
        const char *arrays[] = {"ecma_tonal_loudness", "ecma_noise_loudness", "ecma_tonal_frequency",
                                "ecma_specific_tonality", "ecma_total_loudness"};
        for (uint64_t a = 0; a < 5; ++a)
            for (uint64_t f = frames / 2; f < frames; f += frames / 4)
                for (uint64_t b : probe_bands)
                    add(rows, s.name, arrays[a], f * ecma_bands + b, tonal[a * ecma_bands * frames + f * ecma_bands + b]);

        EXPECT_EQ(qn_ecma_roughness_frame_count(n, 48000, &frames), QN_STATUS_SUCCESS);
        std::vector<double> rough(ecma_bands * frames);
        EXPECT_EQ(qn_roughness_ecma(x.data(), n, 48000, QN_SOUND_FIELD_FREE, rough.data(), rough.size(), &frames),
                  QN_STATUS_SUCCESS)
            << s.name;
        for (uint64_t f = frames / 2; f < frames; f += frames / 4)
            for (uint64_t b : probe_bands) add(rows, s.name, "ecma_specific_roughness", f * ecma_bands + b, rough[f * ecma_bands + b]);

        // Their single values and averaged specific values.
        std::vector<double> series(frames), averaged(ecma_bands);
        double value = 0;
        EXPECT_EQ(qn_ecma_aggregate(QN_ECMA_ROUGHNESS, rough.data(), frames, series.data(), frames, averaged.data(),
                                    ecma_bands, &value),
                  QN_STATUS_SUCCESS)
            << s.name;
        add(rows, s.name, "ecma_roughness", 0, value);
        for (uint64_t b : probe_bands) add(rows, s.name, "ecma_roughness_averaged", b, averaged[b]);
        EXPECT_EQ(qn_ecma_tonal_frame_count(n, 48000, &frames), QN_STATUS_SUCCESS);
        series.resize(frames);
        EXPECT_EQ(qn_loudness_ecma(x.data(), n, 48000, QN_SOUND_FIELD_FREE, series.data(), frames, averaged.data(),
                                   ecma_bands, &value, nullptr, 0, &frames),
                  QN_STATUS_SUCCESS)
            << s.name;
        add(rows, s.name, "ecma_loudness", 0, value);
        for (uint64_t b : probe_bands) add(rows, s.name, "ecma_loudness_averaged", b, averaged[b]);
    }
    return rows;
}

std::string key(const row &r) { return r.signal + "," + r.quantity + "," + std::to_string(r.index); }

// The table holds the outputs of the built-in transforms. On FFTW the
// transforms round differently, and values near the thresholds of the
// ECMA-418-2 tonality (tonal and noise loudness of a few 1e-6 sone and
// less) move in their seventh digit: there the table is a check of gross
// faults only.
#if defined(QN_TEST_WITH_FFTW)
constexpr double relative_tolerance = 1e-6, absolute_tolerance = 1e-9;
#else
constexpr double relative_tolerance = 1e-12, absolute_tolerance = 0;
#endif

const std::string table_path = std::string(QN_TEST_SOURCE_DIR) + "/regression/outputs.csv";

}  // namespace

TEST(Regression, OutputsMatchTheCommittedTable) {
    const std::vector<row> rows = compute_rows();
    if (std::getenv("QN_REGRESSION_WRITE") != nullptr) {
        std::ofstream out(table_path);
        out << "signal,quantity,index,value\n";
        char value[40];
        for (const row &r : rows) {
            std::snprintf(value, sizeof value, "%.17g", r.value);
            out << key(r) << "," << value << "\n";
        }
        ASSERT_TRUE(out.good()) << "cannot write " << table_path;
        std::printf("wrote %zu rows to %s\n", rows.size(), table_path.c_str());
        return;
    }

    std::ifstream in(table_path);
    ASSERT_TRUE(in.good()) << "no table at " << table_path;
    std::map<std::string, double> expected;
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const auto comma = line.rfind(',');
        expected[line.substr(0, comma)] = std::strtod(line.c_str() + comma + 1, nullptr);
    }
    const char *hint = " (if the change is intended: QN_REGRESSION_WRITE=1 build/tests/qn_regression_tests)";
    EXPECT_EQ(expected.size(), rows.size()) << "the table and the computation list different values" << hint;
    for (const row &r : rows) {
        const auto it = expected.find(key(r));
        if (it == expected.end()) {
            ADD_FAILURE() << key(r) << " is not in the table" << hint;
            continue;
        }
        const double want = it->second;
        EXPECT_LE(std::fabs(r.value - want), relative_tolerance * std::fabs(want) + absolute_tolerance)
            << key(r) << ": got " << r.value << ", the table has " << want << hint;
    }
}
