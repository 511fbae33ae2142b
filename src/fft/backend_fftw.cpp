// The transforms of fft.h on FFTW 3 (QUARNELO_WITH_FFTW; FFTW is GPL, so a
// library built this way is too).
//
// Plans are FFTW_ESTIMATE plans: made by heuristics, without timing trial
// transforms, so making one per call stays cheap and the result does not
// depend on machine load. FFTW does not scale; the scale is applied in the
// pass that copies or packs the result, or in a pass of its own.
//
// Threads: executing a plan is thread-safe in FFTW, making and destroying
// one is not (the planner has global state). Every plan is made and
// destroyed under the lock that fftw_make_planner_thread_safe() (from
// libfftw3_threads) wraps around FFTW's planner; it is installed once,
// before the first plan of this library. The lock lives in FFTW, so it also
// serialises the planner calls of a host that uses FFTW itself.
//
// FFTW plans are made for arrays; the caller's data are used directly when
// their alignment is the one the plan was made for, and through the plan's
// own buffer otherwise.
#include <fftw3.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

#include "fft/fft.h"
#include "fft/aligned.h"
#include "fft/packed_power.h"
#include "base/alloc.h"

namespace {

void make_planner_thread_safe() {
    // A function-local static is initialised exactly once, even when the
    // first plans are made on several threads at the same time.
    static const bool installed = (fftw_make_planner_thread_safe(), true);
    (void)installed;
}


fftw_complex *as_complex(double *p) { return reinterpret_cast<fftw_complex *>(p); }


void destroy(fftw_plan &p) {
    if (p != nullptr) fftw_destroy_plan(p);
    p = nullptr;
}

void scale_in_place(double *data, std::size_t count, double scale) {
    if (scale == 1.0) return;
    for (std::size_t i = 0; i < count; ++i) data[i] *= scale;
}

}  // namespace

struct qn_fft_cplan {
    std::size_t n = 0;
    fftw_plan forward = nullptr;
    fftw_plan backward = nullptr;
    qn_heap_array<double> owner;
    double *buffer = nullptr;  // 2 n doubles, the array the plans were made for

    ~qn_fft_cplan() {
        destroy(forward);
        destroy(backward);
    }
};

struct qn_fft_rplan {
    std::size_t n = 0;
    fftw_plan forward = nullptr;   // r2c: signal -> spectrum
    fftw_plan backward = nullptr;  // c2r: spectrum -> signal (destroys the spectrum)
    qn_heap_array<double> owner;
    double *signal = nullptr;    // n doubles
    double *spectrum = nullptr;  // n / 2 + 1 complex

    ~qn_fft_rplan() {
        destroy(forward);
        destroy(backward);
    }
};

qn_fft_cplan *qn_fft_cplan_make(std::size_t n) noexcept {
    if (n == 0 || n > INT_MAX) return nullptr;  // FFTW counts in int
    qn_object_ptr<qn_fft_cplan> plan = qn_make_object<qn_fft_cplan>();
    if (plan == nullptr) return nullptr;
    plan->n = n;
    if (!qn_fft_make_aligned(plan->owner, plan->buffer, 2 * uint64_t{n})) return nullptr;
    make_planner_thread_safe();
    const int len = static_cast<int>(n);
    fftw_complex *b = as_complex(plan->buffer);
    plan->forward = fftw_plan_dft_1d(len, b, b, FFTW_FORWARD, FFTW_ESTIMATE);
    plan->backward = fftw_plan_dft_1d(len, b, b, FFTW_BACKWARD, FFTW_ESTIMATE);
    if (plan->forward == nullptr || plan->backward == nullptr) return nullptr;
    return plan.release();
}

void qn_fft_cplan_free(qn_fft_cplan *plan) noexcept {
    if (plan != nullptr) make_planner_thread_safe();
    qn_free_object(plan);
}

std::size_t qn_fft_cplan_length(const qn_fft_cplan *plan) noexcept {
    return plan == nullptr ? 0 : plan->n;
}

namespace {

bool run_complex(qn_fft_cplan *plan, fftw_plan p, double *data, double scale) {
    if (plan == nullptr || data == nullptr) return false;
    const std::size_t count = 2 * plan->n;
    if (fftw_alignment_of(data) == fftw_alignment_of(plan->buffer)) {
        fftw_execute_dft(p, as_complex(data), as_complex(data));
        scale_in_place(data, count, scale);
        return true;
    }
    double *b = plan->buffer;
    std::memcpy(b, data, count * sizeof(double));
    fftw_execute_dft(p, as_complex(b), as_complex(b));
    for (std::size_t i = 0; i < count; ++i) data[i] = b[i] * scale;
    return true;
}

}  // namespace

bool qn_fft_cforward(qn_fft_cplan *plan, double *data, double scale) noexcept {
    return plan != nullptr && run_complex(plan, plan->forward, data, scale);
}

bool qn_fft_cbackward(qn_fft_cplan *plan, double *data, double scale) noexcept {
    return plan != nullptr && run_complex(plan, plan->backward, data, scale);
}

// FFTW's plans have no pruned form: the full transform.
bool qn_fft_cforward_ends(qn_fft_cplan *plan, double *data, std::size_t, double scale) noexcept {
    return qn_fft_cforward(plan, data, scale);
}

qn_fft_rplan *qn_fft_rplan_make(std::size_t n) noexcept {
    if (n == 0 || n > INT_MAX) return nullptr;
    qn_object_ptr<qn_fft_rplan> plan = qn_make_object<qn_fft_rplan>();
    if (plan == nullptr) return nullptr;
    plan->n = n;
    // The spectrum first, so that both parts start 32-byte aligned.
    const uint64_t spectrum_doubles = (2 * (uint64_t{n} / 2 + 1) + 3) & ~uint64_t{3};
    double *base = nullptr;
    if (!qn_fft_make_aligned(plan->owner, base, spectrum_doubles + n)) return nullptr;
    plan->spectrum = base;
    plan->signal = base + spectrum_doubles;
    make_planner_thread_safe();
    const int len = static_cast<int>(n);
    plan->forward = fftw_plan_dft_r2c_1d(len, plan->signal, as_complex(plan->spectrum), FFTW_ESTIMATE);
    plan->backward = fftw_plan_dft_c2r_1d(len, as_complex(plan->spectrum), plan->signal, FFTW_ESTIMATE);
    if (plan->forward == nullptr || plan->backward == nullptr) return nullptr;
    return plan.release();
}

void qn_fft_rplan_free(qn_fft_rplan *plan) noexcept {
    if (plan != nullptr) make_planner_thread_safe();
    qn_free_object(plan);
}

std::size_t qn_fft_rplan_length(const qn_fft_rplan *plan) noexcept {
    return plan == nullptr ? 0 : plan->n;
}

bool qn_fft_rforward(qn_fft_rplan *plan, double *data, double scale) noexcept {
    if (plan == nullptr || data == nullptr) return false;
    const std::size_t n = plan->n;
    const double *s = plan->spectrum;
    if (fftw_alignment_of(data) == fftw_alignment_of(plan->signal)) {
        fftw_execute_dft_r2c(plan->forward, data, as_complex(plan->spectrum));
    } else {
        std::memcpy(plan->signal, data, n * sizeof(double));
        fftw_execute_dft_r2c(plan->forward, plan->signal, as_complex(plan->spectrum));
    }
    // r0, r1, i1, r2, i2, ... and r(n/2) last for even n.
    data[0] = s[0] * scale;
    for (std::size_t i = 1; i < n; ++i) data[i] = s[i + 1] * scale;
    return true;
}

// The zeros written out, and the full transform.
bool qn_fft_rforward_filled(qn_fft_rplan *plan, double *data, std::size_t filled, double scale) noexcept {
    if (plan == nullptr || data == nullptr) return false;
    if (filled < plan->n) std::memset(data + filled, 0, (plan->n - filled) * sizeof(double));
    return qn_fft_rforward(plan, data, scale);
}

bool qn_fft_rbackward(qn_fft_rplan *plan, double *data, double scale) noexcept {
    if (plan == nullptr || data == nullptr) return false;
    const std::size_t n = plan->n;
    double *s = plan->spectrum;
    s[0] = data[0];
    s[1] = 0.0;
    for (std::size_t i = 1; i < n; ++i) s[i + 1] = data[i];
    if (n % 2 == 0) s[n + 1] = 0.0;  // the imaginary part of X(n/2)
    if (fftw_alignment_of(data) == fftw_alignment_of(plan->signal)) {
        fftw_execute_dft_c2r(plan->backward, as_complex(s), data);
        scale_in_place(data, n, scale);
    } else {
        fftw_execute_dft_c2r(plan->backward, as_complex(s), plan->signal);
        for (std::size_t i = 0; i < n; ++i) data[i] = plan->signal[i] * scale;
    }
    return true;
}

bool qn_fft_rpower_backward(qn_fft_rplan *plan, double *data, std::size_t filled, double scale,
                            double *total) noexcept {
    if (plan == nullptr || data == nullptr || total == nullptr) return false;
    if (!qn_fft_rforward_filled(plan, data, filled, 1.0)) return false;
    *total = qn_fft_packed_power(data, plan->n);
    return qn_fft_rbackward(plan, data, scale);
}
