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
    // ECMA-418-2 loudness, its ears combined (the tonal and noise parts
    // stand in for a second ear), and the roughness reduced piece by piece.
    std::vector<double> series(frames), per_band(53 * frames), both(53 * frames), averaged(53);
    double value = 0;
    if (qn_loudness_ecma(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, series.data(), series.size(),
                         averaged.data(), 53, &value, per_band.data(), per_band.size(), &frames) != QN_STATUS_SUCCESS ||
        qn_ecma_binaural(tonal.data(), tonal.data() + 53 * frames, both.size(), both.data(), both.size()) !=
            QN_STATUS_SUCCESS ||
        qn_ecma_aggregate(QN_ECMA_LOUDNESS, both.data(), frames, series.data(), frames, averaged.data(), 53,
                          &value) != QN_STATUS_SUCCESS)
        return {};
    all.insert(all.end(), per_band.begin(), per_band.end());
    all.insert(all.end(), series.begin(), series.end());
    all.insert(all.end(), averaged.begin(), averaged.end());
    all.push_back(value);
    qn_ecma_accumulator *accumulator = nullptr;
    if (qn_ecma_accumulator_create(QN_ECMA_ROUGHNESS, &accumulator) != QN_STATUS_SUCCESS) return {};
    const uint64_t rough_frames = re.size() / 53;
    std::vector<double> rough_series(rough_frames);
    const qn_status added = qn_ecma_accumulator_add(accumulator, re.data(), 7, rough_series.data(), 7);
    const qn_status rest = qn_ecma_accumulator_add(accumulator, re.data() + 7 * 53, rough_frames - 7,
                                                   rough_series.data() + 7, rough_frames - 7);
    const qn_status result = qn_ecma_accumulator_result(accumulator, averaged.data(), 53, nullptr);
    qn_ecma_accumulator_destroy(accumulator);
    if (added != QN_STATUS_SUCCESS || rest != QN_STATUS_SUCCESS || result != QN_STATUS_SUCCESS ||
        qn_ecma_single_value(QN_ECMA_ROUGHNESS, rough_series.data(), rough_frames, &value) != QN_STATUS_SUCCESS)
        return {};
    all.insert(all.end(), averaged.begin(), averaged.end());
    all.push_back(value);
    // Roughness through the one-pass call, and tonality and roughness
    // through a stream of this thread's own, fed in uneven blocks and read
    // as it goes.
    const uint64_t tonal_frames = frames;
    std::vector<double> rough(re.size());
    if (qn_ecma_analysis(x.data(), x.size(), 48000, QN_SOUND_FIELD_FREE, nullptr, 0, nullptr, 0, rough.data(),
                         rough.size()) != QN_STATUS_SUCCESS)
        return {};
    all.insert(all.end(), rough.begin(), rough.end());
    qn_ecma_stream *stream = nullptr;
    if (qn_ecma_stream_create(48000, QN_SOUND_FIELD_DIFFUSE, QN_ECMA_TONALITY | QN_ECMA_ROUGHNESS, &stream) !=
        QN_STATUS_SUCCESS)
        return {};
    std::vector<double> streamed(265 * tonal_frames + re.size());
    uint64_t tonal_read = 0, rough_read = 0;
    at = 0;
    bool ok = true, ended = false;
    for (std::size_t block = 1; ok && !ended; block = block * 5 + 3) {
        const std::size_t len = std::min(block, x.size() - at);
        ok = qn_ecma_stream_add(stream, x.data() + at, len) == QN_STATUS_SUCCESS;
        at += len;
        ended = at == x.size();
        if (ok && ended) ok = qn_ecma_stream_finish(stream) == QN_STATUS_SUCCESS;
        uint64_t got = 0;
        ok = ok && qn_ecma_stream_read(stream, QN_ECMA_TONALITY, streamed.data() + 265 * tonal_read,
                                       265 * (tonal_frames - tonal_read), &got) == QN_STATUS_SUCCESS;
        tonal_read += got;
        double *rough_at = streamed.data() + 265 * tonal_frames + 53 * rough_read;
        ok = ok && qn_ecma_stream_read(stream, QN_ECMA_ROUGHNESS, rough_at, re.size() - 53 * rough_read, &got) ==
                       QN_STATUS_SUCCESS;
        rough_read += got;
    }
    qn_ecma_stream_destroy(stream);
    if (!ok || tonal_read != tonal_frames || 53 * rough_read != re.size()) return {};
    all.insert(all.end(), streamed.begin(), streamed.end());

    // ECMA-418-2 fluctuation strength needs more than 65536 samples: the
    // signal four times over, in one call and through a stream of this
    // thread's own fed in two blocks.
    std::vector<double> longer;
    for (int r = 0; r < 4; ++r) longer.insert(longer.end(), x.begin(), x.end());
    if (qn_ecma_fluctuation_frame_count(longer.size(), 48000, &frames) != QN_STATUS_SUCCESS) return {};
    std::vector<double> fluctuation(2 * 53 * frames);
    if (qn_fluctuation_ecma(longer.data(), longer.size(), 48000, QN_SOUND_FIELD_FREE, fluctuation.data(),
                            53 * frames, &frames) != QN_STATUS_SUCCESS ||
        qn_ecma_stream_create(48000, QN_SOUND_FIELD_FREE, QN_ECMA_FLUCTUATION, &stream) != QN_STATUS_SUCCESS)
        return {};
    uint64_t fluct_read = 0;
    ok = qn_ecma_stream_add(stream, longer.data(), 70001) == QN_STATUS_SUCCESS &&
         qn_ecma_stream_add(stream, longer.data() + 70001, longer.size() - 70001) == QN_STATUS_SUCCESS &&
         qn_ecma_stream_finish(stream) == QN_STATUS_SUCCESS &&
         qn_ecma_stream_read(stream, QN_ECMA_FLUCTUATION, fluctuation.data() + 53 * frames, 53 * frames,
                             &fluct_read) == QN_STATUS_SUCCESS;
    qn_ecma_stream_destroy(stream);
    if (!ok || fluct_read != frames) return {};
    all.insert(all.end(), fluctuation.begin(), fluctuation.end());

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
