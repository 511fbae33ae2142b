#include "support/aures_literal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <numbers>

#include "fft/fft.h"
#include "loudness/filter_bank.h"
#include "tonality_aures/engine.h"

namespace qn_test {

namespace {

constexpr int N = 12000;
constexpr double fs = 48000.0;
const double nan = std::numeric_limits<double>::quiet_NaN();

bool finite(double x) { return std::isfinite(x); }

double bark(double f) {
    const double u = f / 1000.0;
    const double r = u / 7.5;
    return 13.0 * std::atan(0.76 * u) + 3.5 * std::atan(r * r);
}

int compare_doubles(const void *a, const void *b) {
    const double x = *static_cast<const double *>(a), y = *static_cast<const double *>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

double W(double f) { return f < 500.0 ? 50.0 : 0.1 * f; }

// Narrow-band search over L[0 ... len - 1]; -1 on failure.
int narrowband_search(const std::vector<double> &L, int len, std::vector<aures_record> &records,
                      aures_search_trace *trace = nullptr, double df = 4.0) {
    std::vector<double> A(len), S(len), Lw(len), Z(len), D(len), P(len), Q(len);
    std::vector<unsigned char> claimed(len, 0);
    struct copy_out {
        aures_search_trace *trace;
        const std::vector<unsigned char> &claimed;
        ~copy_out() {
            if (trace) trace->claimed = claimed;
        }
    } out{trace, claimed};
    for (int i = 0; i < len; ++i) {
        Lw[i] = L[i];
        Z[i] = bark(i * df);
        if (i == 0 || i == len - 1) {
            A[i] = L[i];
        } else {
            A[i] = 10.0 * std::log10(std::pow(10.0, L[i - 1] / 10.0) + std::pow(10.0, L[i] / 10.0) +
                                     std::pow(10.0, L[i + 1] / 10.0)) -
                   4.771212547196624;
        }
        if (!finite(A[i])) return -1;
        S[i] = (i * df > 5000 || i * df < 20) ? -100.0 : A[i];
    }
    for (int pass = 0; pass < 20; ++pass) {
        int b0 = 0;
        for (int i = 1; i < len; ++i)
            if (S[i] > S[b0]) b0 = i;
        const double c = S[b0];
        if (c < 0) break;

        int k = 0;
        bool k_open = true;
        bool stopped = false;
        for (int i = b0 - 1; i >= 0 && !stopped; --i) {
            if (c > A[i] + 3) {
                k = i, k_open = true, stopped = true;
            } else if (claimed[i]) {
                k = i, k_open = false, stopped = true;
            }
        }
        if (!stopped) k = 0, k_open = true;
        if (trace && k_open && claimed[k]) ++trace->open_claimed_edges;
        int b = len - 1;
        bool b_open = true;
        stopped = false;
        for (int i = b0 + 1; i <= len - 1 && !stopped; ++i) {
            if (c > A[i] + 3) {
                b = i, b_open = true, stopped = true;
            } else if (claimed[i]) {
                b = i, b_open = false, stopped = true;
            }
        }
        if (!stopped) b = len - 1, b_open = true;
        if (trace && b_open && claimed[b]) ++trace->open_claimed_edges;

        int e;
        if (!k_open) {
            e = k;
        } else {
            const int X = static_cast<int>(std::floor(W(k * df) / df + 0.5));
            const int g = std::max(k - X, 0);
            const int cnt = k - g + 1;
            for (int j = 0; j < cnt; ++j) D[j] = A[g + j];
            std::qsort(D.data(), static_cast<std::size_t>(cnt), sizeof(double), compare_doubles);
            const int q = std::max(static_cast<int>(std::floor(0.1 * cnt)), 2) - 2;
            const double threshold = D[q];
            e = g;
            for (int h = k; h >= g; --h) {
                if (claimed[h]) {
                    e = h + 1;
                    break;
                }
                if (threshold >= A[h]) {
                    e = h;
                    break;
                }
            }
        }
        int end;
        if (!b_open) {
            end = b;
        } else {
            const int Y = static_cast<int>(std::floor(W(b * df) / df + 0.5));
            const int G = b + Y >= len ? len - 1 : b + Y;
            const int cnt = G - b + 1;
            for (int j = 0; j < cnt; ++j) D[j] = A[b + j];
            std::qsort(D.data(), static_cast<std::size_t>(cnt), sizeof(double), compare_doubles);
            const int q = std::max(static_cast<int>(std::floor(0.1 * cnt)), 2) - 2;
            const double threshold = D[q];
            end = G;
            for (int h = b; h <= G; ++h) {
                if (claimed[h]) {
                    end = h - 1;
                    break;
                }
                if (threshold >= A[h]) {
                    end = h;
                    break;
                }
            }
        }
        if (e < 0 || end >= len || end < e) return -1;
        for (int v = e; v <= end; ++v) {
            claimed[v] = 1;
            S[v] = -100;
        }

        const double d = std::sqrt((k * df) * (b * df));
        if (d <= 0) continue;
        const double B3 = (b - k) * df;
        if (B3 <= 0) continue;
        const double t = Lw[e], u = Lw[end];
        const double CB = 25.0 + 75.0 * std::pow(1.0 + 1.4 * ((d / 1000.0) * (d / 1000.0)), 0.69);
        if (B3 >= CB) continue;

        const double zc = bark(d);
        double lower = 0, centre = 0, upper = 0;
        int n_lower = 0, n_upper = 0;
        for (int v = 0; v < len; ++v) {
            const double p = std::pow(10.0, Lw[v] / 10.0);
            if (zc - 1.5 <= Z[v] && Z[v] < zc - 0.5) {
                lower += p;
                ++n_lower;
            }
            if (zc - 0.5 <= Z[v] && Z[v] <= zc + 0.5) centre += p;
            if (zc + 0.5 < Z[v] && Z[v] <= zc + 1.5) {
                upper += p;
                ++n_upper;
            }
        }
        if (!finite(lower) || !finite(centre) || !finite(upper)) return -1;
        if (n_lower == 0 || n_upper == 0) continue;
        if (10.0 * std::log10(centre) - 10.0 * std::log10(lower) < 7) continue;
        if (10.0 * std::log10(centre) - 10.0 * std::log10(upper) < 7) continue;

        double P3 = 0;
        for (int m = k; m <= b; ++m) P3 += std::pow(10.0, Lw[m] / 10.0);
        auto base = [&](int v) { return t + (v - e) * (u - t) / std::max(end - e, 1); };
        double I = 0, H = 0;
        for (int v = e; v <= end; ++v) {
            P[v] = std::max(std::pow(10.0, Lw[v] / 10.0) - std::pow(10.0, base(v) / 10.0), 0.0);
            I += P[v];
        }
        for (int v = e; v <= end; ++v)
            if (v >= k && v <= b) H += std::pow(10.0, base(v) / 10.0);
        if (!finite(P3) || !finite(H) || !finite(I)) return -1;
        if (H >= P3 || I <= 0 || e == end) continue;

        for (int j = 0; j <= end - e; ++j) {
            double sum = 0;
            for (int i = 0; i <= j; ++i) sum += P[e + i];
            Q[e + j] = sum / I + (j + 1) * 1e-12;
        }
        int r = end;
        for (int v = e + 1; v <= end - 1; ++v) {
            if (Q[v] >= 0.95) {
                r = v;
                break;
            }
        }
        const double f95 = Q[r] == Q[r - 1] ? nan : (r - 1) * df + df * (0.95 - Q[r - 1]) / (Q[r] - Q[r - 1]);
        int s = end;
        for (int v = e + 1; v <= end - 1; ++v) {
            if (Q[v] >= 0.05) {
                s = v;
                break;
            }
        }
        const double f05 = Q[s] == Q[s - 1] ? nan : (s - 1) * df + df * (0.05 - Q[s - 1]) / (Q[s] - Q[s - 1]);
        const double Bn = (f95 - f05) / 0.9;
        const double Ln = 10.0 * std::log10(P3 - H);
        if (Bn <= 0 || !finite(Bn) || !finite(Ln)) return -1;
        for (int v = e; v <= end; ++v) Lw[v] = base(v);
        records.push_back({e, end, d, Bn, Ln, t, u});
    }
    return static_cast<int>(records.size());
}

// 3-dB bandwidths of the tonal peaks; -1 on failure.
int peak_bandwidths(const std::vector<double> &L, const std::vector<int> &bins, const std::vector<double> &levels,
                    std::vector<double> &bandwidths) {
    for (std::size_t i = 0; i < bins.size(); ++i) {
        const int p = bins[i];
        const double theta = levels[i] - 3;
        int c = -1;
        for (int j = 0; j <= p; ++j)
            if (L[j] < theta) c = j;
        c = std::max(c, 3);
        if (c + 1 >= N) c = N - 2;
        int r = p + 1;
        for (int j = N - 1; j >= p + 1; --j)
            if (L[j] < theta) r = j;
        r = std::min(r, N - 1);
        const double f_lo = L[c + 1] == L[c] ? nan : c * fs / N + (fs / N) * (theta - L[c]) / (L[c + 1] - L[c]);
        const double f_hi =
            L[r] == L[r - 1] ? nan : (r - 1) * fs / N + (fs / N) * (theta - L[r - 1]) / (L[r] - L[r - 1]);
        const double bw = f_hi - f_lo;
        if (bw <= 0 || !finite(bw)) return -1;
        bandwidths.push_back(bw);
    }
    return 0;
}

double magnitude(const std::vector<double> &Y, int s) {
    return std::sqrt(Y[2 * s] * Y[2 * s] + Y[2 * s + 1] * Y[2 * s + 1]);
}

void set_polar(std::vector<double> &Y, int s, double mu) {
    const double phi = std::atan2(Y[2 * s + 1], Y[2 * s]);
    Y[2 * s] = mu * std::cos(phi);
    Y[2 * s + 1] = mu * std::sin(phi);
}

void flatten(std::vector<double> &Y, const std::vector<double> &f, const std::vector<double> &width) {
    const int half = N / 2;
    for (std::size_t i = 0; i < f.size(); ++i) {
        const double lo = f[i] - width[i] / 2, hi = f[i] + width[i] / 2;
        int j = 0;
        for (int s = 0; s <= half; ++s) {
            if (s * fs / N >= lo) {
                j = s;
                break;
            }
        }
        int m = half;
        for (int s = 0; s <= half; ++s) {
            if (s * fs / N >= hi) {
                m = s;
                break;
            }
        }
        const int e = std::max(j, m);
        const double mu = 0.5 * (magnitude(Y, e >= half ? half : e + 1) + magnitude(Y, j == 0 ? 0 : j - 1));
        for (int s = j; s <= std::min(std::max(m, j), half); ++s) set_polar(Y, s, mu);
    }
    for (int s = 1; s <= half - 1; ++s) {
        Y[2 * (N - s)] = Y[2 * s];
        Y[2 * (N - s) + 1] = -Y[2 * s + 1];
    }
    Y[1] = 0;
    Y[2 * half + 1] = 0;
}

bool loudness_of(const std::vector<double> &block, qn_sound_field field, double *loudness) {
    double levels[28];
    if (qn_third_octave_levels(block.data(), N, static_cast<uint64_t>(fs * 0.0125), levels) != QN_STATUS_SUCCESS)
        return false;
    double specific[240];
    return qn_loudness_from_levels(levels, 28, field, loudness, specific, 240) == QN_STATUS_SUCCESS;
}

double ltq(double f) {
    const double v = f / 1000;
    if (!(v > 0)) return 130;
    return 3.64 * std::pow(v, -0.8) - 6.5 * std::exp(-0.6 * ((v - 3.3) * (v - 3.3))) + 0.001 * std::pow(v, 4.0);
}

// One frame; returns 0 or an engine code.
int frame(const double *x, qn_sound_field field, const aures_window &win, qn_fft_cplan *plan,
          aures_frame_detail &det) {
    const double a = win.scale;
    std::vector<double> wx(N), X(2 * N), Y(2 * N);
    for (int i = 0; i < N; ++i) {
        wx[i] = win.w[i] * x[i];
        X[2 * i] = a * wx[i];
        X[2 * i + 1] = 0;
    }
    if (!qn_fft_cforward(plan, X.data(), 1.0)) return qn_aures_allocation_failed;
    std::vector<double> &L1 = det.level;
    L1.assign(N, 0);
    for (int m = 0; m < N; ++m) {
        const double q = (X[2 * m] * X[2 * m] + X[2 * m + 1] * X[2 * m + 1] + 1e-99) / 4e-10;
        if (!finite(q)) return qn_aures_numerical_failure;
        L1[m] = 10.0 * std::log10(q);
    }
    if (narrowband_search(L1, 6001, det.records) < 0) return qn_aures_numerical_failure;
    std::vector<double> levels, freqs;
    for (int p = 9; p <= 1250; ++p) {
        const double l = L1[p];
        if (!(l > L1[p - 1] && l >= L1[p + 1])) continue;
        if (!(l - L1[p - 9] >= 7 && l - L1[p - 6] >= 7 && l - L1[p + 6] >= 7 && l - L1[p + 9] >= 7)) continue;
        bool inside = false;
        for (const auto &r : det.records)
            if (p >= r.start && p <= r.end) inside = true;
        if (inside) continue;
        if (!(l > 0)) continue;
        det.peaks.push_back(p);
        levels.push_back(l);
        freqs.push_back(p * 48000.0 / 12000.0);
    }
    if (det.peaks.empty() && det.records.empty()) {
        det.tonality = 0;
        return 0;
    }
    if (!det.peaks.empty() && peak_bandwidths(L1, det.peaks, levels, det.peak_bandwidths) < 0)
        return qn_aures_numerical_failure;

    for (int i = 0; i < N; ++i) {
        Y[2 * i] = wx[i];
        Y[2 * i + 1] = 0;
    }
    if (!qn_fft_cforward(plan, Y.data(), 1.0)) return qn_aures_allocation_failed;
    std::vector<double> f = freqs, B = det.peak_bandwidths, Lc = levels, Bw, removal;
    for (std::size_t i = 0; i < det.peaks.size(); ++i) {
        Bw.push_back(5.72);
        removal.push_back(std::max(B[i], 16.0));
    }
    flatten(Y, f, removal);
    for (const auto &r : det.records) {
        const double t = r.lower_edge_level, u = r.upper_edge_level;
        for (int z = 0; z <= r.end - r.start; ++z) {
            const double lambda = t + z * (u - t) / std::max(r.end - r.start, 1);
            const double mu = std::sqrt(std::pow(10.0, lambda / 10.0) * 4e-10) / a;
            set_polar(Y, r.start + z, mu);
        }
        if (f.size() == 1246) return qn_aures_numerical_failure;
        f.push_back(r.centre);
        B.push_back(r.bandwidth);
        Lc.push_back(r.level - win.noise_db);
        Bw.push_back(10.668);
    }
    const int n = static_cast<int>(f.size());
    for (int i = 1; i < n; ++i) {
        for (int j = i; j > 0 && f[j - 1] > f[j]; --j) {
            std::swap(f[j - 1], f[j]);
            std::swap(B[j - 1], B[j]);
            std::swap(Lc[j - 1], Lc[j]);
            std::swap(Bw[j - 1], Bw[j]);
        }
    }
    std::vector<int> band(n, -1);
    for (int i = 0; i < n; ++i) {
        for (int s = 0; s <= 1245; ++s) {
            if (bark((s + 5) * 4.0) == bark(f[i])) {
                band[i] = s;
                break;
            }
        }
    }
    std::vector<double> L2(6001);
    for (int m = 0; m <= 6000; ++m) {
        const double mag = std::sqrt(Y[2 * m] * Y[2 * m] + Y[2 * m + 1] * Y[2 * m + 1]);
        L2[m] = 10.0 * std::log10((mag * a) * (mag * a) / 4e-10 + 1e-99);
        if (!finite(L2[m])) return qn_aures_numerical_failure;
    }
    for (int m = 1; m <= 5999; ++m) {
        Y[2 * (N - m)] = Y[2 * m];
        Y[2 * (N - m) + 1] = -Y[2 * m + 1];
    }
    if (!qn_fft_cbackward(plan, Y.data(), 1.0 / 12000)) return qn_aures_allocation_failed;
    std::vector<double> residual(N);
    for (int i = 0; i < N; ++i) residual[i] = Y[2 * i];
    if (!loudness_of(wx, field, &det.frame_loudness) || !loudness_of(residual, field, &det.residual_loudness))
        return qn_aures_loudness_failed;
    double w_gr = det.frame_loudness > 1e-99 ? 1 - det.residual_loudness / det.frame_loudness : 0;
    if (!finite(w_gr)) return qn_aures_numerical_failure;
    if (w_gr < 0) w_gr = 0;

    // SPL excess.
    std::vector<double> dL(n);
    for (int i = 0; i < n; ++i) {
        const double zi = bark(f[i]);
        double G = 0;
        for (int j = 0; j < 1246; ++j) {
            const double zj = bark((5 + j) * 48000.0 / 12000.0);
            if (!(zi - 0.5 <= zj && zj <= zi + 0.5)) continue;
            if (band[i] >= 0 && j >= band[i] - 2 && j <= band[i] + 2) continue;
            G += std::pow(10.0, L2[5 + j] / 10.0);
        }
        double E_lo = 1e-99, E_hi = 1e-99;
        for (int j = 0; j < i; ++j)
            E_lo += std::pow(10.0, (Lc[j] - (zi - bark(f[j])) * (24 + 230 / f[j] - 0.2 * Lc[j])) / 20);
        for (int j = i + 1; j < n; ++j) E_hi += std::pow(10.0, (Lc[j] - 27 * (bark(f[j]) - zi)) / 20);
        const double quiet = std::pow(10.0, ltq(f[i]) / 10);
        const double Mi = n == 1 ? G + quiet : G + (E_lo + E_hi) * (E_lo + E_hi) + quiet;
        const double d = Lc[i] - 10 * std::log10(Mi);
        if (!finite(d)) return qn_aures_numerical_failure;
        dL[i] = std::max(d, 0.0);
    }

    // Tonal weight.
    double sum = 0;
    bool unusable = false;
    for (int i = 0; i < n && !unusable; ++i) {
        if (!finite(f[i]) || !finite(B[i]) || !finite(dL[i]) || Bw[i] < 0 || !finite(Bw[i])) {
            unusable = true;
            break;
        }
        if (f[i] <= 0 || B[i] <= 0 || dL[i] <= 0) continue;
        const double h = 0.5 * std::sqrt(std::max(B[i] * B[i] - Bw[i] * Bw[i], 0.0));
        const double dz = bark(f[i] + h) - bark(f[i] - h);
        const double w1 = 0.13 / (dz + 0.13);
        const double w2 = 1 / std::sqrt(1 + 0.2 * ((f[i] / 700 + 700 / f[i]) * (f[i] / 700 + 700 / f[i])));
        const double w3 = 1 - std::exp(dL[i] / -15);
        const double r2 = std::pow(w2, 0.29), r3 = std::pow(w3, 0.29);
        if (!finite(w1) || !finite(r2) || !finite(r3) || w1 < 0 || r2 < 0 || r3 < 0) {
            unusable = true;
            break;
        }
        const double kappa = 3.4482758620689657;
        const double term = std::pow(r2, kappa) * std::pow(r3, kappa) * std::pow(w1, kappa);
        sum += term * term;
    }
    const double w_t = unusable ? nan : std::sqrt(sum);
    const double T = 1.1055 * std::pow(w_t, 0.29) * std::pow(w_gr, 0.79);
    if (!finite(T)) return qn_aures_numerical_failure;

    det.frequency = f;
    det.component_level = Lc;
    det.bandwidth = B;
    det.window_bandwidth = Bw;
    det.excess = dL;
    det.band = band;
    det.tonal_weight = w_t;
    det.loudness_weight = w_gr;
    det.tonality = T;
    return 0;
}

}  // namespace

aures_window aures_literal_window() {
    aures_window win;
    win.w.resize(N);
    double sq = 0;
    for (int n = 0; n < N; ++n) {
        win.w[n] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / 11999.0);
        win.sum += win.w[n];
        sq += win.w[n] * win.w[n];
    }
    win.scale = std::sqrt(2.0) / win.sum;
    win.noise_db = 10.0 * std::log10(N * sq / (win.sum * win.sum));
    return win;
}

int aures_literal_search(const std::vector<double> &L, int len, double df, std::vector<aures_record> &records,
                         aures_search_trace *trace) {
    const int count = narrowband_search(L, len, records, trace, df);
    if (trace) trace->records = count;
    return count;
}

std::vector<double> aures_literal_ratios(const double *frame_samples) {
    const aures_window win = aures_literal_window();
    qn_fft_cplan_ptr plan(qn_fft_cplan_make(N));
    std::vector<double> X(2 * N), q(N);
    for (int i = 0; i < N; ++i) X[2 * i] = win.scale * (win.w[i] * frame_samples[i]);
    if (!plan || !qn_fft_cforward(plan.get(), X.data(), 1.0)) return {};
    for (int m = 0; m < N; ++m) q[m] = (X[2 * m] * X[2 * m] + X[2 * m + 1] * X[2 * m + 1] + 1e-99) / 4e-10;
    return q;
}

std::vector<double> aures_literal_levels(const double *frame_samples) {
    std::vector<double> L = aures_literal_ratios(frame_samples);
    for (double &v : L) v = 10.0 * std::log10(v);
    return L;
}

std::vector<double> aures_literal(const double *samples, int32_t n, qn_sound_field field, int32_t *code,
                                  std::vector<aures_frame_detail> *details) {
    if (n < N) {
        *code = qn_aures_too_short;
        return {};
    }
    const int frames = (n - N) / 6000 + 1;
    const aures_window win = aures_literal_window();
    qn_fft_cplan_ptr plan(qn_fft_cplan_make(N));
    if (!plan) {
        *code = qn_aures_plan_failed;
        return {};
    }
    std::vector<double> out(frames);
    if (details) details->assign(frames, {});
    for (int k = 0; k < frames; ++k) {
        aures_frame_detail det;
        const int r = frame(samples + static_cast<std::size_t>(k) * 6000, field, win, plan.get(), det);
        if (r != 0) {
            *code = r;
            return {};
        }
        out[k] = det.tonality;
        if (details) (*details)[k] = std::move(det);
    }
    *code = frames;
    return out;
}

}  // namespace qn_test
