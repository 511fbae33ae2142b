// qn_ecma_analysis (and with fluctuation): several ECMA-418-2 metrics in one
// pass, each equal to its own export bit for bit; the check order,
// overlapping arrays, what is written after each failure, every allocation
// site.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "quarnelo.h"
#include "support/alloc_hook.h"
#include "support/expect.h"
#include "support/signals.h"

using qn_test::sentinel;
using qn_test::sentinel_buffer;
using qn_test::untouched;

namespace {

bool same_bits(const double *a, const double *b, std::size_t n) { return std::memcmp(a, b, n * sizeof(double)) == 0; }

std::vector<double> am_over_noise(std::size_t n) {
    auto x = qn_test::pink_noise(0.02, n, 12);
    const auto tone = qn_test::am_tone(2000, 40, 1.0, 0.05, n);
    for (std::size_t i = 0; i < n; ++i) x[i] += tone[i];
    return x;
}

}  // namespace

TEST(EcmaAnalysis, EachArrayEqualsItsOwnExport) {
    for (const std::size_t n : {std::size_t{15360}, std::size_t{70001}}) {
        const auto x = am_over_noise(n);
        for (qn_sound_field field : {QN_SOUND_FIELD_FREE, QN_SOUND_FIELD_DIFFUSE}) {
            uint64_t vt = 0, vr = 0;
            ASSERT_EQ(qn_ecma_tonal_frame_count(n, 48000, &vt), QN_STATUS_SUCCESS);
            ASSERT_EQ(qn_ecma_roughness_frame_count(n, 48000, &vr), QN_STATUS_SUCCESS);
            std::vector<double> tonal(265 * vt), rough(53 * vr);
            ASSERT_EQ(qn_ecma_tonal_analysis(x.data(), n, 48000, field, tonal.data(), tonal.size(), &vt),
                      QN_STATUS_SUCCESS);
            ASSERT_EQ(qn_roughness_ecma(x.data(), n, 48000, field, rough.data(), rough.size(), &vr), QN_STATUS_SUCCESS);
            // Every combination of the three arrays at the shortest length,
            // all three and loudness with roughness beyond it.
            for (int wanted = 1; wanted < 8; ++wanted) {
                if (n > 15360 && wanted != 7 && wanted != 6) continue;
                auto t = sentinel_buffer(265 * vt), l = sentinel_buffer(53 * vt), r = sentinel_buffer(53 * vr);
                const bool with_t = wanted & 1, with_l = wanted & 2, with_r = wanted & 4;
                ASSERT_EQ(qn_ecma_analysis(x.data(), n, 48000, field, with_t ? t.data() : nullptr,
                                           with_t ? t.size() : 0, with_l ? l.data() : nullptr,
                                           with_l ? l.size() : 0, with_r ? r.data() : nullptr,
                                           with_r ? r.size() : 0),
                          QN_STATUS_SUCCESS)
                    << n << " " << wanted;
                EXPECT_TRUE(with_t ? same_bits(t.data(), tonal.data(), t.size()) : untouched(t)) << n << " " << wanted;
                EXPECT_TRUE(with_l ? same_bits(l.data(), tonal.data() + 212 * vt, l.size()) : untouched(l))
                    << n << " " << wanted;
                EXPECT_TRUE(with_r ? same_bits(r.data(), rough.data(), r.size()) : untouched(r)) << n << " " << wanted;
            }
        }
    }
}

TEST(EcmaAnalysis, CheckOrderAndWhatIsWritten) {
    const uint64_t n = 15360;  // tonal frames 61, roughness frames 17
    const uint64_t t_size = 265 * 61, l_size = 53 * 61, r_size = 53 * 17;
    auto x = am_over_noise(n);
    auto with_nan = x;
    with_nan[n - 1] = std::numeric_limits<double>::quiet_NaN();
    // One block holds the samples and every array, so that the cases can
    // make them overlap.
    const uint64_t room = n + t_size + l_size + r_size + 8;
    std::vector<double> block(room);
    double *samples = block.data();
    double *t = samples + n + 2, *l = t + t_size + 2, *r = l + l_size + 2;
    const uint64_t longest_rough = 1152921504606830591;
    struct Case {
        const char *what;
        const double *samples;
        uint64_t count;
        int32_t rate;
        qn_sound_field field;
        double *t;
        uint64_t t_cap;
        double *l;
        uint64_t l_cap;
        double *r;
        uint64_t r_cap;
        qn_status expected;
    };
    const Case cases[] = {
        {"rate first", nullptr, 0, 44100, 9, nullptr, 0, nullptr, 0, nullptr, 0, QN_STATUS_INVALID_SAMPLE_RATE},
        {"field", nullptr, 0, 48000, 2, nullptr, 0, nullptr, 0, nullptr, 0, QN_STATUS_INVALID_SOUND_FIELD},
        {"no array", samples, n, 48000, 0, nullptr, 7, nullptr, 0, nullptr, 0, QN_STATUS_INVALID_ARGUMENT},
        {"too short for roughness", samples, n - 1, 48000, 0, t, t_size, nullptr, 0, r, r_size,
         QN_STATUS_INPUT_TOO_SHORT},
        {"too short for tonality", samples, 14591, 48000, 0, nullptr, 0, l, 0, nullptr, 0, QN_STATUS_INPUT_TOO_SHORT},
        {"too long for roughness", samples, longest_rough + 1, 48000, 0, nullptr, 0, nullptr, 0, r, 0,
         QN_STATUS_SIZE_OVERFLOW},
        {"too long for tonality", samples, 1113765679922085633, 48000, 0, t, 0, nullptr, 0, nullptr, 0,
         QN_STATUS_SIZE_OVERFLOW},
        {"tonality one short", samples, n, 48000, 0, t, t_size - 1, l, l_size, r, r_size, QN_STATUS_OUTPUT_TOO_SMALL},
        {"loudness one short", samples, n, 48000, 0, t, t_size, l, l_size - 1, r, r_size, QN_STATUS_OUTPUT_TOO_SMALL},
        {"roughness one short", samples, n, 48000, 0, t, t_size, l, l_size, r, r_size - 1, QN_STATUS_OUTPUT_TOO_SMALL},
        {"null array with room claimed", samples, n, 48000, 0, t, t_size, nullptr, 1, r, r_size,
         QN_STATUS_OUTPUT_TOO_SMALL},
        {"capacity before NaN", with_nan.data(), n, 48000, 0, nullptr, 0, l, 3, nullptr, 0, QN_STATUS_OUTPUT_TOO_SMALL},
        {"spectra size of the longest", samples, longest_rough, 48000, 0, nullptr, 0, nullptr, 0, r, UINT64_MAX,
         QN_STATUS_SIZE_OVERFLOW},
        {"tonality over the samples' last value", samples, n, 48000, 0, samples + n - 1, t_size, nullptr, 0, nullptr, 0,
         QN_STATUS_INVALID_ARGUMENT},
        {"loudness over tonality", samples, n, 48000, 0, t, t_size, t + t_size - 1, l_size, nullptr, 0,
         QN_STATUS_INVALID_ARGUMENT},
        {"roughness over loudness", samples, n, 48000, 1, nullptr, 0, l, l_size, l + 5, r_size,
         QN_STATUS_INVALID_ARGUMENT},
        {"overlap before null samples", nullptr, n, 48000, 0, t, t_size, t, l_size, nullptr, 0,
         QN_STATUS_INVALID_ARGUMENT},
        {"null samples", nullptr, n, 48000, 0, t, t_size, l, l_size, r, r_size, QN_STATUS_NULL_POINTER},
        {"NaN", with_nan.data(), n, 48000, 0, t, t_size, l, l_size, r, r_size, QN_STATUS_NON_FINITE_INPUT},
        {"adjacent arrays, capacity beyond left alone", samples, n, 48000, 0, t, t_size + 2, l, l_size, r, r_size + 2,
         QN_STATUS_SUCCESS},
    };
    for (const Case &c : cases) {
        std::copy(x.begin(), x.end(), block.begin());
        std::fill(block.begin() + static_cast<std::ptrdiff_t>(n), block.end(), sentinel);
        EXPECT_EQ(qn_ecma_analysis(c.samples, c.count, c.rate, c.field, c.t, c.t_cap, c.l, c.l_cap, c.r, c.r_cap),
                  c.expected)
            << c.what;
        EXPECT_TRUE(std::equal(x.begin(), x.end(), block.begin())) << c.what << ": the samples are never written";
        if (c.expected != QN_STATUS_SUCCESS) {
            EXPECT_TRUE(untouched(block, n)) << c.what;
        } else {
            // The two doubles after each array are left alone.
            for (const double *end : {t + t_size, l + l_size, r + r_size})
                EXPECT_TRUE(end[0] == sentinel && end[1] == sentinel) << c.what;
        }
    }
}

TEST(EcmaAnalysis, AllocationFailuresAtEverySite) {
    const uint64_t n = 15360;
    const auto x = am_over_noise(n);
    std::vector<double> t(265 * 61), l(53 * 61), r(53 * 17);
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(qn_ecma_analysis(x.data(), n, 48000, 0, t.data(), t.size(), l.data(), l.size(), r.data(), r.size()),
              QN_STATUS_SUCCESS);
    const std::vector<double> expected_t = t, expected_r = r;
    const int64_t requests = qn_test_allocation_count();
    const int64_t live = qn_test_live_allocations();
    ASSERT_GT(requests, 8);
    for (int64_t i = 0; i < requests; ++i) {
        std::fill(t.begin(), t.end(), sentinel);
        std::fill(l.begin(), l.end(), sentinel);
        std::fill(r.begin(), r.end(), sentinel);
        {
            qn_test_allocation_failure fail(i);
            EXPECT_EQ(
                qn_ecma_analysis(x.data(), n, 48000, 0, t.data(), t.size(), l.data(), l.size(), r.data(), r.size()),
                QN_STATUS_ALLOCATION_FAILED)
                << "request " << i;
        }
        EXPECT_TRUE(untouched(t) && untouched(l) && untouched(r)) << "request " << i;
        EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
    }
    ASSERT_EQ(qn_ecma_analysis(x.data(), n, 48000, 0, t.data(), t.size(), nullptr, 0, r.data(), r.size()),
              QN_STATUS_SUCCESS);
    EXPECT_TRUE(same_bits(t.data(), expected_t.data(), t.size()) && same_bits(r.data(), expected_r.data(), r.size()));
}

// qn_ecma_analysis_with_fluctuation: the fluctuation array equals
// qn_fluctuation_ecma's, the others their own exports', alone or together;
// the checks fluctuation adds; every allocation site with it.
TEST(EcmaAnalysis, WithFluctuation) {
    const uint64_t n = 65537;  // fluctuation and roughness frames 69, tonal frames 258
    const uint64_t t_size = 265 * 258, l_size = 53 * 258, r_size = 53 * 69, f_size = 53 * 69;
    const auto x = am_over_noise(n);
    std::vector<double> tonal(t_size), rough(r_size), fluct(f_size);
    uint64_t v = 0;
    ASSERT_EQ(qn_ecma_tonal_analysis(x.data(), n, 48000, 1, tonal.data(), t_size, &v), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_roughness_ecma(x.data(), n, 48000, 1, rough.data(), r_size, &v), QN_STATUS_SUCCESS);
    ASSERT_EQ(qn_fluctuation_ecma(x.data(), n, 48000, 1, fluct.data(), f_size, &v), QN_STATUS_SUCCESS);
    for (const bool all : {false, true}) {
        auto t = sentinel_buffer(t_size), l = sentinel_buffer(l_size), r = sentinel_buffer(r_size),
             f = sentinel_buffer(f_size);
        ASSERT_EQ(qn_ecma_analysis_with_fluctuation(x.data(), n, 48000, 1, all ? t.data() : nullptr, all ? t_size : 0,
                                                    all ? l.data() : nullptr, all ? l_size : 0,
                                                    all ? r.data() : nullptr, all ? r_size : 0, f.data(), f_size),
                  QN_STATUS_SUCCESS);
        EXPECT_TRUE(same_bits(f.data(), fluct.data(), f_size)) << all;
        EXPECT_TRUE(all ? same_bits(t.data(), tonal.data(), t_size) : untouched(t)) << all;
        EXPECT_TRUE(all ? same_bits(l.data(), tonal.data() + 212 * 258, l_size) : untouched(l)) << all;
        EXPECT_TRUE(all ? same_bits(r.data(), rough.data(), r_size) : untouched(r)) << all;
    }

    auto r = sentinel_buffer(r_size + f_size), f = sentinel_buffer(f_size);
    auto with_nan = x;
    with_nan[7] = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char *what;
        const double *samples;
        uint64_t count;
        double *r;
        uint64_t r_cap;
        double *f;
        uint64_t f_cap;
        qn_status expected;
    };
    const Case cases[] = {
        {"no array of four", x.data(), n, nullptr, 0, nullptr, 5, QN_STATUS_INVALID_ARGUMENT},
        {"too short for fluctuation", x.data(), n - 1, r.data(), r_size, f.data(), f_size, QN_STATUS_INPUT_TOO_SHORT},
        {"too long for fluctuation", x.data(), 1152921504606781440, nullptr, 0, f.data(), 0, QN_STATUS_SIZE_OVERFLOW},
        {"fluctuation one short", x.data(), n, r.data(), r_size, f.data(), f_size - 1, QN_STATUS_OUTPUT_TOO_SMALL},
        {"roughness short before fluctuation", x.data(), n, r.data(), 1, f.data(), 0, QN_STATUS_OUTPUT_TOO_SMALL},
        {"null fluctuation with room claimed", x.data(), n, r.data(), r_size, nullptr, 1, QN_STATUS_OUTPUT_TOO_SMALL},
        {"fluctuation over roughness", x.data(), n, r.data(), r_size, r.data() + r_size - 1, f_size,
         QN_STATUS_INVALID_ARGUMENT},
        {"fluctuation over the samples", x.data(), n, nullptr, 0, const_cast<double *>(x.data()) + n - 1, f_size,
         QN_STATUS_INVALID_ARGUMENT},
        {"NaN", with_nan.data(), n, nullptr, 0, f.data(), f_size, QN_STATUS_NON_FINITE_INPUT},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(qn_ecma_analysis_with_fluctuation(c.samples, c.count, 48000, 0, nullptr, 0, nullptr, 0, c.r, c.r_cap,
                                                    c.f, c.f_cap),
                  c.expected)
            << c.what;
        EXPECT_TRUE(untouched(r) && untouched(f)) << c.what;
    }

    // Fail request i, expect the status, expect no leak.
    std::vector<double> l(l_size);
    qn_test_fail_allocation_at(-1);
    ASSERT_EQ(qn_ecma_analysis_with_fluctuation(x.data(), n, 48000, 0, nullptr, 0, l.data(), l_size, nullptr, 0,
                                                f.data(), f_size),
              QN_STATUS_SUCCESS);
    const int64_t requests = qn_test_allocation_count();
    const int64_t live = qn_test_live_allocations();
    ASSERT_GT(requests, 8);
    for (int64_t i = 0; i < requests; ++i) {
        std::fill(f.begin(), f.end(), sentinel);
        {
            qn_test_allocation_failure fail(i);
            EXPECT_EQ(qn_ecma_analysis_with_fluctuation(x.data(), n, 48000, 0, nullptr, 0, l.data(), l_size, nullptr,
                                                        0, f.data(), f_size),
                      QN_STATUS_ALLOCATION_FAILED)
                << "request " << i;
        }
        EXPECT_TRUE(untouched(f)) << "request " << i;
        EXPECT_EQ(qn_test_live_allocations(), live) << "request " << i;
    }
}
