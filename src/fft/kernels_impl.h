// The butterflies and passes of the built-in transform, written once over a
// small vector type and compiled once per instruction set. A file includes
// this after defining, in an unnamed namespace:
//
//   cv1  one complex value (re, im) per register
//   cv2  two complex values per register, when QN_FFT_HAVE_CV2 is 1
//
// each with load, store, splat (one double to every lane), splat_load,
// + - * (lane by lane), swap_ri (re <-> im of every value), flip_re and
// flip_im (negate one part), neg, addsub (a.re - b.re, a.im + b.im), and for
// cv2 also dup_re, dup_im, reverse (swap the two values), store_pair
// (transposed store of two registers), store_lo, store_hi;
//
//   cv4  four complex values per register, when QN_FFT_HAVE_CV4 is 1, with
//        the operations of cv2 but store_pair, store_lo and store_hi, and
//        load_halves (two values from each of two places), store_quad
//        (transposed store of four registers), store_spread (the four
//        values of one register to four places).
//
// Every lane of every kernel runs the same operations in the same order, so
// cv1 and cv2, SSE2 and AVX2 give the same bits. Everything has internal
// linkage: the copies built for different instruction sets never meet.
//
// Conventions: complex index c is doubles 2c and 2c + 1. Twiddles are stored
// for the forward direction, e^(-i theta) = (cos, -sin); the backward passes
// negate the imaginary part as they load them.

#if !defined(QN_FFT_HAVE_CV2) || !defined(QN_FFT_HAVE_CV4)
#error "define QN_FFT_HAVE_CV2 and QN_FFT_HAVE_CV4 before including kernels_impl.h"
#endif

namespace {

constexpr double k_sqrt_half = 0.70710678118654752440084436210484903928;
constexpr double k_sin_60 = 0.86602540378443864676372317075293618347;
constexpr double k_cos_72 = 0.30901699437494742410229341718281905886;   // cos(2 pi / 5)
constexpr double k_cos_144 = -0.80901699437494742410229341718281905886; // cos(4 pi / 5)
constexpr double k_sin_72 = 0.95105651629515357211643933337938214340;   // sin(2 pi / 5)
constexpr double k_sin_144 = 0.58778525229247312916870595463907276860;  // sin(4 pi / 5)

template <class V>
inline V mul_neg_i(V a) { return flip_im(swap_ri(a)); }  // (im, -re)
template <class V>
inline V mul_pos_i(V a) { return flip_re(swap_ri(a)); }  // (-im, re)
template <class V>
inline V conj(V a) { return flip_im(a); }

// Multiplication by e^(-i pi / 2) forward, e^(+i pi / 2) backward.
template <bool Fwd, class V>
inline V rot(V a) {
    if constexpr (Fwd) return mul_neg_i(a);
    else return mul_pos_i(a);
}

// x * (wr + i wi), with wr and wi splatted over both parts of each value.
template <class V>
inline V cmul(V x, V wr, V wi) { return addsub(x * wr, swap_ri(x) * wi); }

// The factor stored at w, conjugated for the backward direction.
template <bool Fwd, class V>
inline V twiddle_mul(V x, const double *w) {
    const V wr = V::splat_load(w);
    V wi = V::splat_load(w + 1);
    if constexpr (!Fwd) wi = neg(wi);
    return cmul(x, wr, wi);
}

// ---------------------------------------------------------------- butterflies

template <bool Fwd, class V>
inline void bfly2(V *a) {
    const V t = a[0];
    a[0] = t + a[1];
    a[1] = t - a[1];
}

template <bool Fwd, class V>
inline void bfly3(V *a) {
    const V t1 = a[1] + a[2];
    const V t2 = a[0] - V::splat(0.5) * t1;
    const V t3 = rot<Fwd>(V::splat(k_sin_60) * (a[1] - a[2]));
    a[0] = a[0] + t1;
    a[1] = t2 + t3;
    a[2] = t2 - t3;
}

template <bool Fwd, class V>
inline void bfly4(V *a) {
    const V t0 = a[0] + a[2];
    const V t1 = a[0] - a[2];
    const V t2 = a[1] + a[3];
    const V t3 = rot<Fwd>(a[1] - a[3]);
    a[0] = t0 + t2;
    a[1] = t1 + t3;
    a[2] = t0 - t2;
    a[3] = t1 - t3;
}

template <bool Fwd, class V>
inline void bfly5(V *a) {
    const V t1 = a[1] + a[4];
    const V t2 = a[2] + a[3];
    const V t3 = a[1] - a[4];
    const V t4 = a[2] - a[3];
    const V c1 = V::splat(k_cos_72), c2 = V::splat(k_cos_144);
    const V s1 = V::splat(k_sin_72), s2 = V::splat(k_sin_144);
    const V p1 = a[0] + c1 * t1 + c2 * t2;
    const V p2 = a[0] + c2 * t1 + c1 * t2;
    const V q1 = rot<Fwd>(s1 * t3 + s2 * t4);
    const V q2 = rot<Fwd>(s2 * t3 - s1 * t4);
    a[0] = a[0] + (t1 + t2);
    a[1] = p1 + q1;
    a[4] = p1 - q1;
    a[2] = p2 + q2;
    a[3] = p2 - q2;
}

template <bool Fwd, class V>
inline void bfly8(V *a) {
    V e[4] = {a[0], a[2], a[4], a[6]};
    V o[4] = {a[1], a[3], a[5], a[7]};
    bfly4<Fwd>(e);
    bfly4<Fwd>(o);
    const V h = V::splat(k_sqrt_half);
    o[1] = (o[1] + rot<Fwd>(o[1])) * h;  // times e^(-/+ i pi / 4)
    o[2] = rot<Fwd>(o[2]);
    o[3] = (rot<Fwd>(o[3]) - o[3]) * h;  // times e^(-/+ 3 i pi / 4)
    for (int k = 0; k < 4; ++k) {
        a[k] = e[k] + o[k];
        a[k + 4] = e[k] - o[k];
    }
}

// Any odd radix r, from the cos/sin table of its roots: the values pair up
// as j and r - j, so each output costs (r - 1) / 2 real-by-complex products
// for its even and its odd half.
template <bool Fwd, class V>
inline void bfly_generic(V *a, std::size_t r, const double *roots) {
    // The planner gives odd radices from 7 up; saying so keeps the compiler
    // from fearing that a[0] was never loaded.
    if (r < 7 || r > qn_fft_max_generic_radix) __builtin_unreachable();
    const std::size_t h = (r - 1) / 2;
    V sum[qn_fft_max_generic_radix / 2];
    V dif[qn_fft_max_generic_radix / 2];
    V y0 = a[0];
    for (std::size_t j = 1; j <= h; ++j) {
        sum[j - 1] = a[j] + a[r - j];
        dif[j - 1] = a[j] - a[r - j];
        y0 = y0 + sum[j - 1];
    }
    for (std::size_t k = 1; k <= h; ++k) {
        V p = a[0];
        V q = V::splat(0.0);
        std::size_t jk = 0;
        for (std::size_t j = 1; j <= h; ++j) {
            jk += k;
            if (jk >= r) jk -= r;
            p = p + V::splat(roots[2 * jk]) * sum[j - 1];
            q = q + V::splat(roots[2 * jk + 1]) * dif[j - 1];
        }
        q = rot<Fwd>(q);
        a[k] = p + q;
        a[r - k] = p - q;
    }
    a[0] = y0;
}

// R is the radix, or 0 for a generic odd radix given at run time.
template <std::size_t R, bool Fwd, class V>
inline void butterfly(V *a, const qn_fft_pass &ps) {
    if constexpr (R == 2) bfly2<Fwd>(a);
    else if constexpr (R == 3) bfly3<Fwd>(a);
    else if constexpr (R == 4) bfly4<Fwd>(a);
    else if constexpr (R == 5) bfly5<Fwd>(a);
    else if constexpr (R == 8) bfly8<Fwd>(a);
    else bfly_generic<Fwd>(a, ps.radix, ps.roots);
}

template <std::size_t R>
constexpr std::size_t slots = R == 0 ? qn_fft_max_generic_radix : R;

// --------------------------------------------------------------------- passes

// The last pass: m = 1, no twiddles, s interleaved transforms of length r.
template <std::size_t R, bool Fwd, bool Scaled, class V>
void pass_last(const qn_fft_pass &ps, const double *x, double *y, double scale) {
    const std::size_t r = R == 0 ? ps.radix : R;
    const std::size_t s = ps.s;
    const V sc = V::splat(scale);
    V a[slots<R>];
    for (std::size_t q = 0; q < s; q += V::width) {
        for (std::size_t j = 0; j < r; ++j) a[j] = V::load(x + 2 * (q + j * s));
        butterfly<R, Fwd>(a, ps);
        for (std::size_t k = 0; k < r; ++k) {
            if constexpr (Scaled) a[k] = a[k] * sc;
            store(y + 2 * (q + k * s), a[k]);
        }
    }
}

// A pass with s > 1 and m > 1: the twiddles are the same for the s
// transforms, which run side by side (s a multiple of V::width).
template <std::size_t R, bool Fwd, class V>
void pass_mid(const qn_fft_pass &ps, const double *x, double *y) {
    const std::size_t r = R == 0 ? ps.radix : R;
    const std::size_t m = ps.m, s = ps.s;
    V a[slots<R>];
    V wr[slots<R>];
    V wi[slots<R>];
    for (std::size_t p = 0; p < m; ++p) {
        const double *w = ps.twiddles + (p / 2) * (r - 1) * 4 + (p % 2) * 2;
        for (std::size_t k = 1; k < r; ++k) {
            wr[k] = V::splat_load(w + (k - 1) * 4);
            wi[k] = V::splat_load(w + (k - 1) * 4 + 1);
            if constexpr (!Fwd) wi[k] = neg(wi[k]);
        }
        const double *xp = x + 2 * s * p;
        double *yp = y + 2 * s * r * p;
        for (std::size_t q = 0; q < s; q += V::width) {
            for (std::size_t j = 0; j < r; ++j) a[j] = V::load(xp + 2 * (q + j * s * m));
            butterfly<R, Fwd>(a, ps);
            store(yp + 2 * q, a[0]);
            for (std::size_t k = 1; k < r; ++k) store(yp + 2 * (q + k * s), cmul(a[k], wr[k], wi[k]));
        }
    }
}

// The first pass (s = 1, m > 1) for one butterfly p, one value per register.
// Inputs j >= Live of every butterfly are zeros that are not read (Live = r
// reads them all): the butterfly then runs on zeros the compiler knows, and
// it keeps every operation whose result could differ from its operand (an
// x + 0 turns -0 into +0), so the bits are those of the zeros read.
template <std::size_t R, bool Fwd, std::size_t Live = R>
inline void pass_first_one(const qn_fft_pass &ps, const double *x, double *y, std::size_t p) {
    const std::size_t r = R == 0 ? ps.radix : R;
    const std::size_t live = R == 0 ? r : Live;
    const std::size_t m = ps.m;
    cv1 a[slots<R>];
    for (std::size_t j = 0; j < r; ++j) a[j] = j < live ? cv1::load(x + 2 * (p + j * m)) : cv1::splat(0.0);
    butterfly<R, Fwd>(a, ps);
    const double *w = ps.twiddles + (p / 2) * (r - 1) * 4 + (p % 2) * 2;
    double *yp = y + 2 * r * p;
    store(yp, a[0]);
    for (std::size_t k = 1; k < r; ++k) store(yp + 2 * k, twiddle_mul<Fwd>(a[k], w + (k - 1) * 4));
}

// The first pass: every butterfly has its own twiddles. With two values per
// register the butterflies p and p + 1 share the registers, and their
// outputs, which lie r values apart, are untangled on the way out.
template <std::size_t R, bool Fwd, std::size_t Live = R>
void pass_first(const qn_fft_pass &ps, const double *x, double *y) {
    const std::size_t m = ps.m;
    std::size_t p = 0;
#if QN_FFT_HAVE_CV4
    {
        const std::size_t r = R == 0 ? ps.radix : R;
        const std::size_t live = R == 0 ? r : Live;
        cv4 a[slots<R>];
        for (; p + 4 <= m; p += 4) {
            for (std::size_t j = 0; j < r; ++j) a[j] = j < live ? cv4::load(x + 2 * (p + j * m)) : cv4::splat(0.0);
            butterfly<R, Fwd>(a, ps);
            const double *w0 = ps.twiddles + (p / 2) * (r - 1) * 4;
            const double *w1 = w0 + (r - 1) * 4;
            for (std::size_t k = 1; k < r; ++k) {
                const cv4 wv = load_halves(w0 + (k - 1) * 4, w1 + (k - 1) * 4);
                cv4 wi = dup_im(wv);
                if constexpr (!Fwd) wi = neg(wi);
                a[k] = cmul(a[k], dup_re(wv), wi);
            }
            double *y0 = y + 2 * r * p;
            std::size_t k = 0;
            for (; k + 4 <= r; k += 4) store_quad(y0 + 2 * k, 2 * r, a[k], a[k + 1], a[k + 2], a[k + 3]);
            for (; k < r; ++k) store_spread(y0 + 2 * k, 2 * r, a[k]);
        }
    }
#endif
#if QN_FFT_HAVE_CV2
    const std::size_t r = R == 0 ? ps.radix : R;
    const std::size_t live = R == 0 ? r : Live;
    cv2 a[slots<R>];
    for (; p + 2 <= m; p += 2) {
        for (std::size_t j = 0; j < r; ++j) a[j] = j < live ? cv2::load(x + 2 * (p + j * m)) : cv2::splat(0.0);
        butterfly<R, Fwd>(a, ps);
        const double *w = ps.twiddles + (p / 2) * (r - 1) * 4;
        for (std::size_t k = 1; k < r; ++k) {
            const cv2 wv = cv2::load(w + (k - 1) * 4);
            cv2 wi = dup_im(wv);
            if constexpr (!Fwd) wi = neg(wi);
            a[k] = cmul(a[k], dup_re(wv), wi);
        }
        double *y0 = y + 2 * r * p;
        double *y1 = y0 + 2 * r;
        std::size_t k = 0;
        for (; k + 2 <= r; k += 2) store_pair(y0 + 2 * k, y1 + 2 * k, a[k], a[k + 1]);
        if (k < r) {
            store_lo(y0 + 2 * k, a[k]);
            store_hi(y1 + 2 * k, a[k]);
        }
    }
#endif
    for (; p < m; ++p) pass_first_one<R, Fwd, Live>(ps, x, y, p);
}

template <std::size_t R, bool Fwd>
void run_pass_radix(const qn_fft_pass &ps, const double *x, double *y, double scale) {
    if (ps.m == 1) {
        const bool scaled = scale != 1.0;
#if QN_FFT_HAVE_CV4
        if (ps.s % 4 == 0) {
            if (scaled) pass_last<R, Fwd, true, cv4>(ps, x, y, scale);
            else pass_last<R, Fwd, false, cv4>(ps, x, y, scale);
            return;
        }
#endif
#if QN_FFT_HAVE_CV2
        if (ps.s % 2 == 0) {
            if (scaled) pass_last<R, Fwd, true, cv2>(ps, x, y, scale);
            else pass_last<R, Fwd, false, cv2>(ps, x, y, scale);
            return;
        }
#endif
        if (scaled) pass_last<R, Fwd, true, cv1>(ps, x, y, scale);
        else pass_last<R, Fwd, false, cv1>(ps, x, y, scale);
    } else if (ps.s == 1) {
        pass_first<R, Fwd>(ps, x, y);
    } else {
#if QN_FFT_HAVE_CV4
        if (ps.s % 4 == 0) {
            pass_mid<R, Fwd, cv4>(ps, x, y);
            return;
        }
#endif
#if QN_FFT_HAVE_CV2
        if (ps.s % 2 == 0) {
            pass_mid<R, Fwd, cv2>(ps, x, y);
            return;
        }
#endif
        pass_mid<R, Fwd, cv1>(ps, x, y);
    }
}

template <bool Fwd>
void run_pass(const qn_fft_pass &ps, const double *x, double *y, double scale) {
    switch (ps.radix) {
    case 2: run_pass_radix<2, Fwd>(ps, x, y, scale); break;
    case 3: run_pass_radix<3, Fwd>(ps, x, y, scale); break;
    case 4: run_pass_radix<4, Fwd>(ps, x, y, scale); break;
    case 5: run_pass_radix<5, Fwd>(ps, x, y, scale); break;
    case 8: run_pass_radix<8, Fwd>(ps, x, y, scale); break;
    default: run_pass_radix<0, Fwd>(ps, x, y, scale); break;
    }
}

// Passes alternate between `out` and `work` so that the last one writes
// `out`; the scale rides on the last pass. When that schedule would make the
// first pass write over its own input, the last pass runs in place instead
// (it has no twiddles: each butterfly reads and writes the same r values),
// and the others alternate one step shifted. No pass copies.
//
// With `live` > 0 the first pass is a forward pass with s = 1 and m > 1 of
// radix 8, 4 or 2 whose inputs j >= live / m of every butterfly are zeros
// (live a multiple of m, less than r m): they are taken as such, not read.
template <bool Fwd>
void run_passes(const qn_fft_stockham *plan, const double *in, double *out, double *work,
                double scale, std::size_t live = 0) {
    const std::size_t count = plan->pass_count;
    const bool clash = in == ((count - 1) % 2 == 0 ? out : work);
    const std::size_t alternating = clash ? count - 1 : count;
    const double *src = in;
    for (std::size_t i = 0; i < alternating; ++i) {
        double *dst = (alternating - 1 - i) % 2 == 0 ? out : work;
        if (i == 0 && live > 0) {
            const qn_fft_pass &ps = plan->passes[0];
            switch (ps.radix * 8 + live / ps.m) {
            case 8 * 8 + 1: pass_first<8, true, 1>(ps, src, dst); break;
            case 8 * 8 + 2: pass_first<8, true, 2>(ps, src, dst); break;
            case 8 * 8 + 4: pass_first<8, true, 4>(ps, src, dst); break;
            case 4 * 8 + 1: pass_first<4, true, 1>(ps, src, dst); break;
            case 4 * 8 + 2: pass_first<4, true, 2>(ps, src, dst); break;
            default: pass_first<2, true, 1>(ps, src, dst); break;
            }
        } else {
            run_pass<Fwd>(plan->passes[i], src, dst, i + 1 == count ? scale : 1.0);
        }
        src = dst;
    }
    if (clash) run_pass<Fwd>(plan->passes[count - 1], src, out, scale);
}

void run(const qn_fft_stockham *plan, const double *in, double *out, double *work, double scale,
         bool forward) noexcept {
    if (forward) run_passes<true>(plan, in, out, work, scale);
    else run_passes<false>(plan, in, out, work, scale);
}

void run_pruned(const qn_fft_stockham *plan, const double *in, double *out, double *work, double scale,
                std::size_t live) noexcept {
    run_passes<true>(plan, in, out, work, scale, live);
}

// --------------------------------------------------------- real transforms

// X[k] = E[k] + w^k O[k] and X[h - k] = conj(E[k] - w^k O[k]), with E and O
// the spectra of the even and odd samples recovered from Z[k] and Z[h - k].
void real_post(const double *z, double *out, const double *tw, std::size_t h,
               double scale) noexcept {
    out[0] = (z[0] + z[1]) * scale;
    out[2 * h - 1] = (z[0] - z[1]) * scale;
    std::size_t k = 1;
#if QN_FFT_HAVE_CV4
    {
        const cv4 half = cv4::splat(0.5 * scale);
        for (; 2 * k + 6 < h; k += 4) {
            const cv4 a = cv4::load(z + 2 * k);
            const cv4 b = conj(reverse(cv4::load(z + 2 * (h - k - 3))));
            const cv4 e = (a + b) * half;
            const cv4 o = mul_neg_i(a - b) * half;
            const cv4 wv = cv4::load(tw + 2 * k);
            const cv4 t = cmul(o, dup_re(wv), dup_im(wv));
            store(out + 2 * k - 1, e + t);
            store(out + 2 * (h - k - 3) - 1, reverse(conj(e - t)));
        }
    }
#endif
#if QN_FFT_HAVE_CV2
    {
        const cv2 half = cv2::splat(0.5 * scale);
        for (; 2 * k + 2 < h; k += 2) {
            const cv2 a = cv2::load(z + 2 * k);
            const cv2 b = conj(reverse(cv2::load(z + 2 * (h - k - 1))));
            const cv2 e = (a + b) * half;
            const cv2 o = mul_neg_i(a - b) * half;
            const cv2 wv = cv2::load(tw + 2 * k);
            const cv2 t = cmul(o, dup_re(wv), dup_im(wv));
            // The packed outputs sit one double off the pairs; halves are
            // stored apart rather than as stores across cache lines.
            const cv2 lo = e + t, hi = conj(e - t);
            store_lo(out + 2 * k - 1, lo);
            store_hi(out + 2 * k + 1, lo);
            store_lo(out + 2 * (h - k) - 1, hi);
            store_hi(out + 2 * (h - k - 1) - 1, hi);
        }
    }
#endif
    const cv1 half = cv1::splat(0.5 * scale);
    for (; k < h - k; ++k) {
        const cv1 a = cv1::load(z + 2 * k);
        const cv1 b = conj(cv1::load(z + 2 * (h - k)));
        const cv1 e = (a + b) * half;
        const cv1 o = mul_neg_i(a - b) * half;
        const cv1 t = twiddle_mul<true>(o, tw + 2 * k);
        store(out + 2 * k - 1, e + t);
        store(out + 2 * (h - k) - 1, conj(e - t));
    }
    if (h % 2 == 0 && h >= 2) {  // X[h / 2] = conj(Z[h / 2])
        out[h - 1] = z[h] * scale;
        out[h] = -z[h + 1] * scale;
    }
}

// Z[k] = E + i conj(w^k) D and Z[h - k] = conj(E - i conj(w^k) D), with
// E = X[k] + conj(X[h - k]) and D = X[k] - conj(X[h - k]).
void real_pre(const double *in, double *z, const double *tw, std::size_t h,
              double scale) noexcept {
    const double r0 = in[0], rh = in[2 * h - 1];
    z[0] = (r0 + rh) * scale;
    z[1] = (r0 - rh) * scale;
    std::size_t k = 1;
#if QN_FFT_HAVE_CV4
    {
        const cv4 sc = cv4::splat(scale);
        for (; 2 * k + 6 < h; k += 4) {
            const cv4 a = cv4::load(in + 2 * k - 1);
            const cv4 b = conj(reverse(cv4::load(in + 2 * (h - k - 3) - 1)));
            const cv4 e = (a + b) * sc;
            const cv4 d = (a - b) * sc;
            const cv4 wv = cv4::load(tw + 2 * k);
            const cv4 t = mul_pos_i(cmul(d, dup_re(wv), neg(dup_im(wv))));
            store(z + 2 * k, e + t);
            store(z + 2 * (h - k - 3), reverse(conj(e - t)));
        }
    }
#endif
#if QN_FFT_HAVE_CV2
    {
        const cv2 sc = cv2::splat(scale);
        for (; 2 * k + 2 < h; k += 2) {
            const cv2 a = cv2::load(in + 2 * k - 1);
            const cv2 b = conj(reverse(cv2::load(in + 2 * (h - k - 1) - 1)));
            const cv2 e = (a + b) * sc;
            const cv2 d = (a - b) * sc;
            const cv2 wv = cv2::load(tw + 2 * k);
            const cv2 t = mul_pos_i(cmul(d, dup_re(wv), neg(dup_im(wv))));
            store(z + 2 * k, e + t);
            store(z + 2 * (h - k - 1), reverse(conj(e - t)));
        }
    }
#endif
    const cv1 sc = cv1::splat(scale);
    for (; k < h - k; ++k) {
        const cv1 a = cv1::load(in + 2 * k - 1);
        const cv1 b = conj(cv1::load(in + 2 * (h - k) - 1));
        const cv1 e = (a + b) * sc;
        const cv1 d = (a - b) * sc;
        const cv1 t = mul_pos_i(twiddle_mul<false>(d, tw + 2 * k));
        store(z + 2 * k, e + t);
        store(z + 2 * (h - k), conj(e - t));
    }
    if (h % 2 == 0 && h >= 2) {  // Z[h / 2] = 2 conj(X[h / 2])
        z[h] = 2.0 * in[h - 1] * scale;
        z[h + 1] = -2.0 * in[h] * scale;
    }
}

}  // namespace
