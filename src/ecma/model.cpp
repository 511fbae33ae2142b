// The hearing model's driver, and the one-shot analyses of tonality,
// roughness and fluctuation strength as the model fed the whole signal.
#include "ecma/model.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/alloc.h"
#include "base/checks.h"
#include "ecma/band_signals.h"
#include "ecma/tonality.h"

struct qn_ecma_model {
    qn_ecma_band_signals bands;
    qn_ecma_tonal_engine *tonal = nullptr;
    qn_ecma_rough_engine *roughness = nullptr;
    qn_ecma_fluct_engine *fluctuation = nullptr;
    ~qn_ecma_model() {
        qn_ecma_tonal_engine_free(tonal);
        qn_ecma_rough_engine_free(roughness);
        qn_ecma_fluct_engine_free(fluctuation);
    }
};

namespace {

// Every engine takes the blocks that end within the band signals.
qn_status advance(qn_ecma_model &m) {
    if (m.fluctuation != nullptr) {
        const qn_status s = qn_ecma_fluct_advance(m.fluctuation, m.bands);
        if (s != QN_STATUS_SUCCESS) return s;
    }
    if (m.roughness != nullptr) {
        const qn_status s = qn_ecma_rough_advance(m.roughness, m.bands);
        if (s != QN_STATUS_SUCCESS) return s;
    }
    if (m.tonal != nullptr) return qn_ecma_tonal_advance(m.tonal, m.bands);
    return QN_STATUS_SUCCESS;
}

// Where the next block of any engine ends; beyond the band signals' end,
// since every engine has taken the blocks that end within them.
uint64_t next_block_end(const qn_ecma_model &m) {
    uint64_t next = UINT64_MAX;
    if (m.roughness != nullptr) next = std::min(next, qn_ecma_rough_next_block_end(*m.roughness));
    if (m.fluctuation != nullptr) next = std::min(next, qn_ecma_fluct_next_block_end(*m.fluctuation));
    if (m.tonal != nullptr) next = std::min(next, qn_ecma_tonal_next_block_end(*m.tonal));
    return next;
}

// Runs `count` samples (null: zeros) through the band signals, stopping at
// every block end so that each engine takes its blocks before the rings
// move on.
qn_status run(qn_ecma_model &m, const double *x, uint64_t count) {
    qn_status s = advance(m);  // the blocks ending at the signal start, on the first run
    // The fluctuation engine folds its segments' bands as they are filtered.
    const qn_ecma_band_tap fluct_tap{qn_ecma_fluct_tap, m.fluctuation};
    const qn_ecma_band_tap *tap = m.fluctuation != nullptr ? &fluct_tap : nullptr;
    uint64_t done = 0;
    while (s == QN_STATUS_SUCCESS && done < count) {
        const uint64_t step = std::min(count - done, next_block_end(m) - m.bands.end);
        if (!qn_ecma_band_signals_run(&m.bands, x == nullptr ? nullptr : x + done, step, tap))
            return QN_STATUS_NUMERICAL_FAILURE;
        done += step;
        s = advance(m);
    }
    return s;
}

}  // namespace

qn_status qn_ecma_model_make(const qn_ecma_model_setup &setup, qn_ecma_model **model) noexcept {
    *model = nullptr;
    if ((setup.tonal == nullptr && setup.roughness == nullptr && setup.fluctuation == nullptr) ||
        !qn_simd_available(setup.path))
        return QN_STATUS_INVALID_ARGUMENT;
    qn_object_ptr<qn_ecma_model> m = qn_make_object<qn_ecma_model>();
    if (m == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    // The rings hold the longest block of any engine. The fluctuation
    // engine reads its segments by a mask: its span, a power of two, must
    // be the longest.
    static_assert(qn_ecma_tonal_span <= qn_ecma_fluct_span && qn_ecma_rough_span <= qn_ecma_fluct_span &&
                  (qn_ecma_fluct_span & (qn_ecma_fluct_span - 1)) == 0);
    uint64_t span = 0;
    if (setup.tonal != nullptr) {
        span = std::max(span, qn_ecma_tonal_span);
        m->tonal = qn_ecma_tonal_engine_make(setup.path, *setup.tonal);
        if (m->tonal == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    }
    if (setup.roughness != nullptr) {
        span = std::max(span, qn_ecma_rough_span);
        m->roughness = qn_ecma_rough_engine_make(setup.transforms, setup.path, *setup.roughness);
        if (m->roughness == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    }
    if (setup.fluctuation != nullptr) {
        span = std::max(span, qn_ecma_fluct_span);
        m->fluctuation = qn_ecma_fluct_engine_make(setup.fluct_transforms, setup.path, *setup.fluctuation);
        if (m->fluctuation == nullptr) return QN_STATUS_ALLOCATION_FAILED;
    }
    if (!qn_ecma_band_signals_init(&m->bands, setup.field, span, setup.path)) return QN_STATUS_ALLOCATION_FAILED;
    *model = m.release();
    return QN_STATUS_SUCCESS;
}

void qn_ecma_model_free(qn_ecma_model *model) noexcept { qn_free_object(model); }

qn_status qn_ecma_model_add(qn_ecma_model *model, const double *x, uint64_t count) noexcept {
    return run(*model, x, count);
}

qn_status qn_ecma_model_finish(qn_ecma_model *model) noexcept {
    qn_ecma_model &m = *model;
    const uint64_t n = m.bands.end;
    if ((m.tonal != nullptr && n < qn_ecma_tonal_min_samples) ||
        (m.roughness != nullptr && n < qn_ecma_rough_min_samples) ||
        (m.fluctuation != nullptr && n < qn_ecma_fluct_min_samples))
        return QN_STATUS_INPUT_TOO_SHORT;
    qn_status s = advance(m);  // a signal that was never run
    // Roughness ends with the signal: its last block is the signal's last
    // 16384 samples, which the rings hold now.
    if (s == QN_STATUS_SUCCESS && m.roughness != nullptr) s = qn_ecma_rough_finish(m.roughness, m.bands);
    // So does fluctuation strength, whose last block is the signal's last
    // 65536 samples.
    if (s == QN_STATUS_SUCCESS && m.fluctuation != nullptr) {
        s = qn_ecma_fluct_finish(m.fluctuation, m.bands);
        if (s == QN_STATUS_SUCCESS && qn_ecma_fluct_frames_done(*m.fluctuation) != qn_ecma_fluct_frames(n))
            s = QN_STATUS_NUMERICAL_FAILURE;  // cannot happen
    }
    // The tonal analysis pads the signal with zeros and runs on through
    // them.
    if (s == QN_STATUS_SUCCESS && m.tonal != nullptr) {
        qn_ecma_tonal_set_end(m.tonal, n);
        s = run(m, nullptr, qn_ecma_tonal_padded_end(n) - n);
        if (s == QN_STATUS_SUCCESS && qn_ecma_tonal_frames_done(*m.tonal) != qn_ecma_tonal_frames(n))
            s = QN_STATUS_NUMERICAL_FAILURE;  // cannot happen
    }
    return s;
}

uint64_t qn_ecma_model_samples(const qn_ecma_model &model) noexcept { return model.bands.end; }

// ---------------------------------------------------------------------------
// One-shot analyses

void qn_ecma_planar_put(qn_ecma_planar_output &o, const double *values) noexcept {
    if (o.next >= o.frames) return;  // cannot happen: the model gives the frames of the signal
    for (uint64_t a = 0; a < o.arrays; ++a)
        std::memcpy(o.out + a * 53 * o.frames + 53 * o.next, values + 53 * (o.first_array + a), 53 * sizeof(double));
    ++o.next;
}

namespace {

void put_planar(void *context, const double *values) noexcept {
    qn_ecma_planar_put(*static_cast<qn_ecma_planar_output *>(context), values);
}

struct model_deleter {
    void operator()(qn_ecma_model *m) const noexcept { qn_ecma_model_free(m); }
};

}  // namespace

qn_status qn_ecma_model_run_whole(const double *samples, uint64_t n, const qn_ecma_model_setup &setup) noexcept {
    const qn_status checked = qn_check_signal(samples, n, QN_SAMPLE_RATE);
    if (checked != QN_STATUS_SUCCESS) return checked;
    qn_ecma_model *made = nullptr;
    const qn_status status = qn_ecma_model_make(setup, &made);
    if (status != QN_STATUS_SUCCESS) return status;
    std::unique_ptr<qn_ecma_model, model_deleter> model(made);
    const qn_status added = qn_ecma_model_add(model.get(), samples, n);
    return added != QN_STATUS_SUCCESS ? added : qn_ecma_model_finish(model.get());
}

qn_status qn_ecma_tonal_run(const double *samples, uint64_t n, qn_sound_field field, double *out, uint64_t frames,
                            qn_simd path) noexcept {
    qn_ecma_planar_output o{out, frames, 0, qn_ecma_tonal_arrays, 0};
    const qn_ecma_frame_sink sink{put_planar, &o};
    return qn_ecma_model_run_whole(samples, n, {field, path, qn_ecma_rough_transforms::fast, &sink, nullptr, qn_ecma_fluct_transforms::fast, nullptr});
}

qn_status qn_ecma_rough_run(const double *samples, uint64_t n, qn_sound_field field, double *out, qn_simd path,
                            qn_ecma_rough_transforms transforms) noexcept {
    qn_ecma_planar_output o{out, qn_ecma_rough_frames(n), 0, 1, 0};
    const qn_ecma_frame_sink sink{put_planar, &o};
    return qn_ecma_model_run_whole(samples, n, {field, path, transforms, nullptr, &sink, qn_ecma_fluct_transforms::fast, nullptr});
}

qn_status qn_ecma_fluct_run(const double *samples, uint64_t n, qn_sound_field field, double *out, qn_simd path,
                            qn_ecma_fluct_transforms transforms) noexcept {
    qn_ecma_planar_output o{out, qn_ecma_fluct_frames(n), 0, 1, 0};
    const qn_ecma_frame_sink sink{put_planar, &o};
    return qn_ecma_model_run_whole(samples, n,
                                   {field, path, qn_ecma_rough_transforms::fast, nullptr, nullptr, transforms, &sink});
}
