// Constant tables of the Zwicker loudness model (ISO 532-1), laid out as
// the tables of the standard so they can be checked row by row.
#ifndef QN_LOUDNESS_ZWICKER_TABLES_H
#define QN_LOUDNESS_ZWICKER_TABLES_H

#include <iterator>

#include "loudness/loudness.h"

// Every table is sized by its initialiser; the static_asserts below tie its
// length to the count it must have, so a missing value cannot be filled with
// a silent zero.
namespace qn_zwicker {

inline constexpr int low_band_count = 11;   // third-octave bands 25 ... 250 Hz
inline constexpr int level_range_count = 8; // ranges of the low-frequency weights
inline constexpr int loudness_range_count = 18;
inline constexpr int slope_column_count = 8;
// The critical bands with a level of their own: every core band but the
// last, whose core loudness is always 0.
inline constexpr int level_band_count = qn_core_band_count - 1;

// Upper level limits of the low-frequency ranges, dB. An eighth limit is
// never needed: a level above 100 dB falls into the last range.
inline constexpr double range_limit_db[] = {45, 55, 65, 71, 80, 90, 100};

// Low-frequency weights by level range (rows) and band (columns), dB:
//  25  31.5   40   50   63   80  100  125  160  200  250 Hz
inline constexpr double low_weight_db[level_range_count][low_band_count] = {
    {-32, -24, -16, -10, -5, 0, -7, -3, 0, -2, 0},
    {-29, -22, -15, -10, -4, 0, -7, -2, 0, -2, 0},
    {-27, -19, -14, -9, -4, 0, -6, -2, 0, -2, 0},
    {-25, -17, -12, -9, -3, 0, -5, -2, 0, -2, 0},
    {-23, -16, -11, -7, -3, 0, -4, -1, 0, -1, 0},
    {-20, -14, -10, -6, -3, 0, -4, -1, 0, -1, 0},
    {-18, -12, -9, -6, -2, 0, -3, -1, 0, -1, 0},
    {-15, -10, -8, -4, -2, 0, -3, -1, 0, -1, 0},
};

// Per critical band 0 ... 19 (bands 0-2 are the groups 25-80, 100-160 and
// 200-250 Hz, then one band each from 315 Hz to 12.5 kHz), in dB:
// outer/middle-ear transmission attenuation,
inline constexpr double transmission_db[] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, -0.5, -1.6, -3.2, -5.4, -5.6, -4.0, -1.5, 2.0, 5.0, 12.0};
// diffuse-field correction,
inline constexpr double diffuse_db[] = {
    0, 0, 0.5, 0.9, 1.2, 1.6, 2.3, 2.8, 3.0, 2.0, 0, -1.4, -2.0, -1.9, -1.0, 0.5, 3.0, 4.0, 4.3, 4.0};
// threshold in quiet,
inline constexpr double threshold_db[] = {30, 18, 12, 8, 7, 6, 5, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3};
// and the level correction between a third-octave band and a critical band.
inline constexpr double band_correction_db[] = {
    -0.25, -0.6, -0.8, -0.8, -0.5, 0, 0.5, 1.1, 1.5, 1.7, 1.8, 1.8, 1.7, 1.6, 1.4, 1.2, 0.8, 0.5, 0, -0.5};

// The scale of each band's core loudness, 0.0635 * 10^(0.025 * threshold),
// as constants: the model publishes the first three this way, and keeping
// all twenty spares the time-varying method seventeen powers per step.
inline constexpr double core_factor[] = {
    0.3570867414958717,  0.17896731613529282, 0.12669915700052387, 0.10064071772128072,
    0.09501096416199653, 0.0896961340835449,  0.08467861094237107, 0.07994176364892962,
    0.07546989144225068, 0.07546989144225068, 0.07546989144225068, 0.07546989144225068,
    0.07546989144225068, 0.07546989144225068, 0.07546989144225068, 0.07546989144225068,
    0.07546989144225068, 0.07546989144225068, 0.07546989144225068, 0.07546989144225068};

// Upper limit of each critical band on the critical-band rate, Bark.
inline constexpr double upper_limit_bark[] = {
    0.9, 1.8, 2.8, 3.5, 4.4, 5.4, 6.6, 7.9, 9.2, 10.6, 12.3,
    13.8, 15.2, 16.7, 18.1, 19.3, 20.6, 21.8, 22.7, 23.6, 24.0};

// Specific-loudness ranges that select the slope of the upper flank,
// sone/Bark.
inline constexpr double loudness_range[] = {
    21.5, 18, 15.1, 11.5, 9, 6.1, 4.4, 3.1, 2.13, 1.36, 0.82, 0.42, 0.30, 0.22, 0.15, 0.10, 0.035, 0};

// Steepness of the upper flank by loudness range (rows) and slope column
// (band index - 1, limited to 0 ... 7), sone/Bark per Bark.
inline constexpr double upper_slope[][slope_column_count] = {
    {13.0, 8.2, 6.3, 5.5, 5.5, 5.5, 5.5, 5.5},
    {9.0, 7.5, 6.0, 5.1, 4.5, 4.5, 4.5, 4.5},
    {7.8, 6.7, 5.6, 4.9, 4.4, 3.9, 3.9, 3.9},
    {6.2, 5.4, 4.6, 4.0, 3.5, 3.2, 3.2, 3.2},
    {4.5, 3.8, 3.6, 3.2, 2.9, 2.7, 2.7, 2.7},
    {3.7, 3.0, 2.8, 2.35, 2.2, 2.2, 2.2, 2.2},
    {2.9, 2.3, 2.1, 1.9, 1.8, 1.7, 1.7, 1.7},
    {2.4, 1.7, 1.5, 1.35, 1.3, 1.3, 1.3, 1.3},
    {1.95, 1.45, 1.3, 1.15, 1.1, 1.1, 1.1, 1.1},
    {1.5, 1.2, 0.94, 0.86, 0.82, 0.82, 0.82, 0.82},
    {0.72, 0.67, 0.64, 0.63, 0.62, 0.62, 0.62, 0.62},
    {0.59, 0.53, 0.51, 0.5, 0.42, 0.42, 0.42, 0.42},
    {0.4, 0.33, 0.26, 0.24, 0.22, 0.22, 0.22, 0.22},
    {0.27, 0.21, 0.2, 0.18, 0.17, 0.17, 0.17, 0.17},
    {0.16, 0.15, 0.14, 0.12, 0.11, 0.11, 0.11, 0.11},
    {0.12, 0.11, 0.1, 0.08, 0.08, 0.08, 0.08, 0.08},
    {0.09, 0.08, 0.07, 0.06, 0.06, 0.06, 0.06, 0.05},
    {0.06, 0.05, 0.03, 0.02, 0.02, 0.02, 0.02, 0.02},
};

static_assert(std::size(range_limit_db) == level_range_count - 1);
static_assert(std::size(low_weight_db) == level_range_count);
static_assert(std::size(transmission_db) == level_band_count);
static_assert(std::size(diffuse_db) == level_band_count);
static_assert(std::size(threshold_db) == level_band_count);
static_assert(std::size(band_correction_db) == level_band_count);
static_assert(std::size(core_factor) == level_band_count);
static_assert(std::size(upper_limit_bark) == qn_core_band_count);
static_assert(std::size(loudness_range) == loudness_range_count);
static_assert(std::size(upper_slope) == loudness_range_count);

}  // namespace qn_zwicker

#endif
