// The ECMA-418-2 hearing model's front end: band geometry, the loudness
// nonlinearity, the outer and middle ear filter and the auditory filters,
// whole-buffer and chunked.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ecma/band_bank.h"
#include "ecma/band_signals.h"
#include "ecma/front_end.h"
#include "base/alloc.h"
#include "support/alloc_hook.h"
#include "support/expect.h"
#include "support/signals.h"
#include "support/simd_paths.h"

namespace {

constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
constexpr double infinite = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The first index where two arrays differ in their bits, or -1.
long first_difference(const double *a, const double *b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (!same_bits(a[i], b[i])) return static_cast<long>(i);
    return -1;
}

struct ear_buffer {
    qn_heap_array<double> data;
    uint64_t length = 0;
};

ear_buffer whole_ear(const std::vector<double> &x, uint64_t lead, uint64_t multiple, bool pad,
                     qn_sound_field field, qn_status *status) {
    double *buffer = nullptr;
    ear_buffer out;
    *status = qn_ecma_ear_filter(x.data(), x.size(), lead, multiple, pad, field, &buffer, &out.length);
    out.data.reset(buffer);
    return out;
}

// The cascade written out plainly: each section over the whole buffer in
// turn, from rest at index `lead`.
std::vector<double> literal_ear(const std::vector<double> &x, uint64_t lead, uint64_t length, int first_section) {
    std::vector<double> buf(length, 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double w = i < 240 ? 0.5 - 0.5 * std::cos(M_PI * static_cast<double>(i) / 240.0) : 1.0;
        buf[lead + i] = w * x[i];
    }
    for (int s = first_section; s < qn_ecma::ear_section_count; ++s) {
        const auto &c = qn_ecma::ear_sections[s];
        double s1 = 0, s2 = 0;
        for (std::size_t n = lead; n < length; ++n) {
            const double in = buf[n];
            const double y = c.b0 * in + s1;
            s1 = c.b1 * in - c.a1 * y + s2;
            s2 = c.b2 * in - c.a2 * y;
            buf[n] = y;
        }
    }
    return buf;
}

// Steady-state gain in dB of the ear filter at a frequency: a tone of
// amplitude 1 through the chunked filter, its RMS over the last 100 ms (a
// whole number of periods at the frequencies tested) against 1/sqrt(2).
double ear_gain_db(double frequency, qn_sound_field field) {
    const auto x = qn_test::sine(frequency, 1.0, 48000);
    qn_ecma_ear_stream stream;
    EXPECT_EQ(qn_ecma_ear_stream_init(&stream, x.data(), x.size(), 16384, 4096, false, field), QN_STATUS_SUCCESS);
    std::vector<double> y(stream.length);
    EXPECT_TRUE(qn_ecma_ear_stream_read(&stream, y.data(), y.size()));
    double power = 0;
    for (std::size_t i = y.size() - 4800; i < y.size(); ++i) power += y[i] * y[i];
    return 10 * std::log10(2 * power / 4800);
}

}  // namespace

TEST(EcmaBands, CentreFrequenciesAndBandwidths) {
    // Values of the published formulas, evaluated independently.
    struct Case {
        uint64_t band;
        double centre, width;
    };
    const Case cases[] = {
        {0, 41.00914871505695, 82.19715079834923},   {1, 82.2868409326493, 83.00365980164663},
        {17, 1027.024708619026, 185.2719000089943},  {25, 2043.6504220063591, 340.6613054192038},
        {52, 18427.69883261062, 2982.7270860505},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(qn_test::near_relative(qn_ecma_band_centre_hz(c.band), c.centre, 1e-14)) << c.band;
        EXPECT_TRUE(qn_test::near_relative(qn_ecma_bandwidth_hz(c.band), c.width, 1e-14)) << c.band;
    }
    // No checks: band 53 is the formula at 27 Bark.
    EXPECT_GT(qn_ecma_band_centre_hz(53), qn_ecma_band_centre_hz(52));
}

TEST(EcmaNonlinearity, RefusalsZerosAndValues) {
    EXPECT_TRUE(std::isnan(qn_ecma_specific_loudness(53, 0.1)));
    EXPECT_TRUE(std::isnan(qn_ecma_specific_loudness(uint64_t{1} << 63, 0.1)));
    EXPECT_TRUE(std::isnan(qn_ecma_specific_loudness(0, -1e-300)));
    EXPECT_TRUE(std::isnan(qn_ecma_specific_loudness(0, infinite)));
    EXPECT_TRUE(std::isnan(qn_ecma_specific_loudness(0, not_a_number)));
    // So large that the loudness itself overflows.
    EXPECT_TRUE(std::isnan(qn_ecma_specific_loudness(20, 1e300)));
    for (uint64_t b = 0; b < 53; ++b) {
        EXPECT_EQ(qn_ecma_specific_loudness(b, 0.0), 0.0) << b;
        EXPECT_EQ(qn_ecma_specific_loudness(b, -0.0), 0.0) << b;
        // 1 uPa gives about 0.001 sone/Bark, below every band's threshold.
        EXPECT_EQ(qn_ecma_specific_loudness(b, 1e-6), 0.0) << b;
        EXPECT_GT(qn_ecma_specific_loudness(b, 0.1), 0.0) << b;
    }
    // Values of the published formula, evaluated independently.
    struct Case {
        uint64_t band;
        double pressure, expected;
    };
    const Case cases[] = {
        {17, 0.02, 0.7837417731546189}, {17, 1.0, 3.941438128528142},
        {0, 0.002, 0.0648955963308726}, {52, 0.2, 1.6506814803656356},
        {0, 1e-4, 0.0},
    };
    for (const Case &c : cases)
        EXPECT_TRUE(qn_test::near_relative(qn_ecma_specific_loudness(c.band, c.pressure), c.expected, 1e-13))
            << c.band << " " << c.pressure;
    // Loudness grows with pressure.
    double previous = 0;
    for (double level = 20; level <= 120; level += 5) {
        const double n = qn_ecma_specific_loudness(17, 2e-5 * std::pow(10.0, level / 20));
        EXPECT_GT(n, previous) << level;
        previous = n;
    }
}

TEST(EcmaNonlinearity, EffectivePressureHalfWaveRectifies) {
    const double block[] = {1.0, -1.0, 2.0, -2.0};
    EXPECT_EQ(qn_ecma_effective_pressure(block, 4), std::sqrt(2.0 * 5.0 / 4.0));
    // A sine's effective pressure is its RMS.
    const auto x = qn_test::sine(1000, 0.5, 48000);
    EXPECT_TRUE(qn_test::near_relative(qn_ecma_effective_pressure(x.data(), x.size()), 0.5 / std::sqrt(2.0), 1e-9));
}

TEST(EcmaEarFilter, ChecksInOrder) {
    const auto x = qn_test::sine(1000, 0.1, 1000);
    auto with_nan = x;
    with_nan[999] = not_a_number;
    struct Case {
        const char *what;
        const double *signal;
        uint64_t count, lead, multiple;
        bool pad;
        qn_sound_field field;
        qn_status expected;
    };
    const uint64_t huge = uint64_t{1} << 60;
    const Case cases[] = {
        {"multiple above lead", x.data(), 1000, 8192, 8193, true, 0, QN_STATUS_INVALID_ARGUMENT},
        {"multiple 0 wraps", x.data(), 1000, 8192, 0, true, 0, QN_STATUS_INVALID_ARGUMENT},
        {"lead below 2", x.data(), 1000, 1, 1, false, 0, QN_STATUS_INVALID_ARGUMENT},
        {"sound field", x.data(), 1000, 8192, 2048, true, 2, QN_STATUS_INVALID_ARGUMENT},
        {"arguments before length", nullptr, 10, 8192, 8194, true, 0, QN_STATUS_INVALID_ARGUMENT},
        {"239 samples", x.data(), 239, 8192, 2048, true, 0, QN_STATUS_INPUT_TOO_SHORT},
        {"length before signal", nullptr, 239, 8192, 2048, true, 0, QN_STATUS_INPUT_TOO_SHORT},
        {"n + P overflows", nullptr, ~uint64_t{0} - 100, 8192, 2048, false, 0, QN_STATUS_SIZE_OVERFLOW},
        {"rounding overflows", nullptr, ~uint64_t{0} - 8192 - 100, 8192, 2048, true, 0, QN_STATUS_SIZE_OVERFLOW},
        {"second lead overflows", nullptr, ~uint64_t{0} - 8192 - 8191, 8192, 2048, true, 0, QN_STATUS_SIZE_OVERFLOW},
        {"length 2^60", nullptr, huge - 16384, 16384, 4096, false, 0, QN_STATUS_SIZE_OVERFLOW},
        {"null signal", nullptr, 1000, 8192, 2048, true, 0, QN_STATUS_NULL_POINTER},
        {"NaN", with_nan.data(), 1000, 8192, 2048, true, 1, QN_STATUS_NON_FINITE_INPUT},
        {"multiple equal to lead", x.data(), 1000, 8192, 8192, true, 0, QN_STATUS_SUCCESS},
        {"valid", x.data(), 1000, 8192, 2048, true, 1, QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        double *buffer = reinterpret_cast<double *>(&buffer);
        uint64_t length = 77;
        EXPECT_EQ(qn_ecma_ear_filter(c.signal, c.count, c.lead, c.multiple, c.pad, c.field, &buffer, &length),
                  c.expected)
            << c.what;
        if (c.expected == QN_STATUS_SUCCESS) {
            EXPECT_NE(buffer, nullptr) << c.what;
            qn_free(buffer);
        } else {
            EXPECT_EQ(buffer, nullptr) << c.what;
            EXPECT_EQ(length, 0u) << c.what;
        }
    }
    uint64_t length = 77;
    double *buffer = nullptr;
    EXPECT_EQ(qn_ecma_ear_filter(x.data(), 1000, 8192, 2048, true, 0, nullptr, &length), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(length, 77u);
    EXPECT_EQ(qn_ecma_ear_filter(x.data(), 1000, 8192, 2048, true, 0, &buffer, nullptr), QN_STATUS_NULL_POINTER);
}

TEST(EcmaEarFilter, Lengths) {
    struct Case {
        uint64_t count, lead, multiple;
        bool pad;
        uint64_t length;
    };
    const Case cases[] = {
        {14592, 8192, 2048, true, 32768},  // n + P = 22784 rounds up to 24576
        {14336, 8192, 2048, true, 30720},  // n + P = 22528 is a multiple already: n + 2P
        {240, 8192, 2048, true, 18432},    // 8432 rounds up to 10240
        {15360, 16384, 4096, false, 31744},
        {15361, 16384, 4096, false, 31745},
    };
    for (const Case &c : cases) {
        const auto x = qn_test::sine(500, 0.1, c.count);
        qn_status status;
        const auto buf = whole_ear(x, c.lead, c.multiple, c.pad, QN_SOUND_FIELD_FREE, &status);
        ASSERT_EQ(status, QN_STATUS_SUCCESS) << c.count;
        EXPECT_EQ(buf.length, c.length) << c.count;
    }
}

TEST(EcmaEarFilter, EqualsTheCascadeAndKeepsTheLeadingZeros) {
    const auto x = qn_test::pink_noise(0.3, 20000, 7);
    for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
        qn_status status;
        const auto buf = whole_ear(x, 8192, 2048, true, field, &status);
        ASSERT_EQ(status, QN_STATUS_SUCCESS);
        // The diffuse field skips exactly the first two sections.
        const auto literal = literal_ear(x, 8192, buf.length, field == QN_SOUND_FIELD_DIFFUSE ? 2 : 0);
        EXPECT_EQ(first_difference(buf.data.get(), literal.data(), buf.length), -1) << field;
        for (std::size_t i = 0; i < 8192; ++i) ASSERT_TRUE(same_bits(buf.data[i], 0.0)) << i;
        // The filters ring on into the trailing zeros.
        EXPECT_NE(buf.data[buf.length - 1], 0.0);
    }
    qn_status status;
    const auto free_field = whole_ear(x, 8192, 2048, true, QN_SOUND_FIELD_FREE, &status);
    const auto diffuse = whole_ear(x, 8192, 2048, true, QN_SOUND_FIELD_DIFFUSE, &status);
    EXPECT_NE(first_difference(free_field.data.get(), diffuse.data.get(), free_field.length), -1);
}

TEST(EcmaEarFilter, ChunksGiveTheWholeBuffer) {
    const auto x = qn_test::pink_noise(0.3, 30001, 3);
    for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
        qn_status status;
        const auto whole = whole_ear(x, 16384, 4096, false, field, &status);
        ASSERT_EQ(status, QN_STATUS_SUCCESS);
        qn_ecma_ear_stream stream;
        ASSERT_EQ(qn_ecma_ear_stream_init(&stream, x.data(), x.size(), 16384, 4096, false, field), QN_STATUS_SUCCESS);
        ASSERT_EQ(stream.length, whole.length);
        std::vector<double> chunked(stream.length);
        // Chunks that end inside the leading zeros, the fade-in and the tail.
        const std::size_t sizes[] = {1000, 15000, 500, 7, 233, 4096, 1};
        std::size_t at = 0, k = 0;
        while (at < chunked.size()) {
            const std::size_t n = std::min(sizes[k++ % std::size(sizes)], chunked.size() - at);
            ASSERT_TRUE(qn_ecma_ear_stream_read(&stream, chunked.data() + at, n));
            at += n;
        }
        EXPECT_EQ(first_difference(chunked.data(), whole.data.get(), whole.length), -1) << field;
    }
}

TEST(EcmaEarFilter, ResponseOfTheOuterAndMiddleEar) {
    // Gains of the published sections, evaluated independently from their
    // transfer functions.
    struct Case {
        double frequency;
        qn_sound_field field;
        double gain_db;
    };
    const Case cases[] = {
        {100, QN_SOUND_FIELD_FREE, -11.18}, {1000, QN_SOUND_FIELD_FREE, 0.0},
        {4000, QN_SOUND_FIELD_FREE, 6.40},  {12000, QN_SOUND_FIELD_FREE, -10.22},
        {1000, QN_SOUND_FIELD_DIFFUSE, 0.21}, {2000, QN_SOUND_FIELD_DIFFUSE, 3.57},
        {2000, QN_SOUND_FIELD_FREE, 1.29},
    };
    for (const Case &c : cases) EXPECT_NEAR(ear_gain_db(c.frequency, c.field), c.gain_db, 0.02) << c.frequency;
}

TEST(EcmaEarFilter, OverflowAndAllocationFailure) {
    std::vector<double> huge(2000, 1e308);
    for (std::size_t i = 0; i < huge.size(); i += 2) huge[i] = -1e308;
    const int64_t live = qn_test_live_allocations();
    qn_status status;
    auto buf = whole_ear(huge, 8192, 2048, true, QN_SOUND_FIELD_FREE, &status);
    EXPECT_EQ(status, QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_EQ(buf.data, nullptr);
    EXPECT_EQ(qn_test_live_allocations(), live);
    const auto x = qn_test::sine(1000, 0.1, 2000);
    {
        qn_test_allocation_failure fail(0);
        buf = whole_ear(x, 8192, 2048, true, QN_SOUND_FIELD_FREE, &status);
    }
    EXPECT_EQ(status, QN_STATUS_ALLOCATION_FAILED);
    EXPECT_EQ(buf.data, nullptr);
    EXPECT_EQ(qn_test_live_allocations(), live);
}

TEST(EcmaAuditoryFilter, Checks) {
    double in[4] = {1, 0, 0, 0}, out[4] = {7, 7, 7, 7};
    EXPECT_EQ(qn_ecma_auditory_filter(nullptr, 4, 0, out), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_ecma_auditory_filter(in, 4, 0, nullptr), QN_STATUS_NULL_POINTER);
    EXPECT_EQ(qn_ecma_auditory_filter(in, 4, 53, out), QN_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(out[0], 7.0);
    EXPECT_EQ(qn_ecma_auditory_filter(in, 0, 0, out), QN_STATUS_SUCCESS);
    EXPECT_EQ(out[0], 7.0);
}

TEST(EcmaAuditoryFilter, ImpulseResponseIsTheGammaToneOfItsCoefficients) {
    // h[n] = 2 c n^4 d^n cos(omega n), with c the gain-1 normalisation. The
    // fifth-order pole of the low bands lies close to 1, so the rounding of
    // the coefficients alone moves band 0's response by 6e-6 of its peak
    // (the recursion run in exact arithmetic on the rounded coefficients),
    // and rounding in the recursion by another 3e-7; the bound shrinks with
    // the pole's distance from 1.
    struct Case {
        uint64_t band;
        double tolerance;  // relative to the response's peak
    };
    const Case cases[] = {{0, 2e-5}, {7, 2e-6}, {26, 1e-8}, {52, 1e-12}};
    constexpr std::size_t n = 4000;
    std::vector<double> impulse(n, 0.0), out(n);
    impulse[0] = 1.0;
    for (const Case &cs : cases) {
        ASSERT_EQ(qn_ecma_auditory_filter(impulse.data(), n, cs.band, out.data()), QN_STATUS_SUCCESS);
        const long double width = qn_ecma_bandwidth_hz(cs.band), centre = qn_ecma_band_centre_hz(cs.band);
        const long double d = std::exp(-width * 512.0L / 3360000.0L);
        const long double c = std::pow(1 - d, 5.0L) / (d + 11 * d * d + 11 * d * d * d + d * d * d * d);
        const long double omega = 2 * M_PIl * centre / 48000.0L;
        double peak = 0;
        for (std::size_t k = 0; k < n; ++k) peak = std::max(peak, std::fabs(out[k]));
        for (std::size_t k = 0; k < n; ++k) {
            const long double kk = static_cast<long double>(k);
            const double expected = static_cast<double>(2 * c * kk * kk * kk * kk * std::pow(d, kk) * std::cos(omega * kk));
            ASSERT_NEAR(out[k], expected, cs.tolerance * peak) << "band " << cs.band << " sample " << k;
        }
    }
}

TEST(EcmaAuditoryFilter, StopsAtTheFirstNonFiniteOutput) {
    std::vector<double> x(100, 0.0), y(100, 7.0);
    x[10] = 1.0;
    x[50] = infinite;
    // The input enters the states at once, but reaches the output one
    // sample later.
    EXPECT_EQ(qn_ecma_auditory_filter(x.data(), x.size(), 20, y.data()), QN_STATUS_NUMERICAL_FAILURE);
    EXPECT_TRUE(std::isfinite(y[50]));
    EXPECT_FALSE(std::isfinite(y[51]));
    EXPECT_EQ(y[52], 7.0);
    // Band 0 passes a constant at about half its value, and its states hold
    // multiples of the output of up to 10: they overflow.
    std::vector<double> loud(2000, 1e308), z(2000);
    EXPECT_EQ(qn_ecma_auditory_filter(loud.data(), loud.size(), 0, z.data()), QN_STATUS_NUMERICAL_FAILURE);
}

TEST(EcmaBandBank, LanesGiveTheWholeBufferFilterBitForBit) {
    const auto noise = qn_test::pink_noise(0.5, 12345, 11);
    struct Range {
        uint32_t first, count;
    };
    const Range ranges[] = {{0, 53}, {1, 17}, {15, 11}, {25, 28}, {52, 1}, {0, 5}};
    for (qn_simd path : qn_test::simd_paths()) {
        for (const Range &r : ranges) {
            qn_ecma_band_bank bank;
            ASSERT_TRUE(qn_ecma_band_bank_init(&bank, r.first, r.count, path));
            const std::size_t stride = noise.size() + 3;
            std::vector<double> rows(stride * r.count, 0.0);
            // Every other run a vector of lanes at a time.
            const std::size_t sizes[] = {2048, 1, 333, 4096, 77};
            const int width = qn_ecma_band_bank_width(bank), lanes = static_cast<int>(r.count);
            std::size_t at = 0, k = 0;
            while (at < noise.size()) {
                const std::size_t n = std::min(sizes[k++ % std::size(sizes)], noise.size() - at);
                if (k % 2 == 0) {
                    ASSERT_TRUE(qn_ecma_band_bank_run(&bank, noise.data() + at, n, rows.data() + at, stride));
                } else {
                    for (int first = 0; first < lanes; first += width)
                        ASSERT_TRUE(qn_ecma_band_bank_run_lanes(&bank, noise.data() + at, n, rows.data() + at, stride,
                                                                first, std::min(width, lanes - first)));
                }
                at += n;
            }
            std::vector<double> whole(noise.size());
            for (uint32_t j = 0; j < r.count; ++j) {
                ASSERT_EQ(qn_ecma_auditory_filter(noise.data(), noise.size(), r.first + j, whole.data()),
                          QN_STATUS_SUCCESS);
                EXPECT_EQ(first_difference(rows.data() + j * stride, whole.data(), noise.size()), -1)
                    << qn_simd_name(path) << " band " << r.first + j;
            }
        }
    }
}

TEST(EcmaBandBank, RefusesBadRangesAndReportsNonFiniteOutput) {
    qn_ecma_band_bank bank;
    EXPECT_FALSE(qn_ecma_band_bank_init(&bank, 0, 0));
    EXPECT_FALSE(qn_ecma_band_bank_init(&bank, 0, 54));
    EXPECT_FALSE(qn_ecma_band_bank_init(&bank, 53, 1));
    EXPECT_FALSE(qn_ecma_band_bank_init(&bank, 50, 4));
    EXPECT_FALSE(qn_ecma_band_bank_init(&bank, 4294967295u, 2));
    for (qn_simd path : qn_test::simd_paths()) {
        ASSERT_TRUE(qn_ecma_band_bank_init(&bank, 50, 3, path));
        std::vector<double> x(64, 0.01), rows(3 * 64);
        EXPECT_TRUE(qn_ecma_band_bank_run(&bank, x.data(), 64, rows.data(), 64));
        x[10] = not_a_number;
        EXPECT_FALSE(qn_ecma_band_bank_run(&bank, x.data(), 64, rows.data(), 64)) << qn_simd_name(path);
        // Once a state holds a NaN, every later output is NaN.
        x[10] = 0.01;
        EXPECT_FALSE(qn_ecma_band_bank_run(&bank, x.data(), 64, rows.data(), 64)) << qn_simd_name(path);
    }
}

// The band signals that every metric reads, made once in pieces, are the
// sequences each metric's own buffer gives through the whole-buffer
// filters: the tonal analysis' (8192 leading zeros, padded at the end) and
// roughness' (16384 leading zeros). Leading zeros leave the filters at
// rest, so the buffers agree from the signal on, and before it the band
// signals are zero as the buffers are. Compared by value: a filter at rest
// may hold zeros of either sign, and from the first sample that is not
// zero on every value is the same bits.
TEST(EcmaBandSignals, EveryMetricReadsTheSequencesOfItsOwnBuffer) {
    auto x = qn_test::pink_noise(0.2, 20011, 4);
    std::fill(x.begin(), x.begin() + 300, 0.0);  // a signal that starts with silence
    struct Lead {
        uint64_t lead, multiple;
        bool pad;
    };
    const Lead leads[] = {{8192, 2048, true}, {16384, 4096, false}};
    for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
        qn_ecma_band_signals bands;
        ASSERT_TRUE(qn_ecma_band_signals_init(&bands, field, 16384, qn_simd_best()));
        std::vector<std::vector<double>> got(53);  // position -16384 on
        const auto keep = [&](uint64_t from) {     // the ring's samples from `from` to the end
            for (int b = 0; b < 53; ++b)
                for (uint64_t p = from; p < bands.end; ++p)
                    got[b].push_back(qn_ecma_band_row(bands, b)[p % bands.span]);
        };
        for (int b = 0; b < 53; ++b) got[b].assign(16384, 0.0);
        // Half the runs with a tap, which must see every band once, a
        // vector at a time in order, filled to the run's end.
        struct tapped {
            int next = 0;
            uint64_t end = 0;
        } seen;
        const qn_ecma_band_tap tap{[](void *context, const qn_ecma_band_signals &, int first, int count,
                                      uint64_t reached) noexcept {
                                       auto &t = *static_cast<tapped *>(context);
                                       const bool in_order = first == t.next && reached == t.end;
                                       t.next = first + count;
                                       return in_order;
                                   },
                                   &seen};
        const std::size_t sizes[] = {1, 4095, 300, 7000, 2, 9000};
        std::size_t at = 0;
        for (std::size_t k = 0; at < x.size(); ++k) {
            const std::size_t n = std::min(sizes[k % std::size(sizes)], x.size() - at);
            seen = tapped{0, bands.end + n};
            ASSERT_TRUE(qn_ecma_band_signals_run(&bands, x.data() + at, n, k % 2 == 0 ? &tap : nullptr));
            EXPECT_EQ(seen.next, k % 2 == 0 ? 53 : 0);
            keep(at);
            at += n;
        }
        ASSERT_TRUE(qn_ecma_band_signals_run(&bands, nullptr, 5000));  // the tonal analysis' padding
        keep(at);
        for (const Lead &l : leads) {
            qn_status status;
            const auto ear = whole_ear(x, l.lead, l.multiple, l.pad, field, &status);
            ASSERT_EQ(status, QN_STATUS_SUCCESS);
            std::vector<double> whole(ear.length);
            const uint64_t compared = std::min<uint64_t>(ear.length, got[0].size() - 16384 + l.lead);
            for (int b = 0; b < 53; ++b) {
                ASSERT_EQ(qn_ecma_auditory_filter(ear.data.get(), ear.length, b, whole.data()), QN_STATUS_SUCCESS);
                // Buffer index i is position i - lead, at 16384 + i - lead in `got`.
                for (uint64_t i = 0; i < compared; ++i)
                    ASSERT_EQ(got[b][16384 + i - l.lead], whole[i])
                        << "lead " << l.lead << ", field " << field << ", band " << b << ", index " << i;
            }
        }
    }
}
