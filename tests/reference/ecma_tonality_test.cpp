// ECMA-418-2 tonality: the properties every result has (the calibration, a
// 1 kHz tone of 40 dB with tonality 1, is a row of cases.md).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "quarnelo.h"
#include "support/signals.h"

namespace {

struct tonal_result {
    uint64_t frames = 0;
    std::vector<double> out;
    double at(int array, uint64_t frame, int band) const { return out[array * 53 * frames + 53 * frame + band]; }
    // The time-dependent tonality: the largest specific tonality of a
    // frame, and the band that has it.
    double tonality(uint64_t frame, int *band = nullptr) const {
        double best = 0;
        for (int b = 0; b < 53; ++b) {
            if (at(3, frame, b) > best) {
                best = at(3, frame, b);
                if (band) *band = b;
            }
        }
        return best;
    }
};

tonal_result analyse(const std::vector<double> &x, qn_sound_field field) {
    tonal_result r;
    EXPECT_EQ(qn_ecma_tonal_frame_count(x.size(), 48000, &r.frames), QN_STATUS_SUCCESS);
    r.out.assign(265 * r.frames, -1.0);
    EXPECT_EQ(qn_ecma_tonal_analysis(x.data(), x.size(), 48000, field, r.out.data(), r.out.size(), &r.frames),
              QN_STATUS_SUCCESS);
    return r;
}

std::vector<double> tone_at(double frequency, double level_db, std::size_t n) {
    return qn_test::sine(frequency, qn_test::rms_for_level(level_db) * std::sqrt(2.0), n);
}

}  // namespace

TEST(EcmaTonalityReference, TonalityGrowsWithLevelAndNoiseHasLittle) {
    const auto quiet = analyse(tone_at(1000, 40, 2 * 48000), QN_SOUND_FIELD_FREE);
    const auto loud = analyse(tone_at(1000, 60, 2 * 48000), QN_SOUND_FIELD_FREE);
    const auto diffuse = analyse(tone_at(1000, 40, 2 * 48000), QN_SOUND_FIELD_DIFFUSE);
    const uint64_t k = 300;
    EXPECT_GT(loud.tonality(k), 1.5 * quiet.tonality(k));
    // The diffuse field's ear filter differs from the free field's.
    EXPECT_NE(diffuse.tonality(k), quiet.tonality(k));
    EXPECT_NEAR(diffuse.tonality(k), quiet.tonality(k), 0.05);

    const auto noise = analyse(qn_test::white_noise(0.05, 2 * 48000, 3), QN_SOUND_FIELD_FREE);
    for (uint64_t f = 57; f < noise.frames; ++f) EXPECT_LT(noise.tonality(f), 0.1) << "frame " << f;
    // A tone in the same noise stands out in its own band.
    auto mixed = qn_test::white_noise(0.05, 2 * 48000, 3);
    const auto tone = tone_at(3000, 70, mixed.size());
    for (std::size_t i = 0; i < mixed.size(); ++i) mixed[i] += tone[i];
    const auto r = analyse(mixed, QN_SOUND_FIELD_FREE);
    int band = -1;
    EXPECT_GT(r.tonality(300, &band), 0.3);
    EXPECT_NEAR(r.at(2, 300, band), 3000, 3);
}

// What holds in every frame and band: the frequency is a whole bin at the
// instants of the band's blocks, every value is finite and not negative,
// and the total loudness is at least the tonal loudness and the weighted
// noise loudness (a power mean of the two).
TEST(EcmaTonalityReference, PropertiesOfEveryValue) {
    auto x = qn_test::pink_noise(0.03, 60001, 8);
    const auto tone = qn_test::am_tone(700, 4, 0.5, 0.05, x.size());
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += tone[i];
    const auto r = analyse(x, QN_SOUND_FIELD_FREE);
    const int frames_per_hop[] = {8, 4, 2, 1};  // block hop / 256 by group
    const int first_band[] = {0, 3, 16, 25, 53};
    for (int g = 0; g < 4; ++g) {
        for (int b = first_band[g]; b < first_band[g + 1]; ++b) {
            for (uint64_t k = 0; k < r.frames; k += frames_per_hop[g]) {
                const double bins = r.at(2, k, b) / 2.9296875;
                ASSERT_EQ(bins, std::floor(bins)) << "band " << b << ", frame " << k;
            }
        }
    }
    for (uint64_t k = 0; k < r.frames; ++k) {
        for (int b = 0; b < 53; ++b) {
            for (int a = 0; a < 5; ++a) ASSERT_TRUE(std::isfinite(r.at(a, k, b)) && r.at(a, k, b) >= 0);
            const double total = r.at(4, k, b);
            EXPECT_GE(total * (1 + 1e-12), r.at(0, k, b)) << "frame " << k << ", band " << b;
            EXPECT_GE(total * (1 + 1e-12), 0.5331 * r.at(1, k, b)) << "frame " << k << ", band " << b;
            EXPECT_LE(r.at(3, k, b), 2.8761365350855073 * r.at(0, k, b) * (1 + 1e-12));
        }
    }
}
