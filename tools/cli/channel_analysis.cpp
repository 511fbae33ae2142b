#include "channel_analysis.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <mutex>
#include <new>

#include "audio.h"
#include "statistics.h"

namespace qcli {

namespace {

using block_ptr = std::shared_ptr<const std::vector<double>>;

constexpr double frame_seconds_loudness = 96.0 / 48000.0;  // 2 ms
constexpr double frame_seconds_ecma = 256.0 / 48000.0;     // 5.33 ms
constexpr double frame_seconds_ecma_roughness = 0.02;

std::string seconds(uint64_t samples) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", static_cast<double>(samples) / 48000.0);
    return text;
}

bool selected(const analysis_options &o, metric_kind kind) {
    return std::any_of(o.metrics.begin(), o.metrics.end(), [&](const metric *m) { return m->kind == kind; });
}

value_list new_series(const analysis_options &o) { return value_list(o.spool); }

// An error is reported under its metric's name: a reason that begins with
// the same name ("loudness: invalid argument" of the loudness) drops it, so
// that the name stands once; another name (the loudness-time a sharpness
// needs) stays.
std::string without_own_name(const std::string &metric, std::string reason) {
    const std::string prefix = metric + ": ";
    if (reason.compare(0, prefix.size(), prefix) == 0) reason.erase(0, prefix.size());
    return reason;
}

// Empty, or why a series of the result could not be kept.
std::string series_error(const metric_result &r) {
    for (const series &s : r.series_list)
        if (!s.values.error().empty()) return s.values.error();
    return {};
}

class analysis {
public:
    explicit analysis(task_group &tasks) : queue_(tasks.pool()) {}
    virtual ~analysis() = default;
    serial_queue &queue() { return queue_; }
    // On the queue, in order.
    virtual void add(const block_ptr &block) = 0;
    virtual void finish() = 0;
    // Once finished: the metric's result, or false with the reason.
    virtual bool result(metric_kind kind, metric_result &out, std::string &error) = 0;

private:
    serial_queue queue_;
};

// --- ISO 532-1: loudness, time-varying loudness, sharpness -------------

struct meter_closer {
    void operator()(qn_loudness_meter *m) const { qn_loudness_meter_destroy(m); }
};

class meter_analysis final : public analysis {
public:
    meter_analysis(const analysis_options &o, uint64_t expected_samples, task_group &tasks)
        : analysis(tasks),
          series_(o.series),
          totals_wanted_(selected(o, metric_kind::loudness_time)),
          sharpness_wanted_(selected(o, metric_kind::sharpness)),
          loudness_series_(new_series(o)),
          specific_series_(new_series(o)),
          sharpness_series_(new_series(o)) {
        // The patterns only where something reads them: they are most of the
        // meter's work.
        patterns_ = sharpness_wanted_ || (totals_wanted_ && series_);
        qn_loudness_meter *m = nullptr;
        const qn_status status = qn_loudness_meter_create(QN_SAMPLE_RATE, o.field, &m);
        meter_.reset(m);
        if (status != QN_STATUS_SUCCESS) failure_ = status_message("loudness meter", status);
        try {
            if (totals_wanted_ && expected_samples > 0) totals_.reserve(static_cast<std::size_t>((expected_samples - 1) / 96 + 1));
        } catch (const std::bad_alloc &) {
            // grows as the frames come, as far as memory goes
        }
    }

    void add(const block_ptr &block) override {
        if (!failure_.empty() || !time_error_.empty()) return;
        try {
            const std::vector<double> &x = *block;
            for (std::size_t at = 0; at < x.size() && time_error_.empty(); at += piece)
                run(x.data() + at, std::min(piece, x.size() - at));
        } catch (const std::bad_alloc &) {
            fail();
        }
    }

    void finish() override {
        if (!failure_.empty()) return;
        try {
            if (!time_error_.empty()) {
                // The meter stops at the block it cannot take; the stationary
                // loudness of the channel is then not known either.
                stationary_error_ = stationary_status_message(QN_STATUS_NUMERICAL_FAILURE);
            } else {
                stationary_specific_.resize(QN_BARK_POINTS);
                const qn_status status = qn_loudness_meter_stationary(meter_.get(), &stationary_, stationary_specific_.data(),
                                                                      stationary_specific_.size());
                if (status != QN_STATUS_SUCCESS) stationary_error_ = stationary_status_message(status);
                if (totals_wanted_) statistics_ = loudness_over_frames(std::move(totals_));
            }
            totals_ = {};
            meter_.reset();
        } catch (const std::bad_alloc &) {
            fail();
        }
    }

    bool result(metric_kind kind, metric_result &out, std::string &error) override {
        if (!failure_.empty()) {
            error = failure_;
            return false;
        }
        if (kind == metric_kind::loudness) {
            if (!stationary_error_.empty()) {
                error = stationary_error_;
                return false;
            }
            out.values.push_back({"loudness", stationary_, "sone"});
            add_pattern_values(stationary_specific_, out);
            if (series_)
                out.series_list.push_back({"specific_loudness", "sone/Bark", {{"rate", "Bark", bark_axis_values()}},
                                           value_list(stationary_specific_)});
            return true;
        }
        if (kind == metric_kind::loudness_time) {
            if (!time_error_.empty()) {
                error = time_error_;
                return false;
            }
            out.values.push_back({"max", statistics_.max, "sone"});
            out.values.push_back({"n5", statistics_.n5, "sone"});
            out.values.push_back({"n10", statistics_.n10, "sone"});
            out.values.push_back({"mean", statistics_.mean, "sone"});
            if (series_) {
                const axis times = time_axis(frames_, 0.0, frame_seconds_loudness);
                out.series_list.push_back({"loudness", "sone", {times}, loudness_series_});
                out.series_list.push_back(
                    {"specific_loudness", "sone/Bark", {times, {"rate", "Bark", bark_axis_values()}}, specific_series_});
            }
            return true;
        }
        // Sharpness: of the stationary pattern, then of every frame's.
        if (!stationary_error_.empty()) {
            error = stationary_error_;
            return false;
        }
        double value = 0;
        const qn_status status = qn_sharpness_din(stationary_specific_.data(), QN_BARK_POINTS, &value);
        if (status != QN_STATUS_SUCCESS) {
            error = status_message("sharpness", status);
            return false;
        }
        if (!time_error_.empty() || !sharpness_error_.empty()) {
            error = !time_error_.empty() ? time_error_ : sharpness_error_;
            return false;
        }
        out.values.push_back({"sharpness", value, "acum"});
        out.values.push_back({"mean_per_frame", sharpness_mean_.value(), "acum"});
        if (series_)
            out.series_list.push_back(
                {"sharpness", "acum", {time_axis(frames_, 0.0, frame_seconds_loudness)}, sharpness_series_});
        return true;
    }

private:
    // Samples per call of the meter: 50 frames, 96 kB of patterns.
    static constexpr std::size_t piece = 4800;

    void run(const double *x, std::size_t n) {
        uint64_t frames = 0;
        qn_status status = qn_loudness_meter_frame_count(meter_.get(), n, &frames);
        if (status == QN_STATUS_SUCCESS) {
            loudness_.resize(static_cast<std::size_t>(frames));
            specific_.resize(patterns_ ? static_cast<std::size_t>(frames) * QN_BARK_POINTS : 0);
            status = qn_loudness_meter_add(meter_.get(), x, n, loudness_.data(), loudness_.size(),
                                           patterns_ ? specific_.data() : nullptr, specific_.size(), &frames);
        }
        if (status != QN_STATUS_SUCCESS) {
            time_error_ = status_message("loudness-time", status);
            return;
        }
        for (std::size_t f = 0; f < frames; ++f) {
            const double n_f = loudness_[f];
            const double *pattern = patterns_ ? &specific_[f * QN_BARK_POINTS] : nullptr;
            if (totals_wanted_) {
                totals_.push_back(n_f);
                if (series_) {
                    loudness_series_.push_back(n_f);
                    specific_series_.append({pattern, QN_BARK_POINTS});
                }
            }
            if (sharpness_wanted_ && sharpness_error_.empty()) {
                double s = 0;
                const qn_status st = qn_sharpness_din(pattern, QN_BARK_POINTS, &s);
                if (st != QN_STATUS_SUCCESS) {
                    sharpness_error_ = status_message("sharpness", st);
                } else {
                    sharpness_mean_.add_floored(s, n_f);
                    if (series_) sharpness_series_.push_back(s);
                }
            }
        }
        frames_ += frames;
    }

    void fail() {
        failure_ = "out of memory";
        totals_ = {};
        meter_.reset();
    }

    const bool series_, totals_wanted_, sharpness_wanted_;
    bool patterns_ = false;
    std::unique_ptr<qn_loudness_meter, meter_closer> meter_;
    std::vector<double> loudness_, specific_;  // one call's frames
    uint64_t frames_ = 0;
    std::vector<double> totals_;  // one per frame, for N5 and N10
    loudness_statistics statistics_{};
    frame_mean sharpness_mean_;
    value_list loudness_series_, specific_series_, sharpness_series_;
    double stationary_ = 0;
    std::vector<double> stationary_specific_;
    std::string failure_, time_error_, sharpness_error_, stationary_error_;
};

// --- Framed metrics: Daniel & Weber roughness, Aures tonality ------------

class framed_analysis final : public analysis {
public:
    framed_analysis(metric_kind kind, const analysis_options &o, task_group &tasks)
        : analysis(tasks), tasks_(tasks), kind_(kind), field_(o.field), series_(o.series) {
        if (kind == metric_kind::roughness_dw) {
            length_ = 9600, hop_ = 4800, batch_ = 64;
        } else {
            length_ = 12000, hop_ = 6000, batch_ = 48;
        }
    }

    void add(const block_ptr &block) override {
        if (!failure_.empty()) return;
        try {
            window_.insert(window_.end(), block->begin(), block->end());
            while (window_.size() >= length_ + (batch_ - 1) * hop_) dispatch(batch_);
        } catch (const std::bad_alloc &) {
            fail();
        }
    }

    void finish() override {
        if (!failure_.empty()) return;
        try {
            if (window_.size() >= length_) dispatch((window_.size() - length_) / hop_ + 1);
        } catch (const std::bad_alloc &) {
            fail();
        }
        window_ = {};
    }

    bool result(metric_kind kind, metric_result &out, std::string &error) override {
        std::vector<double> values;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!failure_.empty()) {
                error = failure_;
                return false;
            }
            // The first frame that fails decides, as in one call on the
            // whole signal.
            for (const batch &b : batches_) {
                if (b.status != QN_STATUS_SUCCESS) {
                    error = status_message(kind == metric_kind::roughness_dw ? "roughness-dw" : "tonality-aures",
                                           b.status);
                    if (kind == metric_kind::tonality_aures && b.status == QN_STATUS_NUMERICAL_FAILURE)
                        error += " (a very loud low-frequency sound, above 120 dB in a third-octave band up to 250 "
                                 "Hz, is beyond the loudness model)";
                    return false;
                }
                values.insert(values.end(), b.values.begin(), b.values.end());
            }
        }
        if (kind == metric_kind::roughness_dw) {
            out.values.push_back({"mean", mean_of(values), "asper"});
            out.values.push_back({"max", max_of(values), "asper"});
            // Frames are 200 ms long and 100 ms apart; each value belongs to
            // its frame's centre.
            if (series_)
                out.series_list.push_back(
                    {"roughness", "asper", {time_axis(values.size(), 0.1, 0.1)}, value_list(std::move(values))});
        } else {
            out.values.push_back({"mean", mean_of(values), "t.u."});
            out.values.push_back({"max", max_of(values), "t.u."});
            // Frames are 250 ms long and 125 ms apart; each value belongs to
            // its frame's centre, (6000 k + 6000) / 48000 s.
            if (series_)
                out.series_list.push_back(
                    {"tonality", "t.u.", {time_axis(values.size(), 0.125, 0.125)}, value_list(std::move(values))});
        }
        return true;
    }

private:
    struct batch {
        qn_status status = QN_STATUS_NUMERICAL_FAILURE;  // until it has run
        std::vector<double> values;
    };

    // Hands the first `frames` frames of the window to a task of their own
    // and drops the samples no later frame needs.
    void dispatch(std::size_t frames) {
        const std::size_t n = length_ + (frames - 1) * hop_;
        auto samples = std::make_shared<const std::vector<double>>(window_.begin(),
                                                                   window_.begin() + static_cast<std::ptrdiff_t>(n));
        std::size_t index;
        {
            std::lock_guard<std::mutex> hold(lock_);
            index = batches_.size();
            batches_.emplace_back();
        }
        tasks_.post([this, samples, index, frames] { compute(*samples, index, frames); }, 8 * n);
        window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(frames * hop_));
    }

    void compute(const std::vector<double> &x, std::size_t index, std::size_t frames) {
        batch b;
        try {
            b.values.resize(frames);
            uint64_t count = 0;
            b.status = kind_ == metric_kind::roughness_dw
                           ? qn_roughness_dw(x.data(), x.size(), QN_SAMPLE_RATE, b.values.data(), frames, &count)
                           : qn_tonality_aures(x.data(), x.size(), QN_SAMPLE_RATE, field_, b.values.data(), frames,
                                               &count);
            if (b.status == QN_STATUS_SUCCESS && count != frames) b.status = QN_STATUS_NUMERICAL_FAILURE;
        } catch (const std::bad_alloc &) {
            b.status = QN_STATUS_ALLOCATION_FAILED;
            b.values = {};
        }
        std::lock_guard<std::mutex> hold(lock_);
        batches_[index] = std::move(b);
    }

    void fail() {
        std::lock_guard<std::mutex> hold(lock_);
        failure_ = "out of memory";
        window_ = {};
    }

    task_group &tasks_;
    const metric_kind kind_;
    const qn_sound_field field_;
    const bool series_;
    std::size_t length_, hop_, batch_;  // samples, samples, frames per task
    std::vector<double> window_;        // from the first frame not yet handed out
    std::mutex lock_;
    std::deque<batch> batches_;
    std::string failure_;
};

// --- ECMA-418-2 tonality and roughness: the whole channel ------------------

// The 53 auditory bands' critical-band rates, 0.5 ... 26.5 Bark.
std::vector<double> ecma_band_rates() {
    std::vector<double> z(QN_ECMA_BANDS);
    for (int b = 0; b < QN_ECMA_BANDS; ++b) z[static_cast<std::size_t>(b)] = 0.5 * (b + 1);
    return z;
}

bool tonality_ecma(const std::vector<double> &x, const analysis_options &o, metric_result &out, std::string &error) {
    uint64_t frames = 0;
    qn_status status = qn_ecma_tonal_frame_count(x.size(), QN_SAMPLE_RATE, &frames);
    if (status == QN_STATUS_SUCCESS) {
        std::vector<double> arrays(5 * QN_ECMA_BANDS * frames);
        status = qn_ecma_tonal_analysis(x.data(), x.size(), QN_SAMPLE_RATE, o.field, arrays.data(), arrays.size(),
                                        &frames);
        if (status == QN_STATUS_SUCCESS) {
            const std::size_t plane = QN_ECMA_BANDS * frames;
            const double *frequency = arrays.data() + 2 * plane;
            const double *specific = arrays.data() + 3 * plane;
            // T(l): the largest specific tonality of the frame, and the band
            // that has it (the lowest of equal ones).
            std::vector<double> tonality(frames), strongest_frequency(frames);
            std::vector<int> strongest_band(frames, 0);
            for (std::size_t l = 0; l < frames; ++l) {
                const double *row = specific + QN_ECMA_BANDS * l;
                const int b = static_cast<int>(std::max_element(row, row + QN_ECMA_BANDS) - row);
                tonality[l] = row[b];
                strongest_band[l] = b;
                strongest_frequency[l] = frequency[QN_ECMA_BANDS * l + b];
            }
            const tonality_summary summary = summarise_tonality(tonality, frame_seconds_ecma);
            const bool tonal = summary.max > 0;
            out.values.push_back({"tonality", summary.value, "tu_HMS"});
            out.values.push_back({"max", summary.max, "tu_HMS"});
            out.values.push_back({"strongest_rate", tonal ? 0.5 * (strongest_band[summary.frame] + 1) : 0.0, "Bark"});
            out.values.push_back({"strongest_frequency", tonal ? strongest_frequency[summary.frame] : 0.0, "Hz"});
            if (o.series) {
                const axis times = time_axis(frames, 0.0, frame_seconds_ecma);
                value_list bands = new_series(o);
                bands.append({specific, plane});
                out.series_list.push_back({"tonality", "tu_HMS", {times}, value_list(std::move(tonality))});
                out.series_list.push_back(
                    {"tonal_frequency", "Hz", {times}, value_list(std::move(strongest_frequency))});
                out.series_list.push_back(
                    {"specific_tonality", "tu_HMS/Bark", {times, {"rate", "Bark", ecma_band_rates()}}, std::move(bands)});
            }
            return true;
        }
    }
    error = status_message("tonality-ecma", status);
    return false;
}

bool roughness_ecma(const std::vector<double> &x, const analysis_options &o, metric_result &out, std::string &error) {
    uint64_t frames = 0;
    qn_status status = qn_ecma_roughness_frame_count(x.size(), QN_SAMPLE_RATE, &frames);
    if (status == QN_STATUS_SUCCESS) {
        std::vector<double> specific(frames * QN_ECMA_BANDS);
        status = qn_roughness_ecma(x.data(), x.size(), QN_SAMPLE_RATE, o.field, specific.data(), specific.size(),
                                   &frames);
        if (status == QN_STATUS_SUCCESS) {
            // Total roughness of each frame: 0.5 Bark times the sum of the
            // specific roughness over the 53 bands.
            std::vector<double> total(frames);
            for (std::size_t k = 0; k < total.size(); ++k) {
                double sum = 0;
                for (int b = 0; b < QN_ECMA_BANDS; ++b) sum += specific[k * QN_ECMA_BANDS + static_cast<std::size_t>(b)];
                total[k] = 0.5 * sum;
            }
            out.values.push_back({"roughness", ecma_roughness_value(total), "asper"});
            out.values.push_back({"mean", mean_of(total), "asper"});
            out.values.push_back({"max", max_of(total), "asper"});
            if (o.series) {
                const axis times = time_axis(total.size(), 0.0, frame_seconds_ecma_roughness);
                value_list bands = new_series(o);
                bands.append(specific);
                out.series_list.push_back({"roughness", "asper", {times}, value_list(std::move(total))});
                out.series_list.push_back(
                    {"specific_roughness", "asper/Bark", {times, {"rate", "Bark", ecma_band_rates()}}, std::move(bands)});
            }
            return true;
        }
    }
    error = status_message("roughness-ecma", status);
    return false;
}

class ecma_analysis final : public analysis {
public:
    ecma_analysis(const analysis_options &o, uint64_t expected_samples, task_group &tasks)
        : analysis(tasks), options_(o), tasks_(tasks), samples_(std::make_shared<std::vector<double>>()) {
        try {
            samples_->reserve(static_cast<std::size_t>(expected_samples));
        } catch (const std::bad_alloc &) {
            // grows as the blocks come, as far as memory goes
        }
    }

    void add(const block_ptr &block) override {
        if (!samples_) return;
        try {
            samples_->insert(samples_->end(), block->begin(), block->end());
        } catch (const std::bad_alloc &) {
            samples_.reset();
        }
    }

    void finish() override {
        if (!samples_) {
            for (outcome &o : outcomes_) o.error = "out of memory";
            return;
        }
        // The two metrics side by side; the samples go with the last.
        std::shared_ptr<const std::vector<double>> x = std::move(samples_);
        for (int i = 0; i < 2; ++i) {
            const metric_kind kind = i == 0 ? metric_kind::tonality_ecma : metric_kind::roughness_ecma;
            if (!selected(options_, kind)) continue;
            outcome *o = &outcomes_[i];
            tasks_.post([this, x, kind, o] {
                try {
                    o->ok = kind == metric_kind::tonality_ecma ? tonality_ecma(*x, options_, o->result, o->error)
                                                               : roughness_ecma(*x, options_, o->result, o->error);
                } catch (const std::bad_alloc &) {
                    o->ok = false;
                    o->result = {};
                    o->error = "out of memory";
                }
            });
        }
    }

    bool result(metric_kind kind, metric_result &out, std::string &error) override {
        const outcome &o = outcomes_[kind == metric_kind::tonality_ecma ? 0 : 1];
        if (!o.ok) {
            error = o.error.empty() ? "out of memory" : o.error;
            return false;
        }
        out = o.result;
        return true;
    }

private:
    struct outcome {
        bool ok = false;
        metric_result result;
        std::string error;
    };

    const analysis_options &options_;
    task_group &tasks_;
    std::shared_ptr<std::vector<double>> samples_;
    outcome outcomes_[2];
};

}  // namespace

// --- The channel ----------------------------------------------------------

struct channel_analysis::state {
    state(const analysis_options &o, const channel_input &in, task_group &t)
        : options(o), input(in), tasks(t), front(t.pool()) {}

    const analysis_options &options;
    const channel_input input;
    task_group &tasks;
    serial_queue front;  // resampling, calibration, checks, in order
    resampler resampling;
    std::atomic<bool> cancelled{false};
    std::string input_error;
    uint64_t samples = 0;  // at 48 kHz, handed on
    std::unique_ptr<meter_analysis> meter;
    std::unique_ptr<framed_analysis> roughness, tonality;
    std::unique_ptr<ecma_analysis> ecma;
    std::vector<analysis *> all;

    analysis *for_metric(metric_kind kind) const {
        switch (kind) {
        case metric_kind::loudness:
        case metric_kind::loudness_time:
        case metric_kind::sharpness: return meter.get();
        case metric_kind::roughness_dw: return roughness.get();
        case metric_kind::tonality_aures: return tonality.get();
        case metric_kind::tonality_ecma:
        case metric_kind::roughness_ecma: return ecma.get();
        }
        return nullptr;
    }

    // Calibrates and checks 48 kHz samples and hands them to every analysis.
    void pass_on(std::vector<double> x) {
        if (input.factor != 1.0)
            for (double &v : x) v *= input.factor;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (!std::isfinite(x[i])) {
                input_error = "sample " + std::to_string(samples + i) + " is NaN or infinite";
                return;
            }
        }
        samples += x.size();
        if (x.empty()) return;
        const block_ptr block = std::make_shared<const std::vector<double>>(std::move(x));
        for (analysis *a : all) tasks.post(a->queue(), [a, block] { a->add(block); }, 8 * block->size());
    }

    void take(std::vector<double> &raw) {
        if (cancelled || !input_error.empty()) return;
        try {
            std::vector<double> x;
            if (!resampling.process(raw, x, input_error)) return;
            raw = {};
            pass_on(std::move(x));
        } catch (const std::bad_alloc &) {
            input_error = "out of memory";
        }
    }

    void end() {
        if (cancelled || !input_error.empty()) return;
        try {
            std::vector<double> x;
            if (!resampling.finish(x, input_error)) return;
            pass_on(std::move(x));
            if (!input_error.empty()) return;
            for (analysis *a : all) tasks.post(a->queue(), [a] { a->finish(); });
        } catch (const std::bad_alloc &) {
            input_error = "out of memory";
        }
    }
};

channel_analysis::channel_analysis(const analysis_options &options, const channel_input &input, task_group &tasks)
    : state_(std::make_unique<state>(options, input, tasks)) {
    state &s = *state_;
    s.resampling.start(input.sample_rate, s.input_error);
    const uint64_t expected = input.expected_samples;
    if (selected(options, metric_kind::loudness) || selected(options, metric_kind::loudness_time) ||
        selected(options, metric_kind::sharpness)) {
        s.meter = std::make_unique<meter_analysis>(options, expected, tasks);
        s.all.push_back(s.meter.get());
    }
    for (const metric_kind kind : {metric_kind::roughness_dw, metric_kind::tonality_aures}) {
        if (!selected(options, kind)) continue;
        auto framed = std::make_unique<framed_analysis>(kind, options, tasks);
        s.all.push_back(framed.get());
        (kind == metric_kind::roughness_dw ? s.roughness : s.tonality) = std::move(framed);
    }
    if (selected(options, metric_kind::tonality_ecma) || selected(options, metric_kind::roughness_ecma)) {
        s.ecma = std::make_unique<ecma_analysis>(options, expected, tasks);
        s.all.push_back(s.ecma.get());
    }
}

channel_analysis::~channel_analysis() {
    // Tasks still queued refer to the analyses.
    cancel();
    state_->tasks.wait_idle();
}

void channel_analysis::post_block(std::vector<double> block) {
    const uint64_t bytes = 8 * block.size();
    auto raw = std::make_shared<std::vector<double>>(std::move(block));
    state *s = state_.get();
    s->tasks.post(s->front, [s, raw] { s->take(*raw); }, bytes);
}

void channel_analysis::post_end() {
    state *s = state_.get();
    s->tasks.post(s->front, [s] { s->end(); });
}

void channel_analysis::cancel() { state_->cancelled = true; }

void channel_analysis::report(channel_report &out) {
    const state &s = *state_;
    if (!s.input_error.empty()) {
        out.errors.push_back({"input", s.input_error});
        return;
    }
    for (const metric *m : s.options.metrics) {
        if (s.samples < m->min_samples) {
            out.errors.push_back(
                {m->name, "too short: " + seconds(s.samples) + ", needs at least " + seconds(m->min_samples)});
            continue;
        }
        metric_result r;
        std::string error;
        bool ok = false;
        try {
            ok = s.for_metric(m->kind)->result(m->kind, r, error);
            if (ok && !(error = series_error(r)).empty()) ok = false;
        } catch (const std::bad_alloc &) {
            error = "out of memory";
        }
        if (ok) out.metrics.push_back({m->name, std::move(r)});
        else out.errors.push_back({m->name, without_own_name(m->name, std::move(error))});
    }
}

void analyse_channel(const std::vector<double> &x, const analysis_options &options, channel_report &out,
                     std::size_t block, int threads) {
    work_pool pool(threads);
    task_group tasks(pool);
    channel_analysis analysis(options, {QN_SAMPLE_RATE, 1.0, x.size()}, tasks);
    block = std::max<std::size_t>(block, 1);
    for (std::size_t at = 0; at < x.size(); at += block) {
        const auto first = x.begin() + static_cast<std::ptrdiff_t>(at);
        analysis.post_block(std::vector<double>(first, first + static_cast<std::ptrdiff_t>(std::min(block, x.size() - at))));
        tasks.wait_below(64u << 20);
    }
    analysis.post_end();
    tasks.wait_idle();
    analysis.report(out);
}

}  // namespace qcli
