#include "support/reference_cases.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <sstream>

#include "quarnelo.h"
#include "support/signals.h"

namespace qn_test {

namespace {

std::string trim(const std::string &s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

std::vector<std::string> words(const std::string &s) {
    std::istringstream in(s);
    std::vector<std::string> w;
    for (std::string t; in >> t;) w.push_back(t);
    return w;
}

bool to_number(const std::string &text, double *value) {
    if (text.empty()) return false;
    char *end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(*value);
}

std::string format(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.6g", v);
    return buffer;
}

// ---- signals ---------------------------------------------------------------

struct signal {
    enum { levels, pattern, samples } kind = samples;
    std::vector<double> values;
};

// `kind key=value ...` of the table; false with *error set on a bad one.
bool make_signal(const std::string &text, signal *out, std::string *error) {
    const auto w = words(text);
    if (w.empty()) {
        *error = "empty signal";
        return false;
    }
    std::map<std::string, double> k;
    for (std::size_t i = 1; i < w.size(); ++i) {
        const auto eq = w[i].find('=');
        double v = 0;
        if (eq == std::string::npos || !to_number(w[i].substr(eq + 1), &v)) {
            *error = "signal: '" + w[i] + "' is not key=number";
            return false;
        }
        k[w[i].substr(0, eq)] = v;
    }
    auto need = [&](const char *key, double *v) {
        const auto it = k.find(key);
        if (it == k.end()) {
            *error = "signal '" + w[0] + "' needs " + key;
            return false;
        }
        *v = it->second;
        return true;
    };
    const std::string &kind = w[0];
    if (kind == "levels" || kind == "pattern") {
        const bool is_levels = kind == "levels";
        out->kind = is_levels ? signal::levels : signal::pattern;
        out->values.assign(is_levels ? QN_THIRD_OCTAVE_BANDS : QN_BARK_POINTS, 0.0);
        if (k.count("all")) std::fill(out->values.begin(), out->values.end(), k["all"]);
        for (const auto &[key, v] : k) {
            if (key == "all") continue;
            const char prefix = is_levels ? 'b' : 'k';
            const int index = key.size() > 1 && key[0] == prefix ? std::atoi(key.c_str() + 1) : -1;
            if (index < 0 || index >= static_cast<int>(out->values.size())) {
                *error = "signal: no element '" + key + "' in " + kind;
                return false;
            }
            out->values[static_cast<std::size_t>(index)] = v;
        }
        return true;
    }
    double count = 0;
    if (k.count("n")) {
        count = k["n"];
    } else if (k.count("s")) {
        count = std::round(k["s"] * sample_rate);
    } else {
        *error = "signal needs its length, s= or n=";
        return false;
    }
    const auto n = static_cast<std::size_t>(count);
    out->kind = signal::samples;
    double f = 0, spl = 0, peak = 0;
    if (kind == "tone") {
        if (!need("f", &f) || !need("spl", &spl)) return false;
        out->values = sine(f, rms_for_level(spl) * std::sqrt(2.0), n);
    } else if (kind == "sine") {
        if (!need("f", &f) || !need("peak", &peak)) return false;
        out->values = sine(f, peak, n);
    } else if (kind == "am") {
        double fm = 0, m = 0;
        if (!need("fc", &f) || !need("fm", &fm) || !need("m", &m)) return false;
        // The carrier's peak: from its own level, or from the overall level,
        // of which the two sidebands carry m^2 / 2 of the carrier's power.
        double carrier = 0;
        if (k.count("carrier_spl")) {
            carrier = rms_for_level(k["carrier_spl"]) * std::sqrt(2.0);
        } else if (need("spl", &spl)) {
            carrier = rms_for_level(spl) * std::sqrt(2.0) / std::sqrt(1.0 + m * m / 2.0);
        } else {
            return false;
        }
        out->values = am_tone(f, fm, m, carrier * (1.0 + m), n);
    } else if (kind == "noise_band") {
        double bw = 0, seed = 0;
        if (!need("fc", &f) || !need("bw", &bw) || !need("spl", &spl) || !need("seed", &seed)) return false;
        xorshift rng(static_cast<uint64_t>(seed));
        std::vector<double> x(n, 0.0);
        for (double line = std::ceil(f - bw / 2); line <= f + bw / 2; line += 1.0) {
            const double phase = 2.0 * std::numbers::pi * rng.uniform();
            for (std::size_t i = 0; i < n; ++i)
                x[i] += std::sin(2.0 * std::numbers::pi * line * static_cast<double>(i) / sample_rate + phase);
        }
        double power = 0;
        for (double v : x) power += v * v;
        const double scale = rms_for_level(spl) / std::sqrt(power / static_cast<double>(n));
        for (double &v : x) v *= scale;
        out->values = std::move(x);
    } else {
        *error = "unknown signal '" + kind + "'";
        return false;
    }
    return true;
}

}  // namespace

// ---- analyses --------------------------------------------------------------

// The arrays a call gives: 1-D (one value per element of the axis) or
// frame-major with `bands` values per frame.
struct named_array {
    std::vector<double> values, axis;
    std::string axis_name, axis_unit, unit;
    int bands = 0;
};

struct reference_analysis {
    std::string error;
    std::map<std::string, double> scalars;
    std::map<std::string, named_array> arrays;
};

namespace {

using analysis = reference_analysis;

std::string failed(const char *function, qn_status s) {
    return std::string(function) + " answered " + std::to_string(s) + " (" + qn_status_string(s) + ")";
}

std::vector<double> frame_times(uint64_t frames, double first, double step) {
    std::vector<double> t(frames);
    for (uint64_t k = 0; k < frames; ++k) t[k] = first + step * static_cast<double>(k);
    return t;
}

std::vector<double> ecma_band_rates() {
    std::vector<double> z(QN_ECMA_BANDS);
    for (int b = 0; b < QN_ECMA_BANDS; ++b) z[b] = 0.5 * (b + 1);
    return z;
}

void add_pattern(analysis *a, double loudness, const std::vector<double> &specific) {
    a->scalars["loudness"] = loudness;
    a->scalars["peak_index"] =
        static_cast<double>(std::max_element(specific.begin(), specific.end()) - specific.begin());
    a->arrays["specific"] = {specific, std::vector<double>(qn_bark_axis(), qn_bark_axis() + QN_BARK_POINTS),
                             "critical-band rate", "Bark", "sone/Bark", 0};
}

void add_series(analysis *a, const char *name, std::vector<double> values, double first, double step,
                const char *unit) {
    const uint64_t frames = values.size();
    a->scalars["frame_count"] = static_cast<double>(frames);
    a->arrays[name] = {std::move(values), frame_times(frames, first, step), "time", "s", unit, 0};
}

// Runs `call` ("function [free|diffuse]") on the signal.
analysis analyse(const std::string &call, const signal &s) {
    analysis a;
    const auto w = words(call);
    qn_sound_field field = QN_SOUND_FIELD_FREE;
    if (w.size() > 1) {
        if (w[1] == "diffuse") {
            field = QN_SOUND_FIELD_DIFFUSE;
        } else if (w[1] != "free") {
            a.error = "call: unknown sound field '" + w[1] + "'";
            return a;
        }
    }
    const std::string function = w.empty() ? "" : w[0];
    const double *x = s.values.data();
    const uint64_t n = s.values.size();
    const bool levels = s.kind == signal::levels, samples = s.kind == signal::samples;
    const bool pattern = s.kind == signal::pattern;
    qn_status st = QN_STATUS_SUCCESS;
    uint64_t frames = 0;

    if ((function == "qn_loudness_from_levels" && levels) || (function == "qn_loudness_stationary" && samples) ||
        (function == "qn_sharpness_din" && !pattern)) {
        double loudness = 0;
        std::vector<double> specific(QN_BARK_POINTS);
        st = levels ? qn_loudness_from_levels(x, n, field, &loudness, specific.data(), specific.size())
                    : qn_loudness_stationary(x, n, QN_SAMPLE_RATE, field, &loudness, specific.data(),
                                             specific.size());
        if (st != QN_STATUS_SUCCESS) {
            a.error = failed(levels ? "qn_loudness_from_levels" : "qn_loudness_stationary", st);
            return a;
        }
        add_pattern(&a, loudness, specific);
        if (function != "qn_sharpness_din") return a;
    }
    if (function == "qn_sharpness_din") {
        const double *specific = pattern ? x : a.arrays["specific"].values.data();
        double sharpness = 0;
        if ((st = qn_sharpness_din(specific, QN_BARK_POINTS, &sharpness)) != QN_STATUS_SUCCESS) {
            a.error = failed("qn_sharpness_din", st);
            return a;
        }
        a.scalars["sharpness"] = sharpness;
        return a;
    }
    if (!samples) {
        a.error = "call '" + function + "' does not take this signal";
        return a;
    }
    if (function == "qn_loudness_time") {
        if ((st = qn_loudness_time_frame_count(n, QN_SAMPLE_RATE, &frames)) == QN_STATUS_SUCCESS) {
            std::vector<double> loudness(frames), specific(frames * QN_BARK_POINTS);
            st = qn_loudness_time(x, n, QN_SAMPLE_RATE, field, loudness.data(), frames, specific.data(),
                                  specific.size(), &frames);
            add_series(&a, "loudness", loudness, 0.0, QN_LOUDNESS_TIME_HOP / 48000.0, "sone");
        }
    } else if (function == "qn_roughness_dw") {
        if ((st = qn_roughness_frame_count(n, QN_SAMPLE_RATE, &frames)) == QN_STATUS_SUCCESS) {
            std::vector<double> r(frames);
            st = qn_roughness_dw(x, n, QN_SAMPLE_RATE, r.data(), frames, &frames);
            // Series times are frame centres.
            add_series(&a, "roughness", r, 0.1, 0.1, "asper");
        }
    } else if (function == "qn_tonality_aures") {
        if ((st = qn_tonality_frame_count(n, QN_SAMPLE_RATE, &frames)) == QN_STATUS_SUCCESS) {
            std::vector<double> t(frames);
            st = qn_tonality_aures(x, n, QN_SAMPLE_RATE, field, t.data(), frames, &frames);
            add_series(&a, "tonality", t, 0.125, 0.125, "t.u.");
        }
    } else if (function == "qn_ecma_tonal_analysis") {
        if ((st = qn_ecma_tonal_frame_count(n, QN_SAMPLE_RATE, &frames)) == QN_STATUS_SUCCESS) {
            const uint64_t plane = frames * QN_ECMA_BANDS;
            std::vector<double> out(5 * plane);
            st = qn_ecma_tonal_analysis(x, n, QN_SAMPLE_RATE, field, out.data(), out.size(), &frames);
            // The time-dependent tonality: the largest specific tonality of a
            // frame, and the band that has it.
            std::vector<double> tonality(frames, 0.0), band(frames, 0.0);
            for (uint64_t k = 0; k < frames; ++k) {
                for (int b = 0; b < QN_ECMA_BANDS; ++b) {
                    const double v = out[3 * plane + k * QN_ECMA_BANDS + b];
                    if (v > tonality[k]) {
                        tonality[k] = v;
                        band[k] = b;
                    }
                }
            }
            const double hop = QN_ECMA_TONAL_HOP / 48000.0;
            add_series(&a, "tonality", tonality, 0.0, hop, "tu_HMS");
            add_series(&a, "strongest_band", band, 0.0, hop, "");
            a.arrays["frequency"] = {std::vector<double>(out.begin() + 2 * plane, out.begin() + 3 * plane),
                                     frame_times(frames, 0.0, hop), "time", "s", "Hz", QN_ECMA_BANDS};
        }
    } else if (function == "qn_roughness_ecma") {
        if ((st = qn_ecma_roughness_frame_count(n, QN_SAMPLE_RATE, &frames)) == QN_STATUS_SUCCESS) {
            std::vector<double> out(frames * QN_ECMA_BANDS), total(frames, 0.0);
            st = qn_roughness_ecma(x, n, QN_SAMPLE_RATE, field, out.data(), out.size(), &frames);
            // Total roughness: 0.5 Bark times the sum over the bands.
            for (uint64_t k = 0; k < frames; ++k) {
                for (int b = 0; b < QN_ECMA_BANDS; ++b) total[k] += out[k * QN_ECMA_BANDS + b];
                total[k] *= 0.5;
            }
            add_series(&a, "total", total, 0.0, QN_ECMA_ROUGHNESS_HOP / 48000.0, "asper");
        }
    } else if (function == "qn_loudness_ecma") {
        if ((st = qn_ecma_tonal_frame_count(n, QN_SAMPLE_RATE, &frames)) == QN_STATUS_SUCCESS) {
            std::vector<double> loudness(frames), averaged(QN_ECMA_BANDS);
            double value = 0;
            st = qn_loudness_ecma(x, n, QN_SAMPLE_RATE, field, loudness.data(), frames, averaged.data(),
                                  averaged.size(), &value, nullptr, 0, &frames);
            add_series(&a, "loudness", loudness, 0.0, QN_ECMA_TONAL_HOP / 48000.0, "sone_HMS");
            a.scalars["value"] = value;
            a.arrays["averaged"] = {averaged, ecma_band_rates(), "critical-band rate", "Bark", "sone_HMS/Bark", 0};
        }
    } else if (function == "qn_fluctuation_ecma") {
        if ((st = qn_ecma_fluctuation_frame_count(n, QN_SAMPLE_RATE, &frames)) == QN_STATUS_SUCCESS) {
            std::vector<double> out(frames * QN_ECMA_BANDS), total(frames), averaged(QN_ECMA_BANDS);
            double value = 0;
            st = qn_fluctuation_ecma(x, n, QN_SAMPLE_RATE, field, out.data(), out.size(), &frames);
            if (st == QN_STATUS_SUCCESS)
                st = qn_ecma_aggregate(QN_ECMA_FLUCTUATION, out.data(), frames, total.data(), frames,
                                       averaged.data(), averaged.size(), &value);
            add_series(&a, "total", total, 0.0, QN_ECMA_FLUCTUATION_HOP / 48000.0, "vacil_HMS");
            a.scalars["value"] = value;
            a.arrays["averaged"] = {averaged, ecma_band_rates(), "critical-band rate", "Bark", "vacil_HMS/Bark", 0};
        }
    } else {
        a.error = "unknown call '" + function + "'";
        return a;
    }
    if (st != QN_STATUS_SUCCESS) a.error = failed(function.c_str(), st);
    return a;
}

// `name [band B] [index K] [frame F | frames A..B | frames A..]`.
struct quantity {
    std::string name;
    long band = -1, first = -1, last = -1;  // last -1: to the end
    bool range = false;
};

bool parse_quantity(const std::string &text, quantity *q, std::string *error) {
    const auto w = words(text);
    if (w.empty()) {
        *error = "empty quantity";
        return false;
    }
    q->name = w[0];
    for (std::size_t i = 1; i < w.size(); i += 2) {
        if (i + 1 >= w.size()) {
            *error = "quantity: '" + w[i] + "' needs a value";
            return false;
        }
        const std::string &key = w[i], &value = w[i + 1];
        const auto dots = value.find("..");
        if (key == "frames" && dots != std::string::npos) {
            q->range = true;
            q->first = std::atol(value.substr(0, dots).c_str());
            const std::string end = value.substr(dots + 2);
            q->last = end.empty() ? -1 : std::atol(end.c_str());
        } else if (key == "band") {
            q->band = std::atol(value.c_str());
        } else if (key == "index" || key == "frame") {
            q->first = q->last = std::atol(value.c_str());
        } else {
            *error = "quantity: unknown selector '" + key + " " + value + "'";
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<reference_case> read_reference_cases(const std::string &path, std::string *error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path;
        return {};
    }
    std::vector<reference_case> rows;
    int number = 0, table_lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = trim(line);
        if (line.empty() || line[0] != '|') continue;
        if (++table_lines <= 2) continue;  // the heading and the rule under it
        std::vector<std::string> cells;
        std::size_t start = 1;
        for (std::size_t bar; (bar = line.find('|', start)) != std::string::npos; start = bar + 1)
            cells.push_back(trim(line.substr(start, bar - start)));
        const std::string at = path + ":" + std::to_string(number) + ": ";
        if (cells.size() != 8) {
            *error = at + "a row has 8 cells, not " + std::to_string(cells.size());
            return {};
        }
        reference_case c;
        c.line = number;
        c.metric = cells[0];
        c.name = cells[1];
        c.signal = cells[2];
        c.call = cells[3];
        c.quantity = cells[4];
        c.tolerance_text = cells[6];
        c.basis = cells[7];
        const auto t = words(cells[6]);
        if (!to_number(cells[5], &c.expected) || t.size() != 2 || (t[0] != "abs" && t[0] != "rel") ||
            !to_number(t[1], &c.tolerance) || c.tolerance < 0) {
            *error = at + "expected a number and a tolerance 'abs X' or 'rel X'";
            return {};
        }
        c.relative = t[0] == "rel";
        rows.push_back(c);
    }
    if (rows.empty()) *error = path + ": no rows";
    return rows;
}

reference_outcome reference_runner::run(const reference_case &c) {
    reference_outcome o;
    o.allowed = c.relative ? c.tolerance * (c.expected == 0 ? 1.0 : std::fabs(c.expected)) : c.tolerance;
    const std::string key = c.signal + "\n" + c.call;
    auto &slot = done_[key];
    if (!slot) {
        signal s;
        std::string error;
        slot = std::make_shared<analysis>();
        if (!make_signal(c.signal, &s, &error)) {
            slot->error = error;
        } else {
            *slot = analyse(c.call, s);
        }
    }
    const analysis &a = *slot;
    if (!a.error.empty()) {
        o.error = a.error;
        return o;
    }
    quantity q;
    if (!parse_quantity(c.quantity, &q, &o.error)) return o;

    const auto scalar = a.scalars.find(q.name);
    if (scalar != a.scalars.end() && q.first < 0 && q.band < 0) {
        o.got = scalar->second;
    } else {
        const auto it = a.arrays.find(q.name);
        if (it == a.arrays.end()) {
            o.error = "'" + c.call + "' gives no '" + q.name + "'";
            return o;
        }
        const named_array &array = it->second;
        o.axis = array.axis_name;
        o.axis_unit = array.axis_unit;
        o.series_unit = array.unit;
        // A frame-major array gives the series of one band; a 1-D array
        // is selected by band or index alike.
        long first = q.first, last = q.last;
        if (array.bands > 0) {
            if (q.band < 0 || q.band >= array.bands) {
                o.error = "'" + q.name + "' needs a band 0 ... " + std::to_string(array.bands - 1);
                return o;
            }
            const std::size_t frames = array.values.size() / static_cast<std::size_t>(array.bands);
            for (std::size_t k = 0; k < frames; ++k)
                o.y.push_back(array.values[k * static_cast<std::size_t>(array.bands) + static_cast<std::size_t>(q.band)]);
        } else {
            o.y = array.values;
            if (q.band >= 0) first = last = q.band;
        }
        o.x = array.axis;
        const long size = static_cast<long>(o.y.size());
        if (last < 0 && q.range) last = size - 1;
        if (first < 0 || last < first || last >= size) {
            o.error = "'" + c.quantity + "' lies outside the " + std::to_string(size) + " values of " + q.name;
            return o;
        }
        o.first = first;
        o.last = last;
        // The element farthest from the expected value decides.
        o.marked = first;
        for (long i = first; i <= last; ++i)
            if (std::fabs(o.y[i] - c.expected) > std::fabs(o.y[o.marked] - c.expected)) o.marked = i;
        o.got = o.y[o.marked];
        const char *element = o.axis == "time" ? "frame " : q.band >= 0 ? "band " : "index ";
        o.where = element + std::to_string(o.marked) + " (" + format(o.x[o.marked]) + " " + o.axis_unit + ")";
    }
    o.ran = true;
    o.difference = o.got - c.expected;
    o.pass = std::fabs(o.difference) <= o.allowed;
    return o;
}

}  // namespace qn_test
