// Every analysis from several threads at once must give the serial results
// bit for bit: the library shares no mutable state. Built twice: plainly,
// and under ThreadSanitizer, which also catches races that happen to give
// the right numbers.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "quarnelo.h"

namespace {

std::vector<double> test_signal(std::size_t n, double carrier, double seed) {
    std::vector<double> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / 48000.0;
        x[i] = 0.05 * (1.0 + std::sin(2 * M_PI * 70 * t)) * std::sin(2 * M_PI * carrier * t) +
               0.01 * std::sin(2 * M_PI * (seed * 37.0 + 200.0) * t);
    }
    return x;
}

// All results of one signal, concatenated.
std::vector<double> analyse(const std::vector<double> &x) {
    std::vector<double> all;
    double loudness = 0, specific[240];
    if (qn_loudness_stationary(x.data(), x.size(), 48000, QN_SOUND_FIELD_DIFFUSE, &loudness, specific, 240) !=
        QN_STATUS_SUCCESS)
        return {};
    all.push_back(loudness);
    all.insert(all.end(), specific, specific + 240);
    double sharpness = 0;
    if (qn_sharpness_din(specific, 240, &sharpness) != QN_STATUS_SUCCESS) return {};
    all.push_back(sharpness);

    uint64_t frames = 0;
    if (qn_loudness_time_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return {};
    std::vector<double> n(frames), s(frames * 240);
    if (qn_loudness_time(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, n.data(), n.size(), s.data(), s.size(),
                         &frames) != QN_STATUS_SUCCESS)
        return {};
    all.insert(all.end(), n.begin(), n.end());
    all.insert(all.end(), s.begin(), s.end());

    if (qn_roughness_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return {};
    std::vector<double> r(frames);
    if (qn_roughness_dw(x.data(), x.size(), 48000, r.data(), r.size(), &frames) != QN_STATUS_SUCCESS) return {};
    all.insert(all.end(), r.begin(), r.end());

    // A meter of this thread's own, fed in uneven blocks.
    qn_loudness_meter *meter = nullptr;
    if (qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &meter) != QN_STATUS_SUCCESS) return {};
    std::size_t at = 0;
    for (std::size_t block = 1; at < x.size(); block = block * 3 + 1) {
        const std::size_t len = std::min(block, x.size() - at);
        std::vector<double> m(len / 96 + 1);
        const qn_status status = qn_loudness_meter_add(meter, x.data() + at, len, m.data(), m.size(), nullptr, 0, &frames);
        if (status != QN_STATUS_SUCCESS) break;
        all.insert(all.end(), m.begin(), m.begin() + static_cast<std::ptrdiff_t>(frames));
        at += len;
    }
    const qn_status stationary = qn_loudness_meter_stationary(meter, &loudness, nullptr, 0);
    qn_loudness_meter_destroy(meter);
    if (at != x.size() || stationary != QN_STATUS_SUCCESS) return {};
    all.push_back(loudness);
    if (qn_tonality_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return {};
    std::vector<double> t(frames);
    if (qn_tonality_aures(x.data(), x.size(), 48000, QN_SOUND_FIELD_DIFFUSE, t.data(), t.size(), &frames) !=
        QN_STATUS_SUCCESS)
        return {};
    all.insert(all.end(), t.begin(), t.end());
    if (qn_ecma_roughness_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return {};
    std::vector<double> re(53 * frames);
    if (qn_roughness_ecma(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, re.data(), re.size(), &frames) !=
        QN_STATUS_SUCCESS)
        return {};
    all.insert(all.end(), re.begin(), re.end());
    // ECMA-418-2 tonality in the diffuse field: all five arrays.
    if (qn_ecma_tonal_frame_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return {};
    std::vector<double> tonal(265 * frames);
    if (qn_ecma_tonal_analysis(x.data(), x.size(), 48000, QN_SOUND_FIELD_DIFFUSE, tonal.data(), tonal.size(),
                               &frames) != QN_STATUS_SUCCESS)
        return {};
    all.insert(all.end(), tonal.begin(), tonal.end());

    // Sound levels and band levels, in one call and through meters of this
    // thread's own; loudness level and every sharpness weighting.
    if (qn_sound_level_point_count(x.size(), 48000, &frames) != QN_STATUS_SUCCESS) return {};
    std::vector<double> sound(QN_SOUND_LEVELS), laf(frames), las(frames);
    if (qn_sound_levels(x.data(), x.size(), 48000, sound.data(), sound.size(), laf.data(), frames, las.data(), frames,
                        &frames) != QN_STATUS_SUCCESS)
        return {};
    all.insert(all.end(), sound.begin(), sound.end());
    all.insert(all.end(), laf.begin(), laf.end());
    all.insert(all.end(), las.begin(), las.end());
    qn_sound_level_meter *levels_meter = nullptr;
    if (qn_sound_level_meter_create(48000, &levels_meter) != QN_STATUS_SUCCESS) return {};
    qn_band_level_meter *bands_meter = nullptr;
    if (qn_band_level_meter_create(48000, 4800, &bands_meter) != QN_STATUS_SUCCESS) {
        qn_sound_level_meter_destroy(levels_meter);
        return {};
    }
    at = 0;
    bool fed = true;
    for (std::size_t block = 5; at < x.size(); block = block * 2 + 7) {
        const std::size_t len = std::min(block, x.size() - at);
        std::vector<double> f(len / 480 + 1), b((len / 4800 + 1) * 28);
        uint64_t points = 0;
        fed = fed && qn_sound_level_meter_add(levels_meter, x.data() + at, len, f.data(), f.size(), nullptr, 0,
                                              &points) == QN_STATUS_SUCCESS;
        all.insert(all.end(), f.begin(), f.begin() + static_cast<std::ptrdiff_t>(points));
        fed = fed && qn_band_level_meter_add(bands_meter, x.data() + at, len, b.data(), b.size(), &points) ==
                         QN_STATUS_SUCCESS;
        all.insert(all.end(), b.begin(), b.begin() + static_cast<std::ptrdiff_t>(points * 28));
        at += len;
    }
    double bands[28];
    fed = fed && qn_sound_level_meter_levels(levels_meter, sound.data(), sound.size()) == QN_STATUS_SUCCESS &&
          qn_band_level_meter_levels(bands_meter, bands, 28) == QN_STATUS_SUCCESS;
    qn_sound_level_meter_destroy(levels_meter);
    qn_band_level_meter_destroy(bands_meter);
    if (!fed) return {};
    all.insert(all.end(), sound.begin(), sound.end());
    all.insert(all.end(), bands, bands + 28);
    if (qn_band_level_point_count(x.size(), 48000, 4800, &frames) != QN_STATUS_SUCCESS) return {};
    std::vector<double> band_series(frames * 28);
    if (qn_band_levels(x.data(), x.size(), 48000, 4800, bands, 28, band_series.data(), band_series.size(),
                       &frames) != QN_STATUS_SUCCESS)
        return {};
    all.insert(all.end(), band_series.begin(), band_series.end());
    double phon = 0;
    if (qn_loudness_level(loudness, &phon) != QN_STATUS_SUCCESS) return {};
    all.push_back(phon);
    for (qn_sharpness_weighting w : {QN_SHARPNESS_BISMARCK, QN_SHARPNESS_FASTL, QN_SHARPNESS_AURES}) {
        if (qn_sharpness(specific, 240, w, &sharpness) != QN_STATUS_SUCCESS) return {};
        all.push_back(sharpness);
    }

    double levels[28];
    for (int b = 0; b < 28; ++b) levels[b] = 40.0 + b;
    if (qn_loudness_from_levels(levels, 28, QN_SOUND_FIELD_FREE, &loudness, nullptr, 0) != QN_STATUS_SUCCESS)
        return {};
    all.push_back(loudness);
    return all;
}

}  // namespace

int main() {
    constexpr int threads = 4;
    std::vector<std::vector<double>> signals;
    for (int t = 0; t < threads; ++t) signals.push_back(test_signal(19200, 500.0 + 400.0 * t, t));

    std::vector<std::vector<double>> serial;
    for (const auto &x : signals) serial.push_back(analyse(x));

    std::vector<std::vector<double>> parallel(threads);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back([&, t] { parallel[t] = analyse(signals[t]); });
    for (auto &th : pool) th.join();

    int failures = 0;
    for (int t = 0; t < threads; ++t) {
        if (serial[t].empty() || serial[t].size() != parallel[t].size() ||
            std::memcmp(serial[t].data(), parallel[t].data(), serial[t].size() * sizeof(double)) != 0) {
            std::printf("thread %d: results differ from the serial run\n", t);
            ++failures;
        }
    }
    std::printf("%d threads, %zu values each, %s\n", threads, serial[0].size(),
                failures == 0 ? "identical to serial" : "DIFFERENT");
    return failures == 0 ? 0 : 1;
}
