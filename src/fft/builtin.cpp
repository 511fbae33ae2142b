// Planning and execution of the built-in transforms.
#include "fft/builtin.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "fft/kernels.h"
#include "fft/packed_power.h"
#include "fft/roots.h"
#include "fft/aligned.h"
#include "base/alloc.h"
#include "base/checks.h"

namespace {

// No plan of this length or more could ever be allocated; refusing them up
// front keeps every size below far from overflow.
constexpr uint64_t k_max_length = uint64_t{1} << 56;

// Offsets of the parts of one heap block, in doubles, summed with overflow
// detection. Each part is rounded up to four doubles so that, with the block
// itself aligned, every table starts on a 32-byte boundary.
struct block_layout {
    uint64_t total = 0;
    bool ok = true;

    uint64_t add(uint64_t count, uint64_t per = 1) {
        uint64_t size = 0;
        if (!qn_mul_size(count, per, &size) || size > qn_max_count) {
            ok = false;
            return 0;
        }
        size = (size + 3) & ~uint64_t{3};
        const uint64_t at = total;
        if (__builtin_add_overflow(total, size, &total) || total > qn_max_count) ok = false;
        return at;
    }
};

// A heap block of doubles whose usable part starts 32-byte aligned.
struct aligned_block {
    qn_heap_array<double> owner;
    double *base = nullptr;

    bool make(uint64_t count) { return qn_fft_make_aligned(owner, base, count); }
};

// A buffer that a pass reads while it writes another one must not sit at
// the same offset within a page as that other one: every load would then
// look like it might depend on the store just made to the same low address
// bits, and the processor waits (on large, page-aligned blocks a Stockham
// pass runs at half speed). Such buffers get a page of room, and are placed
// half a page away from their partner.
constexpr uint64_t k_room = (4096 + 32) / sizeof(double);

double *place_apart(double *room, const double *partner) {
    const uintptr_t start = (reinterpret_cast<uintptr_t>(room) + 31) & ~uintptr_t{31};
    const uintptr_t target = ((reinterpret_cast<uintptr_t>(partner) + 2048) % 4096) & ~uintptr_t{31};
    const uintptr_t offset = (target - start % 4096) % 4096;
    return reinterpret_cast<double *>(start + offset);
}

// A table of roots that lives for the making of one plan.
struct temp_roots {
    qn_heap_array<double> table;
    qn_fft_roots roots{};

    bool make(uint64_t n) {
        table = qn_alloc_array<double>(2 * qn_fft_roots_entries(n));
        if (!table) return false;
        qn_fft_roots_fill(&roots, n, table.get());
        return true;
    }
};

// e^(-2 pi i t / n) from roots of n, as stored in the tables (forward).
void put_root(const qn_fft_roots &roots, uint64_t t, double *out) {
    double c = 0, s = 0;
    qn_fft_root(roots, t, &c, &s);
    out[0] = c;
    out[1] = -s;
}

// The radices of n in the order of the passes, or false when n has a prime
// factor above the generic limit. Powers of two take as many radix-8 passes
// as they can, two radix-4 passes rather than one radix-8 and one radix-2;
// an even radix comes first, so that for even lengths every later pass has
// an even number of interleaved transforms and runs two values at a time.
bool factorize(uint64_t n, std::size_t *radices, std::size_t *count) {
    std::size_t c = 0;
    unsigned twos = 0;
    while (n % 2 == 0) {
        n /= 2;
        ++twos;
    }
    unsigned eights = twos / 3;
    unsigned fours = 0, two = 0;
    switch (twos % 3) {
    case 1:
        if (eights > 0) {
            --eights;
            fours = 2;
        } else {
            two = 1;
        }
        break;
    case 2: fours = 1; break;
    default: break;
    }
    for (unsigned i = 0; i < eights; ++i) radices[c++] = 8;
    for (unsigned i = 0; i < fours; ++i) radices[c++] = 4;
    if (two) radices[c++] = 2;
    for (std::size_t p = 3; p <= qn_fft_max_generic_radix; p += 2) {
        while (n % p == 0) {
            n /= p;
            radices[c++] = p;
        }
    }
    *count = c;
    return n == 1;
}

// The smallest even length with no prime factor but 2, 3 and 5 that is at
// least `target` (target < 2^58).
uint64_t convolution_length(uint64_t target) {
    uint64_t best = UINT64_MAX;
    for (uint64_t p5 = 1; p5 < 2 * target; p5 *= 5) {
        for (uint64_t p35 = p5; p35 < 2 * target; p35 *= 3) {
            uint64_t x = 2 * p35;
            while (x < target) x *= 2;
            if (x < best) best = x;
        }
    }
    return best;
}

// Sizes of the twiddle and root tables of the passes for `radices`.
void layout_passes(block_layout &layout, uint64_t n, const std::size_t *radices,
                   std::size_t count, uint64_t *twiddle_at, uint64_t *roots_at) {
    uint64_t n_cur = n;
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t r = radices[i];
        const uint64_t m = n_cur / r;
        twiddle_at[i] = m > 1 ? layout.add((m + 1) / 2 * (r - 1), 4) : 0;
        roots_at[i] = r > 5 && r != 8 ? layout.add(r, 2) : 0;
        n_cur = m;
    }
}

// Fills the passes of a transform of length n; `roots` are the roots of
// n * mul.
void fill_passes(qn_fft_stockham *st, uint64_t n, const std::size_t *radices, std::size_t count,
                 double *base, const uint64_t *twiddle_at, const uint64_t *roots_at,
                 const qn_fft_roots &roots, uint64_t mul) {
    st->n = n;
    st->pass_count = count;
    uint64_t n_cur = n, s = 1;
    for (std::size_t i = 0; i < count; ++i) {
        const uint64_t r = radices[i];
        const uint64_t m = n_cur / r;
        qn_fft_pass &ps = st->passes[i];
        ps.radix = r;
        ps.m = m;
        ps.s = s;
        ps.twiddles = nullptr;
        ps.roots = nullptr;
        if (m > 1) {
            double *w = base + twiddle_at[i];
            for (uint64_t pp = 0; pp < (m + 1) / 2; ++pp) {
                for (uint64_t k = 1; k < r; ++k) {
                    for (uint64_t lane = 0; lane < 2; ++lane) {
                        const uint64_t p = 2 * pp + lane;
                        // w_{n_cur}^(p k) = w_n^(s p k), and s p k < n.
                        put_root(roots, p < m ? s * p * k * mul : 0, w);
                        w += 2;
                    }
                }
            }
            ps.twiddles = base + twiddle_at[i];
        }
        if (r > 5 && r != 8) {
            // cos and sin of 2 pi k / r: the roots of n at k n / r.
            double *e = base + roots_at[i];
            for (uint64_t k = 0; k < r; ++k) {
                double c = 0, sn = 0;
                qn_fft_root(roots, k * (n / r) * mul, &c, &sn);
                e[2 * k] = c;
                e[2 * k + 1] = sn;
            }
            ps.roots = e;
        }
        s *= r;
        n_cur = m;
    }
}

enum class core_kind { trivial, stockham, bluestein };

// A complex transform of one length, without the second buffer a Stockham
// transform needs (the caller lends one).
struct core {
    core_kind kind = core_kind::trivial;
    std::size_t n = 0;
    const qn_fft_kernels *kernels = nullptr;
    qn_fft_stockham st{};  // of n, or of the convolution length
    aligned_block block;
    // Bluestein's algorithm:
    std::size_t conv = 0;      // convolution length
    double *chirp = nullptr;   // e^(-i pi k^2 / n), k < n
    double *kernel = nullptr;  // transform of the conjugate chirp, divided by conv
    double *buf_a = nullptr;   // conv complex each, half a page apart
    double *buf_b = nullptr;
};

// Makes the transform of length n. `shared`, when given, are the roots of
// 2 n (a real plan has them anyway); otherwise the core makes its own.
bool core_make(core *c, uint64_t n, const qn_fft_kernels *kernels, const qn_fft_roots *shared) {
    c->n = n;
    c->kernels = kernels;
    if (n == 1) {
        c->kind = core_kind::trivial;
        return true;
    }
    std::size_t radices[qn_fft_max_passes];
    std::size_t count = 0;
    uint64_t twiddle_at[qn_fft_max_passes];
    uint64_t roots_at[qn_fft_max_passes];
    block_layout layout;
    if (factorize(n, radices, &count)) {
        c->kind = core_kind::stockham;
        layout_passes(layout, n, radices, count, twiddle_at, roots_at);
        if (!layout.ok || !c->block.make(layout.total)) return false;
        temp_roots own;
        const qn_fft_roots *roots = shared;
        uint64_t mul = 2;
        if (roots == nullptr) {
            if (!own.make(n)) return false;
            roots = &own.roots;
            mul = 1;
        }
        fill_passes(&c->st, n, radices, count, c->block.base, twiddle_at, roots_at, *roots, mul);
        return true;
    }

    c->kind = core_kind::bluestein;
    const uint64_t conv = convolution_length(2 * n - 1);
    c->conv = conv;
    factorize(conv, radices, &count);
    layout_passes(layout, conv, radices, count, twiddle_at, roots_at);
    const uint64_t chirp_at = layout.add(n, 2);
    const uint64_t kernel_at = layout.add(conv, 2);
    const uint64_t a_at = layout.add(conv, 2);
    const uint64_t b_at = layout.add(2 * conv + k_room);
    if (!layout.ok || !c->block.make(layout.total)) return false;
    temp_roots conv_roots;
    if (!conv_roots.make(conv)) return false;
    temp_roots own;
    const qn_fft_roots *roots = shared;
    if (roots == nullptr) {
        if (!own.make(2 * n)) return false;
        roots = &own.roots;
    }
    double *base = c->block.base;
    fill_passes(&c->st, conv, radices, count, base, twiddle_at, roots_at, conv_roots.roots, 1);
    c->chirp = base + chirp_at;
    c->kernel = base + kernel_at;
    c->buf_a = base + a_at;
    c->buf_b = place_apart(base + b_at, c->buf_a);

    // chirp[k] = e^(-2 pi i (k^2 mod 2n) / (2n)); the square is carried
    // along exactly in integers.
    uint64_t square = 0;
    for (uint64_t k = 0; k < n; ++k) {
        put_root(*roots, square, c->chirp + 2 * k);
        square += 2 * k + 1;
        if (square >= 2 * n) square -= 2 * n;
    }
    // The convolution kernel conj(chirp[|d|]) at d mod conv, |d| < n.
    double *b = c->kernel;
    std::memset(b, 0, sizeof(double) * 2 * conv);
    for (uint64_t k = 0; k < n; ++k) {
        const double re = c->chirp[2 * k], im = -c->chirp[2 * k + 1];
        b[2 * k] = re;
        b[2 * k + 1] = im;
        if (k > 0) {
            b[2 * (conv - k)] = re;
            b[2 * (conv - k) + 1] = im;
        }
    }
    kernels->run(&c->st, b, b, c->buf_a, 1.0 / static_cast<double>(conv), true);
    return true;
}

void bluestein_run(const core &c, const double *in, double *out, double scale, bool forward) {
    const std::size_t n = c.n, conv = c.conv;
    const double *w = c.chirp;
    double *a = c.buf_a;
    // The backward transform is the conjugate of the forward transform of
    // the conjugate.
    const double sign = forward ? 1.0 : -1.0;
    for (std::size_t k = 0; k < n; ++k) {
        const double xr = in[2 * k], xi = sign * in[2 * k + 1];
        const double wr = w[2 * k], wi = w[2 * k + 1];
        a[2 * k] = xr * wr - xi * wi;
        a[2 * k + 1] = xr * wi + xi * wr;
    }
    std::memset(a + 2 * n, 0, sizeof(double) * 2 * (conv - n));
    c.kernels->run(&c.st, a, a, c.buf_b, 1.0, true);
    const double *b = c.kernel;
    for (std::size_t k = 0; k < conv; ++k) {
        const double xr = a[2 * k], xi = a[2 * k + 1];
        const double br = b[2 * k], bi = b[2 * k + 1];
        a[2 * k] = xr * br - xi * bi;
        a[2 * k + 1] = xr * bi + xi * br;
    }
    c.kernels->run(&c.st, a, a, c.buf_b, 1.0, false);
    for (std::size_t k = 0; k < n; ++k) {
        const double xr = a[2 * k], xi = a[2 * k + 1];
        const double wr = w[2 * k], wi = w[2 * k + 1];
        out[2 * k] = (xr * wr - xi * wi) * scale;
        out[2 * k + 1] = sign * (xr * wi + xi * wr) * scale;
    }
}

// The transform of `in` into `out`; a Stockham core uses `partner` (n
// complex, may be `in`) as its second buffer. `in` is destroyed.
void core_run(const core &c, const double *in, double *out, double *partner, double scale,
              bool forward) {
    switch (c.kind) {
    case core_kind::trivial:
        out[0] = in[0] * scale;
        out[1] = in[1] * scale;
        break;
    case core_kind::stockham: c.kernels->run(&c.st, in, out, partner, scale, forward); break;
    case core_kind::bluestein: bluestein_run(c, in, out, scale, forward); break;
    }
}

// The kernels of a vector path; none for a path this processor lacks.
const qn_fft_kernels *pick_kernels(qn_simd path) {
    if (!qn_simd_available(path)) return nullptr;
    return &qn_fft_kernels_for(path);
}


}  // namespace

struct qn_fft_builtin_cplan {
    core c;
    aligned_block work;  // room for the second buffer of a Stockham core, placed per call
};

struct qn_fft_builtin_rplan {
    std::size_t n = 0;
    core c;  // of n / 2 for even n, of n for odd n
    aligned_block block;
    double *twiddles = nullptr;  // even n: e^(-2 pi i k / n), k <= n / 4
    double *scratch = nullptr;   // even n: room for n doubles, placed per call; odd n: 2 n
    double *work = nullptr;      // odd n: 2 n, half a page from scratch
};

qn_fft_builtin_cplan *qn_fft_builtin_cplan_make(std::size_t n, qn_simd path) noexcept {
    const qn_fft_kernels *kernels = pick_kernels(path);
    if (n == 0 || n >= k_max_length || kernels == nullptr) return nullptr;
    qn_object_ptr<qn_fft_builtin_cplan> plan = qn_make_object<qn_fft_builtin_cplan>();
    if (plan == nullptr || !core_make(&plan->c, n, kernels, nullptr)) return nullptr;
    if (plan->c.kind == core_kind::stockham && !plan->work.make(2 * uint64_t{n} + k_room)) return nullptr;
    return plan.release();
}

void qn_fft_builtin_cplan_free(qn_fft_builtin_cplan *plan) noexcept { qn_free_object(plan); }

std::size_t qn_fft_builtin_cplan_length(const qn_fft_builtin_cplan *plan) noexcept {
    return plan == nullptr ? 0 : plan->c.n;
}

bool qn_fft_builtin_cforward(qn_fft_builtin_cplan *plan, double *data, double scale) noexcept {
    if (plan == nullptr || data == nullptr) return false;
    core_run(plan->c, data, data, place_apart(plan->work.base, data), scale, true);
    return true;
}

bool qn_fft_builtin_cbackward(qn_fft_builtin_cplan *plan, double *data, double scale) noexcept {
    if (plan == nullptr || data == nullptr) return false;
    core_run(plan->c, data, data, place_apart(plan->work.base, data), scale, false);
    return true;
}

// The longest sub-transform a pruned forward transform evaluates directly.
constexpr std::size_t k_most_direct = 64;

// In a decimation-in-frequency Stockham transform the passes done so far,
// of radices whose product is s, leave for each q < s the sub-transform of
// length m = n / s over x[q + s p], p < m, whose output t is bin q + s t.
// Once s >= keep, bin k < keep is output 0 of its sub-transform (the sum of
// its values) and bin k > n - keep output m - 1 (the values turned by
// e^(+2 pi i p / m)): those bins are evaluated directly and the remaining
// passes skipped.
bool qn_fft_builtin_cforward_ends(qn_fft_builtin_cplan *plan, double *data, std::size_t keep,
                                  double scale) noexcept {
    if (plan == nullptr || data == nullptr) return false;
    const core &c = plan->c;
    if (c.kind != core_kind::stockham || keep == 0 || 2 * keep >= c.n)
        return qn_fft_builtin_cforward(plan, data, scale);
    // s >= 2 keep keeps the low and the high sub-transforms apart, so that
    // each bin is written over an input of its own sub-transform only.
    std::size_t done = 0, s = 1;
    while (done < c.st.pass_count && s < 2 * keep) s *= c.st.passes[done++].radix;
    const std::size_t n = c.n, m = n / s;
    // Two passes left at least, and few enough values per bin that the
    // direct sums cost less than the passes they replace.
    if (done + 2 > c.st.pass_count || m > k_most_direct) return qn_fft_builtin_cforward(plan, data, scale);
    qn_fft_stockham head = c.st;
    head.pass_count = done;
    // The kernels may run a last pass in place, which only a pass without
    // twiddles allows: the buffers are chosen so that they never need to,
    // and the passes end in `src`.
    double *other = place_apart(plan->work.base, data);
    const double *src = data;
    if ((done - 1) % 2 == 0) {
        c.kernels->run(&head, data, other, data, 1.0, true);
        src = other;
    } else {
        c.kernels->run(&head, data, data, other, 1.0, true);
    }
    for (std::size_t q = 0; q < keep; ++q) {
        double re = 0, im = 0;
        for (std::size_t p = 0; p < m; ++p) {
            re += src[2 * (q + s * p)];
            im += src[2 * (q + s * p) + 1];
        }
        data[2 * q] = re * scale;
        data[2 * q + 1] = im * scale;
    }
    double turn[2 * k_most_direct];  // e^(+2 pi i p / m)
    for (std::size_t p = 0; p < m; ++p) {
        const double angle = 2 * M_PI * static_cast<double>(p) / static_cast<double>(m);
        turn[2 * p] = std::cos(angle);
        turn[2 * p + 1] = std::sin(angle);
    }
    for (std::size_t q = s - keep + 1; q < s; ++q) {
        double re = 0, im = 0;
        for (std::size_t p = 0; p < m; ++p) {
            const double xr = src[2 * (q + s * p)], xi = src[2 * (q + s * p) + 1];
            re += xr * turn[2 * p] - xi * turn[2 * p + 1];
            im += xr * turn[2 * p + 1] + xi * turn[2 * p];
        }
        data[2 * (q + s * (m - 1))] = re * scale;
        data[2 * (q + s * (m - 1)) + 1] = im * scale;
    }
    return true;
}

qn_fft_builtin_rplan *qn_fft_builtin_rplan_make(std::size_t n, qn_simd path) noexcept {
    const qn_fft_kernels *kernels = pick_kernels(path);
    if (n == 0 || n >= k_max_length || kernels == nullptr) return nullptr;
    qn_object_ptr<qn_fft_builtin_rplan> plan = qn_make_object<qn_fft_builtin_rplan>();
    if (plan == nullptr) return nullptr;
    plan->n = n;
    if (n % 2 == 0) {
        const uint64_t h = n / 2;
        block_layout layout;
        const uint64_t twiddle_at = layout.add(h / 2 + 1, 2);
        const uint64_t scratch_at = layout.add(n + k_room);
        temp_roots roots;
        if (!layout.ok || !plan->block.make(layout.total) || !roots.make(n) ||
            !core_make(&plan->c, h, kernels, &roots.roots))
            return nullptr;
        plan->twiddles = plan->block.base + twiddle_at;
        plan->scratch = plan->block.base + scratch_at;
        for (uint64_t k = 0; k <= h / 2; ++k) put_root(roots.roots, k, plan->twiddles + 2 * k);
    } else {
        block_layout layout;
        const uint64_t scratch_at = layout.add(n, 2);
        const uint64_t work_at = layout.add(2 * n + k_room);
        if (!layout.ok || !plan->block.make(layout.total) || !core_make(&plan->c, n, kernels, nullptr))
            return nullptr;
        plan->scratch = plan->block.base + scratch_at;
        plan->work = place_apart(plan->block.base + work_at, plan->scratch);
    }
    return plan.release();
}

void qn_fft_builtin_rplan_free(qn_fft_builtin_rplan *plan) noexcept { qn_free_object(plan); }

std::size_t qn_fft_builtin_rplan_length(const qn_fft_builtin_rplan *plan) noexcept {
    return plan == nullptr ? 0 : plan->n;
}

bool qn_fft_builtin_rforward(qn_fft_builtin_rplan *plan, double *data, double scale) noexcept {
    if (plan == nullptr || data == nullptr) return false;
    const std::size_t n = plan->n;
    if (n % 2 == 0) {
        // The samples, two at a time, are n / 2 complex values already.
        double *z = place_apart(plan->scratch, data);
        core_run(plan->c, data, z, data, 1.0, true);
        plan->c.kernels->real_post(z, data, plan->twiddles, n / 2, scale);
        return true;
    }
    double *z = plan->scratch;
    for (std::size_t j = 0; j < n; ++j) {
        z[2 * j] = data[j];
        z[2 * j + 1] = 0.0;
    }
    core_run(plan->c, z, z, plan->work, scale, true);
    data[0] = z[0];
    for (std::size_t i = 1; i < n; ++i) data[i] = z[i + 1];
    return true;
}

// The samples two at a time are the complex values of the core, of which
// the first `live` may be other than zero. A first pass of radix r over m
// values (r butterflies' inputs j m + p, p < m) whose inputs from L m on
// are zeros for L = 1, 2 or 4 below r skips them; the zeros up to L m are
// written out, and lengths without such a pass take them all.
namespace {

// The complex values the first pass of a real plan of even length reads
// when the samples from `filled` on are zeros (0: all of them), with the
// zeros below that written out.
std::size_t live_values(const qn_fft_builtin_rplan *plan, double *data, std::size_t filled) {
    const std::size_t n = plan->n;
    if (filled > n) filled = n;
    const core &c = plan->c;
    std::size_t reach = n;  // doubles read by the transform
    std::size_t live = 0;
    if (n % 2 == 0 && c.kind == core_kind::stockham && c.st.pass_count >= 2) {
        const qn_fft_pass &first = c.st.passes[0];
        const std::size_t r = first.radix, m = first.m, values = (filled + 1) / 2;
        if ((r == 8 || r == 4 || r == 2) && m > 1) {
            std::size_t l = 1;
            while (l * m < values) l *= 2;
            if (l < r) {
                live = l * m;
                reach = 2 * live;
            }
        }
    }
    if (filled < reach) std::memset(data + filled, 0, (reach - filled) * sizeof(double));
    return live;
}

}  // namespace

bool qn_fft_builtin_rforward_filled(qn_fft_builtin_rplan *plan, double *data, std::size_t filled,
                                    double scale) noexcept {
    if (plan == nullptr || data == nullptr) return false;
    const std::size_t live = live_values(plan, data, filled);
    if (live == 0) return qn_fft_builtin_rforward(plan, data, scale);
    const core &c = plan->c;
    double *z = place_apart(plan->scratch, data);
    c.kernels->run_pruned(&c.st, data, z, data, 1.0, live);
    c.kernels->real_post(z, data, plan->twiddles, plan->n / 2, scale);
    return true;
}

bool qn_fft_builtin_rpower_backward(qn_fft_builtin_rplan *plan, double *data, std::size_t filled, double scale,
                                    double *total) noexcept {
    if (plan == nullptr || data == nullptr || total == nullptr) return false;
    const std::size_t n = plan->n;
    if (n % 2 != 0) {
        // Odd lengths take the three steps one after another.
        if (!qn_fft_builtin_rforward_filled(plan, data, filled, 1.0)) return false;
        *total = qn_fft_packed_power(data, n);
        return qn_fft_builtin_rbackward(plan, data, scale);
    }
    const std::size_t live = live_values(plan, data, filled);
    const core &c = plan->c;
    double *z = place_apart(plan->scratch, data);
    if (live == 0) core_run(c, data, z, data, 1.0, true);
    else c.kernels->run_pruned(&c.st, data, z, data, 1.0, live);
    c.kernels->real_power(z, z, plan->twiddles, n / 2, scale, total);
    core_run(c, z, data, z, 1.0, false);
    return true;
}

bool qn_fft_builtin_rbackward(qn_fft_builtin_rplan *plan, double *data, double scale) noexcept {
    if (plan == nullptr || data == nullptr) return false;
    const std::size_t n = plan->n;
    if (n % 2 == 0) {
        double *z = place_apart(plan->scratch, data);
        plan->c.kernels->real_pre(data, z, plan->twiddles, n / 2, scale);
        core_run(plan->c, z, data, z, 1.0, false);
        return true;
    }
    // The whole Hermitian spectrum, then a complex transform.
    double *z = plan->scratch;
    z[0] = data[0];
    z[1] = 0.0;
    for (std::size_t k = 1; 2 * k < n; ++k) {
        const double re = data[2 * k - 1], im = data[2 * k];
        z[2 * k] = re;
        z[2 * k + 1] = im;
        z[2 * (n - k)] = re;
        z[2 * (n - k) + 1] = -im;
    }
    core_run(plan->c, z, z, plan->work, scale, false);
    for (std::size_t j = 0; j < n; ++j) data[j] = z[2 * j];
    return true;
}
