// Constant tables of the Daniel & Weber roughness model, laid out as
// published so they can be checked row by row. Every table is a list of
// points (x, y) with strictly rising x, read by qn_dw_lookup.
#ifndef QN_ROUGHNESS_DW_TABLES_H
#define QN_ROUGHNESS_DW_TABLES_H

#include <cstddef>

struct qn_dw_point {
    double x, y;
};

namespace qn_dw {

inline constexpr int channel_count = 47;      // channels 1 ... 47, 0.5 Bark apart
inline constexpr int correlation_count = 45;  // pairs (j, j + 2), j = 1 ... 45

// Critical-band rate against frequency: (Hz, Bark), 0 ... 24.5 Bark in
// steps of 0.5 Bark.
inline constexpr qn_dw_point bark_table[50] = {
    {0, 0},       {50, 0.5},    {100, 1},     {150, 1.5},   {200, 2},     {250, 2.5},   {300, 3},
    {350, 3.5},   {400, 4},     {450, 4.5},   {510, 5},     {570, 5.5},   {630, 6},     {700, 6.5},
    {770, 7},     {840, 7.5},   {920, 8},     {1000, 8.5},  {1080, 9},    {1170, 9.5},  {1270, 10},
    {1370, 10.5}, {1480, 11},   {1600, 11.5}, {1720, 12},   {1850, 12.5}, {2000, 13},   {2150, 13.5},
    {2320, 14},   {2500, 14.5}, {2700, 15},   {2900, 15.5}, {3150, 16},   {3400, 16.5}, {3700, 17},
    {4000, 17.5}, {4400, 18},   {4800, 18.5}, {5300, 19},   {5800, 19.5}, {6400, 20},   {7000, 20.5},
    {7700, 21},   {8500, 21.5}, {9500, 22},   {10500, 22.5}, {12000, 23}, {13500, 23.5}, {15500, 24},
    {20000, 24.5},
};

// Threshold in quiet: (Bark, dB).
inline constexpr qn_dw_point quiet_threshold[27] = {
    {0, 130},   {0.01, 70}, {0.17, 60}, {0.8, 30},   {1, 25},    {1.5, 20},  {2, 15},
    {3.3, 10},  {4, 8.1},   {5, 6.3},   {6, 5},      {8, 3.5},   {10, 2.5},  {12, 1.7},
    {13.3, 0},  {15, -2.5}, {16, -4},   {17, -3.7},  {18, -1.5}, {19, 1.4},  {20, 3.8},
    {21, 5},    {22, 7.5},  {23, 15},   {24, 48},    {24.5, 60}, {25, 130},
};

// Outer- and middle-ear transmission: (Bark, dB).
inline constexpr qn_dw_point a0_table[22] = {
    {0, 0},      {10, 0},     {12, 1.15},   {13, 2.31},   {14, 3.85},  {15, 5.62},
    {16, 6.92},  {16.5, 7.38}, {17, 6.92},  {18, 4.23},   {18.5, 2.31}, {19, 0},
    {20, -1.43}, {21, -2.59}, {21.5, -3.57}, {22, -5.19}, {22.5, -7.41}, {23, -11.3},
    {23.5, -20}, {24, -40},   {25, -130},   {26, -999},
};

// Weighting of the envelope's modulation frequencies: (Hz, weight), one
// table per group of channels; the last point bounds each table.
inline constexpr qn_dw_point modulation_h1[15] = {  // channels 1-4
    {0, 0},     {17, 0.8},  {23, 0.95}, {25, 0.975}, {32, 1},    {37, 0.975}, {48, 0.9}, {67, 0.8},
    {90, 0.7},  {114, 0.6}, {171, 0.4}, {206, 0.3},  {247, 0.2}, {294, 0.1},  {358, 0},
};
inline constexpr qn_dw_point modulation_h2[14] = {  // channels 5-15
    {0, 0},      {32, 0.8},  {43, 0.95}, {56, 1},    {69, 0.975}, {92, 0.9}, {120, 0.8},
    {142, 0.7},  {165, 0.6}, {231, 0.4}, {277, 0.3}, {331, 0.2},  {397, 0.1}, {502, 0},
};
inline constexpr qn_dw_point modulation_h3[20] = {  // channels 16-20
    {0, 0},      {23.5, 0.4}, {34, 0.6},  {47, 0.8},   {56, 0.9},   {63, 0.95},  {79, 1},
    {100, 0.975}, {115, 0.95}, {135, 0.9}, {159, 0.85}, {172, 0.8}, {194, 0.7}, {215, 0.6},
    {244, 0.5},  {290, 0.4},  {348, 0.3}, {415, 0.2},  {500, 0.1},  {645, 0},
};
inline constexpr qn_dw_point modulation_h4[18] = {  // channels 21-41
    {0, 0},        {19, 0.4},    {44, 0.8},   {52.5, 0.9}, {58, 0.95},  {75, 1},
    {101.5, 0.95}, {114.5, 0.9}, {132.5, 0.85}, {143.5, 0.8}, {165.5, 0.7}, {197.5, 0.6},
    {241, 0.5},    {290, 0.4},   {348, 0.3},  {415, 0.2},  {500, 0.1},  {645, 0},
};
inline constexpr qn_dw_point modulation_h5[19] = {  // channels 42-47
    {0, 0},     {15, 0.4},  {41, 0.8},  {49, 0.9},  {53, 0.965}, {64, 0.99}, {71, 1},
    {88, 0.95}, {94, 0.9},  {106, 0.85}, {115, 0.8}, {137, 0.7}, {180, 0.6}, {238, 0.5},
    {290, 0.4}, {348, 0.3}, {415, 0.2}, {500, 0.1}, {645, 0},
};

struct modulation_group {
    int first_channel, last_channel;
    const qn_dw_point *points;
    std::size_t count;
};
inline constexpr modulation_group modulation_groups[5] = {
    {1, 4, modulation_h1, 15},   {5, 15, modulation_h2, 14},  {16, 20, modulation_h3, 20},
    {21, 41, modulation_h4, 18}, {42, 47, modulation_h5, 19},
};

// Weight of each critical band's specific roughness at 0, 1, ... 24 Bark.
inline constexpr double g_table[25] = {0.15, 0.26, 0.38, 0.47, 0.54, 0.65, 0.76, 0.83, 0.9,
                                       0.98, 0.98, 0.9,  0.8,  0.7,  0.62, 0.54, 0.49, 0.43,
                                       0.39, 0.35, 0.3,  0.3,  0.3,  0.3,  0.3};

// Calibration: a 1 kHz tone at 60 dB, fully modulated at 70 Hz, has 1 asper.
inline constexpr double calibration = 0.4969205831462427;

// Sound-pressure scale of the spectrum: 1e5 / sqrt(2), so that a sinusoid
// of amplitude a Pa centred on a bin has |X| = a / (sqrt(2) * 20 uPa) and
// 20 log10 |X| is its level in dB re 20 uPa.
inline constexpr double spectrum_reference = 70710.67811865475;

}  // namespace qn_dw

#endif
