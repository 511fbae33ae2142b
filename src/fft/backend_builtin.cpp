// The transforms of fft.h on the built-in engine. A plan handle is the
// engine's plan under the name fft.h gives it.
#include "fft/builtin.h"
#include "fft/fft.h"

namespace {
qn_fft_builtin_cplan *engine(qn_fft_cplan *plan) {
    return reinterpret_cast<qn_fft_builtin_cplan *>(plan);
}
const qn_fft_builtin_cplan *engine(const qn_fft_cplan *plan) {
    return reinterpret_cast<const qn_fft_builtin_cplan *>(plan);
}
qn_fft_builtin_rplan *engine(qn_fft_rplan *plan) {
    return reinterpret_cast<qn_fft_builtin_rplan *>(plan);
}
const qn_fft_builtin_rplan *engine(const qn_fft_rplan *plan) {
    return reinterpret_cast<const qn_fft_builtin_rplan *>(plan);
}
}  // namespace

qn_fft_cplan *qn_fft_cplan_make(std::size_t n) noexcept {
    return reinterpret_cast<qn_fft_cplan *>(qn_fft_builtin_cplan_make(n));
}
void qn_fft_cplan_free(qn_fft_cplan *plan) noexcept { qn_fft_builtin_cplan_free(engine(plan)); }
std::size_t qn_fft_cplan_length(const qn_fft_cplan *plan) noexcept {
    return qn_fft_builtin_cplan_length(engine(plan));
}
bool qn_fft_cforward(qn_fft_cplan *plan, double *data, double scale) noexcept {
    return qn_fft_builtin_cforward(engine(plan), data, scale);
}
bool qn_fft_cbackward(qn_fft_cplan *plan, double *data, double scale) noexcept {
    return qn_fft_builtin_cbackward(engine(plan), data, scale);
}
bool qn_fft_cforward_ends(qn_fft_cplan *plan, double *data, std::size_t keep, double scale) noexcept {
    return qn_fft_builtin_cforward_ends(engine(plan), data, keep, scale);
}

qn_fft_rplan *qn_fft_rplan_make(std::size_t n) noexcept {
    return reinterpret_cast<qn_fft_rplan *>(qn_fft_builtin_rplan_make(n));
}
void qn_fft_rplan_free(qn_fft_rplan *plan) noexcept { qn_fft_builtin_rplan_free(engine(plan)); }
std::size_t qn_fft_rplan_length(const qn_fft_rplan *plan) noexcept {
    return qn_fft_builtin_rplan_length(engine(plan));
}
bool qn_fft_rforward(qn_fft_rplan *plan, double *data, double scale) noexcept {
    return qn_fft_builtin_rforward(engine(plan), data, scale);
}
bool qn_fft_rforward_filled(qn_fft_rplan *plan, double *data, std::size_t filled, double scale) noexcept {
    return qn_fft_builtin_rforward_filled(engine(plan), data, filled, scale);
}
bool qn_fft_rbackward(qn_fft_rplan *plan, double *data, double scale) noexcept {
    return qn_fft_builtin_rbackward(engine(plan), data, scale);
}
bool qn_fft_rpower_backward(qn_fft_rplan *plan, double *data, std::size_t filled, double scale,
                            double *total) noexcept {
    return qn_fft_builtin_rpower_backward(engine(plan), data, filled, scale, total);
}
