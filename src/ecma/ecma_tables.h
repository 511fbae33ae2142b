// Constants of the ECMA-418-2 hearing model (the ear of Sottek's model):
// the outer and middle ear filter, the threshold of hearing per auditory
// band and the constants of the loudness nonlinearity. Laid out as they are
// published, so that a reader can check them row by row.
#ifndef QN_ECMA_ECMA_TABLES_H
#define QN_ECMA_ECMA_TABLES_H

#include <cstdint>

namespace qn_ecma {

// 53 auditory bands, 0.5 Bark apart from 0.5 to 26.5 Bark.
inline constexpr int band_count = 53;

// Centre frequency f_c(b) = band_centre_factor sinh(band_rate_factor 0.5 (b + 1)) Hz
// and bandwidth hypot(bandwidth_floor_hz, band_rate_factor f_c) Hz;
// band_centre_factor is 81.9289 / 0.1618.
inline constexpr double band_centre_factor = 506.3590852904821;
inline constexpr double band_rate_factor = 0.1618;
inline constexpr double bandwidth_floor_hz = 81.9289;

// Specific loudness at the threshold of hearing, sone per Bark, by band.
inline constexpr double threshold[band_count] = {
    0.331,  0.1625, 0.1051, 0.0757, 0.0576, 0.0453, 0.0365, 0.0298, 0.0247, 0.0207,
    0.0176, 0.0151, 0.0131, 0.0115, 0.0103, 0.0093, 0.0086, 0.0081, 0.0077, 0.0074,
    0.0073, 0.0072, 0.0071, 0.0072, 0.0073, 0.0074, 0.0076, 0.0079, 0.0082, 0.0086,
    0.0092, 0.01,   0.0109, 0.0122, 0.0138, 0.0157, 0.0172, 0.018,  0.018,  0.0177,
    0.0176, 0.0177, 0.0182, 0.019,  0.0202, 0.0217, 0.0237, 0.0263, 0.0296, 0.0339,
    0.0398, 0.0485, 0.0622,
};

// One second-order section y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2]
// - a1 y[n-1] - a2 y[n-2] of the outer and middle ear filter.
struct ear_section {
    double b0, b1, b2, a1, a2;
};

inline constexpr int ear_section_count = 8;

// Sections 0 and 1 model the free-field transfer to the eardrum; the
// diffuse field starts at section 2.
inline constexpr int ear_first_diffuse_section = 2;

inline constexpr ear_section ear_sections[ear_section_count] = {
    //  b0                  b1                   b2                   a1                   a2
    {1.015896020255593, -1.925298877776079, 0.922118060364679, -1.925298877776079, 0.938014080620272},
    {0.958943219304445, -1.806088011849494, 0.876438777856084, -1.806088011849494, 0.83538199716053},
    {0.961371976333197, -1.763632154338248, 0.821787991845146, -1.763632154338248, 0.783159968178343},
    {2.225803503609735, -1.434650484792157, -0.498204282194628, -1.434650484792157, 0.727599221415107},
    {0.471735128494163, -0.366091796830044, 0.24414470388502, -0.366091796830044, -0.284120167620817},
    {0.115267139824401, 0, -0.115267139824401, -1.796002566692014, 0.805837815618546},
    {0.988029297230954, -1.91243380293387, 0.926131550180785, -1.912433802933871, 0.914160847411739},
    {1.952237687301361, 0.162319983017519, -0.667994113035186, 0.162319983017519, 0.284243574266175},
};

// The signal is faded in over its first 240 samples (5 ms) with a raised
// cosine, so that a signal starting abruptly does not ring the filters.
inline constexpr uint64_t fade_in_samples = 240;

// Loudness nonlinearity: N = scale (p / p0) prod_i (1 + (p / p_i)^1.5)^e_i,
// times the calibration factor. p0 = 20 uPa.
inline constexpr double loudness_scale = 0.0211668;  // sone per Bark
inline constexpr double reference_pressure = 2e-05;  // Pa
inline constexpr double nonlinearity_power = 1.5;
inline constexpr double loudness_calibration = 1.00132;
inline constexpr int knee_count = 8;

// p_i = 20 uPa 10^(L_i / 20) Pa for L_i = 15, 25, ... 85 dB: the knees of
// the compression.
inline constexpr double knee_pressure[knee_count] = {
    0.00011246826503806983, 0.0003556558820077846, 0.0011246826503806982, 0.003556558820077846,
    0.011246826503806982,   0.03556558820077846,   0.11246826503806984,   0.3556558820077846,
};

// e_i: the change of slope at each knee.
inline constexpr double knee_exponent[knee_count] = {
    -0.22653333333333334, -0.38253333333333334, 0.36799999999999994, -0.4037333333333333,
    0.24933333333333332,  -0.1324,              0.12746666666666664, 0.16266666666666665,
};

// The auditory filters: time constant tau = 70 / (512 bandwidth) s, so the
// pole is d = exp(-bandwidth 512 / (48000 70)).
inline constexpr double filter_time_divisor = 3360000.0;  // 48000 * 70
inline constexpr double filter_time_factor = 512.0;

}  // namespace qn_ecma

#endif
