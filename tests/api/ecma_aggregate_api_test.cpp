// The reductions of ECMA-418-2 specific values over bands and time, and
// the combination of two ears: check orders, what is written after each
// failure, overlapping buffers, the percentile rule on small series, and
// the same bits in one call and piece by piece.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/ecma_aggregate_literal.h"
#include "support/expect.h"
#include "support/signals.h"

using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

namespace {

constexpr uint64_t bands = 53;
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

struct metric_case {
    qn_ecma_metric metric;
    uint64_t first;
};
const metric_case metrics[] = {
    {QN_ECMA_LOUDNESS, QN_ECMA_LOUDNESS_FIRST_FRAME},
    {QN_ECMA_ROUGHNESS, QN_ECMA_ROUGHNESS_FIRST_FRAME},
    {QN_ECMA_FLUCTUATION, QN_ECMA_FLUCTUATION_FIRST_FRAME},
};

// Specific values in [0, 2), and some exact zeros.
std::vector<double> random_specific(uint64_t frames, uint64_t seed) {
    auto v = qn_test::uniform_values(frames * bands, seed);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = i % 7 == 3 ? 0.0 : v[i] + 1;
    return v;
}

struct owner {
    qn_ecma_accumulator *a = nullptr;
    ~owner() { qn_ecma_accumulator_destroy(a); }
};

}  // namespace

// The 90th percentile by linear interpolation between order statistics,
// on hand-made series; the frames before the metric's first are ignored.
TEST(EcmaAggregateApi, PercentileOfSmallSeries) {
    struct Case {
        std::vector<double> values;  // from the first frame on, in any order
        double expected;
    };
    const Case cases[] = {
        {{5}, 5},                             // one value
        {{3, 1}, 2.8},                        // h = 0.9: 1 + 0.9 (3 - 1)
        {{4, 9, 1, 10, 6, 2, 8, 3, 7, 5}, 9.1},  // h = 8.1
        {{10, 0, 9, 1, 8, 2, 7, 3, 6, 4, 5}, 9},  // h = 9 exactly
        {{2, 7, 2, 2}, 5.5},                  // h = 2.7, ties below
        {{0, 0, 0}, 0},
        {{-0.0, 0.0, -0.0}, 0},
        {{1e-310, 3e-310, 2e-310}, 2.8e-310},  // subnormal values order as the others
        {{DBL_MAX, DBL_MAX}, DBL_MAX},
    };
    for (const metric_case m : {metrics[1], metrics[2]}) {
        for (const Case &c : cases) {
            std::vector<double> series(m.first, 1e300);  // ignored
            series.insert(series.end(), c.values.begin(), c.values.end());
            double value = sentinel;
            ASSERT_EQ(qn_ecma_single_value(m.metric, series.data(), series.size(), &value), QN_STATUS_SUCCESS);
            EXPECT_NEAR(value, c.expected, 1e-15 * std::fabs(c.expected) + 1e-322) << m.metric << " " << c.values.size();
            EXPECT_FALSE(std::signbit(value));
        }
    }
}

// Random series of every length up to 300: the selection without a copy
// gives what sorting gives, bit for bit.
TEST(EcmaAggregateApi, PercentileAgreesWithSorting) {
    qn_test::xorshift rng(17);
    for (uint64_t m = 1; m <= 300; ++m) {
        std::vector<double> series(16 + m);
        for (double &v : series) {
            // Values over many octaves, with repeats.
            v = rng.next() % 5 == 0 ? 0.25 : std::ldexp(rng.uniform(), static_cast<int>(rng.next() % 40) - 20);
        }
        double value = 0;
        ASSERT_EQ(qn_ecma_single_value(QN_ECMA_ROUGHNESS, series.data(), series.size(), &value), QN_STATUS_SUCCESS);
        const double expected = qn_test::percentile_literal(std::vector<double>(series.begin() + 16, series.end()), 0.9);
        ASSERT_TRUE(same_bits(value, expected)) << m << ": " << value << " vs " << expected;
    }
}

// The accumulator gives the one-call results bit for bit, whatever the
// pieces, and a refused piece leaves it as it was.
TEST(EcmaAggregateApi, PiecesGiveTheOneCallResults) {
    qn_test::xorshift rng(3);
    for (const metric_case m : metrics) {
        const uint64_t frames = 700;
        const auto specific = random_specific(frames, m.metric);
        std::vector<double> series(frames), averaged(bands);
        double value = 0;
        ASSERT_EQ(qn_ecma_aggregate(m.metric, specific.data(), frames, series.data(), frames, averaged.data(), bands,
                                    &value),
                  QN_STATUS_SUCCESS);
        for (int trial = 0; trial < 4; ++trial) {
            owner acc;
            ASSERT_EQ(qn_ecma_accumulator_create(m.metric, &acc.a), QN_STATUS_SUCCESS);
            std::vector<double> pieces;
            for (uint64_t at = 0; at < frames;) {
                const uint64_t count = std::min<uint64_t>(rng.next() % (trial == 0 ? 3 : 90), frames - at);
                std::vector<double> part(count + 1, sentinel);
                // A poisoned copy of the piece is refused first.
                if (count > 0) {
                    std::vector<double> poisoned(specific.begin() + at * bands,
                                                 specific.begin() + (at + count) * bands);
                    poisoned[rng.next() % poisoned.size()] = rng.next() % 2 ? not_a_number : -1.0;
                    EXPECT_NE(qn_ecma_accumulator_add(acc.a, poisoned.data(), count, part.data(), count),
                              QN_STATUS_SUCCESS);
                    EXPECT_TRUE(untouched(part));
                }
                ASSERT_EQ(qn_ecma_accumulator_add(acc.a, specific.data() + at * bands, count,
                                                  trial == 3 ? nullptr : part.data(), trial == 3 ? 0 : count),
                          QN_STATUS_SUCCESS);
                if (trial != 3) pieces.insert(pieces.end(), part.begin(), part.begin() + count);
                at += count;
            }
            std::vector<double> piecewise_averaged(bands);
            double piecewise = sentinel;
            const bool loudness = m.metric == QN_ECMA_LOUDNESS;
            ASSERT_EQ(qn_ecma_accumulator_result(acc.a, piecewise_averaged.data(), bands, loudness ? &piecewise : nullptr),
                      QN_STATUS_SUCCESS);
            EXPECT_TRUE(same_bits(piecewise_averaged, averaged)) << m.metric << " trial " << trial;
            if (trial == 3) continue;
            EXPECT_TRUE(same_bits(pieces, series)) << m.metric << " trial " << trial;
            double from_series = sentinel;
            ASSERT_EQ(qn_ecma_single_value(m.metric, pieces.data(), pieces.size(), &from_series), QN_STATUS_SUCCESS);
            EXPECT_TRUE(same_bits(from_series, value)) << m.metric << " trial " << trial;
            if (loudness) {
                EXPECT_TRUE(same_bits(piecewise, value)) << "trial " << trial;
            }
        }
    }
}

TEST(EcmaAggregateApi, AggregateCheckOrder) {
    const uint64_t frames = 60;
    auto specific = random_specific(frames, 1);
    auto out = sentinel_buffer(frames + bands + 1 + 4);
    double *series = out.data(), *averaged = series + frames, *value = averaged + bands;
    auto with = [&](uint64_t i, double v) {
        auto s = specific;
        s[i] = v;
        return s;
    };
    const auto nan_late = with(frames * bands - 1, not_a_number), negative = with(100, -1e-300),
               negative_then_inf = with(5, -2.0);
    auto both = negative_then_inf;
    both[6] = inf;
    struct Case {
        const char *what;
        qn_ecma_metric metric;
        const double *specific;
        uint64_t frames;
        double *series;
        uint64_t series_capacity;
        double *averaged;
        uint64_t averaged_capacity;
        double *value;
        qn_status expected;
    };
    const double *s = specific.data();
    const Case cases[] = {
        {"null specific first", 0, nullptr, 0, series, 0, averaged, 0, value, QN_STATUS_NULL_POINTER},
        {"null series", 0, s, frames, nullptr, frames, averaged, bands, value, QN_STATUS_NULL_POINTER},
        {"null averaged", 0, s, frames, series, frames, nullptr, bands, value, QN_STATUS_NULL_POINTER},
        {"null value", QN_ECMA_LOUDNESS, s, frames, series, frames, averaged, bands, nullptr, QN_STATUS_NULL_POINTER},
        {"tonality", QN_ECMA_TONALITY, s, frames, series, frames, averaged, bands, value, QN_STATUS_INVALID_ARGUMENT},
        {"two flags", QN_ECMA_LOUDNESS | QN_ECMA_ROUGHNESS, s, frames, series, 0, averaged, 0, value,
         QN_STATUS_INVALID_ARGUMENT},
        {"unknown flag before size", 16, s, UINT64_MAX, series, 0, averaged, 0, value, QN_STATUS_INVALID_ARGUMENT},
        {"53 frames reach 2^60", QN_ECMA_ROUGHNESS, s, (uint64_t{1} << 60) / 53 + 1, series, 0, averaged, 0, value,
         QN_STATUS_SIZE_OVERFLOW},
        {"loudness: 57 frames", QN_ECMA_LOUDNESS, s, 57, series, 0, averaged, 0, value, QN_STATUS_INPUT_TOO_SHORT},
        {"roughness: 16 frames", QN_ECMA_ROUGHNESS, s, 16, series, 0, averaged, 0, value, QN_STATUS_INPUT_TOO_SHORT},
        {"fluctuation: 36 frames", QN_ECMA_FLUCTUATION, s, 36, series, 0, averaged, 0, value,
         QN_STATUS_INPUT_TOO_SHORT},
        {"series capacity", QN_ECMA_LOUDNESS, s, frames, series, frames - 1, averaged, bands, value,
         QN_STATUS_OUTPUT_TOO_SMALL},
        {"averaged capacity before overlap", QN_ECMA_LOUDNESS, s, frames, series, frames, series, 52, value,
         QN_STATUS_OUTPUT_TOO_SMALL},
        {"series over the averaged", QN_ECMA_ROUGHNESS, s, frames, averaged - 1, frames, averaged, bands, value,
         QN_STATUS_INVALID_ARGUMENT},
        {"value inside the averaged", QN_ECMA_ROUGHNESS, s, frames, series, frames, averaged, bands, averaged + 52,
         QN_STATUS_INVALID_ARGUMENT},
        {"series over the input, before its values", QN_ECMA_ROUGHNESS, nan_late.data(), frames,
         const_cast<double *>(nan_late.data()) + 7, frames, averaged, bands, value, QN_STATUS_INVALID_ARGUMENT},
        {"value in the input", QN_ECMA_LOUDNESS, s, frames, series, frames, averaged, bands,
         const_cast<double *>(s) + frames * bands - 1, QN_STATUS_INVALID_ARGUMENT},
        {"NaN in the last value", QN_ECMA_LOUDNESS, nan_late.data(), frames, series, frames, averaged, bands, value,
         QN_STATUS_NON_FINITE_INPUT},
        {"a negative value", QN_ECMA_ROUGHNESS, negative.data(), frames, series, frames, averaged, bands, value,
         QN_STATUS_INVALID_ARGUMENT},
        {"negative before infinite", QN_ECMA_FLUCTUATION, both.data(), frames, series, frames, averaged, bands, value,
         QN_STATUS_INVALID_ARGUMENT},
        {"valid", QN_ECMA_FLUCTUATION, s, frames, series, frames, averaged, bands, value, QN_STATUS_SUCCESS},
        {"valid, shortest loudness", QN_ECMA_LOUDNESS, s, 58, series, 58, averaged, 60, value, QN_STATUS_SUCCESS},
    };
    qn_test_allocation_failure no_heap(0, true);  // none of them asks for memory
    for (const Case &c : cases) {
        std::fill(out.begin(), out.end(), sentinel);
        EXPECT_EQ(qn_ecma_aggregate(c.metric, c.specific, c.frames, c.series, c.series_capacity, c.averaged,
                                    c.averaged_capacity, c.value),
                  c.expected)
            << c.what;
        if (c.expected != QN_STATUS_SUCCESS) {
            EXPECT_TRUE(untouched(out)) << c.what;
        } else {
            EXPECT_TRUE(untouched(out, frames + bands + 1)) << c.what;
            for (uint64_t i = 0; i < c.frames; ++i) EXPECT_NE(series[i], sentinel) << c.what;
            EXPECT_NE(*value, sentinel) << c.what;
        }
    }
    EXPECT_TRUE(same_bits(nan_late, with(frames * bands - 1, not_a_number))) << "the input is never written";
}

TEST(EcmaAggregateApi, OverflowIsANumericalFailure) {
    // Specific loudness of 1e100 sone/Bark: its power overflows. Roughness
    // of 1e307 per band: the frame's sum does, or the band's over time.
    const uint64_t frames = 60;
    std::vector<double> loud(frames * bands, 1.0), rough(frames * bands, 0.0), wide(frames * bands, 0.0);
    loud[58 * bands] = 1e100;
    for (uint64_t l = 0; l < frames; ++l) rough[l * bands] = 1e307;
    wide[3 * bands] = wide[3 * bands + 1] = DBL_MAX;
    auto out = sentinel_buffer(frames + bands + 1);
    double *series = out.data(), *averaged = series + frames, *value = averaged + bands;
    EXPECT_EQ(qn_ecma_aggregate(QN_ECMA_LOUDNESS, loud.data(), frames, series, frames, averaged, bands, value),
              QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(qn_ecma_aggregate(QN_ECMA_ROUGHNESS, rough.data(), frames, series, frames, averaged, bands, value),
              QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(qn_ecma_aggregate(QN_ECMA_ROUGHNESS, wide.data(), frames, series, frames, averaged, bands, value),
              QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_TRUE(untouched(out));
    // The same through an accumulator, which keeps its sums.
    owner acc;
    ASSERT_EQ(qn_ecma_accumulator_create(QN_ECMA_LOUDNESS, &acc.a), QN_STATUS_SUCCESS);
    EXPECT_EQ(qn_ecma_accumulator_add(acc.a, loud.data(), frames, series, frames), QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_TRUE(untouched(out));
    EXPECT_EQ(qn_ecma_accumulator_result(acc.a, averaged, bands, value), QN_STATUS_INPUT_TOO_SHORT);
    // And from the series.
    std::vector<double> huge(60, 1e100);
    EXPECT_EQ(qn_ecma_single_value(QN_ECMA_LOUDNESS, huge.data(), huge.size(), value), QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(qn_ecma_single_value(QN_ECMA_ROUGHNESS, huge.data(), huge.size(), value), QN_STATUS_SUCCESS);
    EXPECT_EQ(*value, 1e100);
}

TEST(EcmaAggregateApi, SingleValueCheckOrder) {
    std::vector<double> series(40, 1.0);
    auto with_nan = series;
    with_nan[39] = not_a_number;
    auto negative = series;
    negative[0] = -1;
    double value = sentinel;
    struct Case {
        const char *what;
        qn_ecma_metric metric;
        const double *series;
        uint64_t frames;
        double *value;
        qn_status expected;
    };
    const Case cases[] = {
        {"null series", 99, nullptr, 40, &value, QN_STATUS_NULL_POINTER},
        {"null value", 99, series.data(), 40, nullptr, QN_STATUS_NULL_POINTER},
        {"tonality", QN_ECMA_TONALITY, series.data(), 40, &value, QN_STATUS_INVALID_ARGUMENT},
        {"no flag", 0, series.data(), 40, &value, QN_STATUS_INVALID_ARGUMENT},
        {"2^60 frames", QN_ECMA_ROUGHNESS, series.data(), uint64_t{1} << 60, &value, QN_STATUS_SIZE_OVERFLOW},
        {"fluctuation: 36 frames", QN_ECMA_FLUCTUATION, series.data(), 36, &value, QN_STATUS_INPUT_TOO_SHORT},
        {"loudness: 40 frames", QN_ECMA_LOUDNESS, series.data(), 40, &value, QN_STATUS_INPUT_TOO_SHORT},
        {"value in the series", QN_ECMA_ROUGHNESS, with_nan.data(), 40, with_nan.data() + 39,
         QN_STATUS_INVALID_ARGUMENT},
        {"NaN", QN_ECMA_ROUGHNESS, with_nan.data(), 40, &value, QN_STATUS_NON_FINITE_INPUT},
        {"negative in a frame before the first", QN_ECMA_FLUCTUATION, negative.data(), 40, &value,
         QN_STATUS_INVALID_ARGUMENT},
        {"valid", QN_ECMA_FLUCTUATION, series.data(), 37, &value, QN_STATUS_SUCCESS},
    };
    qn_test_allocation_failure no_heap(0, true);
    for (const Case &c : cases) {
        value = sentinel;
        EXPECT_EQ(qn_ecma_single_value(c.metric, c.series, c.frames, c.value), c.expected) << c.what;
        EXPECT_EQ(value, c.expected == QN_STATUS_SUCCESS ? 1.0 : sentinel) << c.what;
    }
    EXPECT_TRUE(std::isnan(with_nan[39]));
}

TEST(EcmaAggregateApi, AccumulatorChecksAndAllocationFailure) {
    EXPECT_EQ(qn_ecma_accumulator_create(QN_ECMA_LOUDNESS, nullptr), QN_STATUS_NULL_POINTER);
    for (qn_ecma_metric metric : {0, 1, 4 | 8, -2}) {
        double not_an_accumulator = 0;
        auto *a = reinterpret_cast<qn_ecma_accumulator *>(&not_an_accumulator);
        EXPECT_EQ(qn_ecma_accumulator_create(metric, &a), QN_STATUS_INVALID_ARGUMENT) << metric;
        EXPECT_EQ(a, nullptr);
    }
    qn_ecma_accumulator_destroy(nullptr);
    const int64_t live = qn_test_live_allocations();
    {
        qn_test_allocation_failure fail(0);
        qn_ecma_accumulator *a = nullptr;
        EXPECT_EQ(qn_ecma_accumulator_create(QN_ECMA_ROUGHNESS, &a), QN_STATUS_ALLOCATION_FAILED);
        EXPECT_EQ(a, nullptr);
    }
    EXPECT_EQ(qn_test_live_allocations(), live);

    owner rough, loud;
    ASSERT_EQ(qn_ecma_accumulator_create(QN_ECMA_ROUGHNESS, &rough.a), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_ecma_accumulator_create(QN_ECMA_LOUDNESS, &loud.a), QN_STATUS_SUCCESS);
    // Adding and reading never ask for memory.
    qn_test_allocation_failure fail(0, true);
    auto specific = random_specific(20, 2);
    auto out = sentinel_buffer(20 + 2);
    struct AddCase {
        const char *what;
        qn_ecma_accumulator *a;
        const double *specific;
        uint64_t frames;
        double *series;
        uint64_t capacity;
        qn_status expected;
    };
    const double *s = specific.data();
    const AddCase adds[] = {
        {"null accumulator", nullptr, s, 20, out.data(), 20, QN_STATUS_NULL_POINTER},
        {"null specific", rough.a, nullptr, 1, out.data(), 20, QN_STATUS_NULL_POINTER},
        {"frames reach 2^60 / 53", rough.a, s, (uint64_t{1} << 60) / 53 + 1, out.data(), 0, QN_STATUS_SIZE_OVERFLOW},
        {"capacity", rough.a, s, 20, out.data(), 19, QN_STATUS_OUTPUT_TOO_SMALL},
        {"null series with a capacity", rough.a, s, 20, nullptr, 20, QN_STATUS_OUTPUT_TOO_SMALL},
        {"series in the input", rough.a, s, 20, const_cast<double *>(s) + 1, 20, QN_STATUS_INVALID_ARGUMENT},
        {"null specific with no frames", rough.a, nullptr, 0, nullptr, 0, QN_STATUS_SUCCESS},
        {"16 frames", rough.a, s, 16, out.data(), 20, QN_STATUS_SUCCESS},
    };
    for (const AddCase &c : adds) {
        std::fill(out.begin(), out.end(), sentinel);
        EXPECT_EQ(qn_ecma_accumulator_add(c.a, c.specific, c.frames, c.series, c.capacity), c.expected) << c.what;
        EXPECT_EQ(untouched(out), c.expected != QN_STATUS_SUCCESS || c.frames == 0) << c.what;
        EXPECT_TRUE(untouched(out, c.frames)) << c.what;
    }

    auto averaged = sentinel_buffer(bands + 2);
    double value = sentinel;
    struct ResultCase {
        const char *what;
        const qn_ecma_accumulator *a;
        double *averaged;
        uint64_t capacity;
        double *value;
        qn_status expected;
    };
    const ResultCase results[] = {
        {"null accumulator", nullptr, averaged.data(), bands, nullptr, QN_STATUS_NULL_POINTER},
        {"null averaged", rough.a, nullptr, bands, nullptr, QN_STATUS_NULL_POINTER},
        {"capacity before value", rough.a, averaged.data(), 52, &value, QN_STATUS_OUTPUT_TOO_SMALL},
        {"a value of roughness", rough.a, averaged.data(), bands, &value, QN_STATUS_INVALID_ARGUMENT},
        {"value in the averaged", loud.a, averaged.data(), bands, averaged.data() + 52, QN_STATUS_INVALID_ARGUMENT},
        {"16 frames of roughness", rough.a, averaged.data(), bands, nullptr, QN_STATUS_INPUT_TOO_SHORT},
        {"no loudness", loud.a, averaged.data(), bands, &value, QN_STATUS_INPUT_TOO_SHORT},
    };
    for (const ResultCase &c : results) {
        EXPECT_EQ(qn_ecma_accumulator_result(c.a, c.averaged, c.capacity, c.value), c.expected) << c.what;
        EXPECT_TRUE(untouched(averaged)) << c.what;
        EXPECT_EQ(value, sentinel) << c.what;
    }
    // One frame more, and roughness has its averages: the 17th frame.
    ASSERT_EQ(qn_ecma_accumulator_add(rough.a, s + 16 * bands, 1, nullptr, 0), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_ecma_accumulator_result(rough.a, averaged.data(), bands + 1, nullptr), QN_STATUS_SUCCESS);
    for (uint64_t z = 0; z < bands; ++z) EXPECT_EQ(averaged[z], specific[16 * bands + z]) << z;
    EXPECT_TRUE(untouched(averaged, bands));
}

TEST(EcmaAggregateApi, BinauralCheckOrder) {
    auto left = qn_test::uniform_values(10, 1), right = qn_test::uniform_values(10, 2);
    for (double &v : left) v = std::fabs(v);
    for (double &v : right) v = std::fabs(v);
    auto out = sentinel_buffer(12);
    auto bad = [&](std::vector<double> v, std::size_t i, double x) {
        v[i] = x;
        return v;
    };
    const auto left_nan = bad(left, 7, not_a_number), right_negative = bad(right, 7, -1), right_early = bad(right, 3, -inf);
    struct Case {
        const char *what;
        const double *left, *right;
        uint64_t count;
        double *out;
        uint64_t capacity;
        qn_status expected;
    };
    const double *l = left.data(), *r = right.data();
    const Case cases[] = {
        {"null left", nullptr, r, 10, out.data(), 10, QN_STATUS_NULL_POINTER},
        {"null right", l, nullptr, 0, out.data(), 10, QN_STATUS_NULL_POINTER},
        {"null out", l, r, 10, nullptr, 10, QN_STATUS_NULL_POINTER},
        {"2^60 values", l, r, uint64_t{1} << 60, out.data(), UINT64_MAX, QN_STATUS_SIZE_OVERFLOW},
        {"capacity", l, r, 10, out.data(), 9, QN_STATUS_OUTPUT_TOO_SMALL},
        {"out shifted into left", out.data() + 1, r, 10, out.data(), 10, QN_STATUS_INVALID_ARGUMENT},
        {"out shifted into right", l, out.data(), 10, out.data() + 2, 10, QN_STATUS_INVALID_ARGUMENT},
        {"NaN in left", left_nan.data(), right_negative.data(), 10, out.data(), 10, QN_STATUS_NON_FINITE_INPUT},
        {"negative in right", l, right_negative.data(), 10, out.data(), 10, QN_STATUS_INVALID_ARGUMENT},
        {"an earlier index first", left_nan.data(), right_early.data(), 10, out.data(), 10,
         QN_STATUS_NON_FINITE_INPUT},
        {"no values", nullptr, r, 0, out.data(), 0, QN_STATUS_NULL_POINTER},
        {"valid, nothing to do", l, r, 0, out.data(), 0, QN_STATUS_SUCCESS},
        {"valid", l, r, 10, out.data(), 11, QN_STATUS_SUCCESS},
    };
    qn_test_allocation_failure no_heap(0, true);
    for (const Case &c : cases) {
        std::fill(out.begin(), out.end(), sentinel);
        EXPECT_EQ(qn_ecma_binaural(c.left, c.right, c.count, c.out, c.capacity), c.expected) << c.what;
        EXPECT_TRUE(untouched(out, c.expected == QN_STATUS_SUCCESS ? c.count : 0)) << c.what;
    }
}

// In place into either ear, and equal ears given back exactly over the
// whole range of doubles, where the squares would overflow or underflow.
TEST(EcmaAggregateApi, BinauralInPlaceAndExactForEqualEars) {
    std::vector<double> values = {0.0,         -0.0,        DBL_TRUE_MIN, 1e-320, DBL_MIN,     0x1p-500,
                                  0x1.fffffffffffffp-501, 1e-160, 0.3477, 1.0, 1e154, 0x1p500, 0x1.0000000000001p500,
                                  1e300, DBL_MAX};
    qn_test::xorshift rng(8);
    for (int i = 0; i < 2000; ++i)
        values.push_back(std::ldexp(rng.uniform() + 0.5, static_cast<int>(rng.next() % 2100) - 1075));
    std::vector<double> out(values.size());
    ASSERT_EQ(qn_ecma_binaural(values.data(), values.data(), values.size(), out.data(), out.size()),
              QN_STATUS_SUCCESS);
    for (std::size_t i = 0; i < values.size(); ++i) ASSERT_TRUE(same_bits(out[i], values[i])) << values[i];

    // Unequal ears: within an ulp or two of the mean in long double, and
    // the same whether written apart or into either input.
    std::vector<double> other(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) other[i] = values[(i * 7 + 3) % values.size()] * rng.uniform();
    ASSERT_EQ(qn_ecma_binaural(values.data(), other.data(), values.size(), out.data(), out.size()),
              QN_STATUS_SUCCESS);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const long double a = values[i], b = other[i];
        const long double exact = std::sqrt((a * a + b * b) / 2);
        if (exact < DBL_MIN) continue;  // subnormal results carry fewer digits
        ASSERT_LE(std::fabs(static_cast<long double>(out[i]) - exact), 4e-16L * exact) << values[i] << " " << other[i];
    }
    auto in_left = values, in_right = other;
    ASSERT_EQ(qn_ecma_binaural(in_left.data(), other.data(), values.size(), in_left.data(), values.size()),
              QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_ecma_binaural(values.data(), in_right.data(), values.size(), in_right.data(), values.size()),
              QN_STATUS_SUCCESS);
    EXPECT_TRUE(same_bits(in_left, out));
    EXPECT_TRUE(same_bits(in_right, out));
    // Both ears the same array, written in place.
    auto same = values;
    ASSERT_EQ(qn_ecma_binaural(same.data(), same.data(), same.size(), same.data(), same.size()), QN_STATUS_SUCCESS);
    EXPECT_TRUE(same_bits(same, values));
}
