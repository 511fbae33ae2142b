// The ECMA-418-2 metrics of a channel (tonality, loudness, roughness): one
// stream of the hearing model for all of them, fed block by block, whose
// frames are reduced as they complete. Nothing grows with the channel's
// length but the series kept for the caller (which go to the spool) and
// the 8 bytes a frame that percentiles need. The two ears of a head
// recording meet in an ecma_pair, which combines their frames per band and
// reduces the combination as one ear's.
#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

#include "analysis.h"
#include "statistics.h"

namespace qnf {

namespace {

constexpr std::size_t bands = QN_ECMA_BANDS;
// Values of one tonality frame: the five arrays of the tonal analysis.
constexpr std::size_t tonality_values = 5 * bands;
// Frames read from the stream at a time.
constexpr uint64_t read_frames = 512;

struct stream_deleter {
    void operator()(qn_ecma_stream *s) const { qn_ecma_stream_destroy(s); }
};
struct accumulator_deleter {
    void operator()(qn_ecma_accumulator *a) const { qn_ecma_accumulator_destroy(a); }
};

std::size_t values_per_frame(const metric &m) { return m.ecma == QN_ECMA_TONALITY ? tonality_values : bands; }

double hop_seconds(const metric &m) { return static_cast<double>(m.hop) / QN_SAMPLE_RATE; }

uint64_t frames_expected(const metric &m, uint64_t samples) { return m.hop == 0 ? 0 : samples / m.hop + 2; }

// The results of one metric from its frames as they come.
class reduction {
public:
    explicit reduction(const metric &m) : metric_(m) {}
    virtual ~reduction() = default;
    // Frames in the stream's layout, in order.
    virtual void add(const double *frames, uint64_t count) = 0;
    // Once every frame is in: the metric's values and series, or false
    // with the reason.
    virtual bool finish(metric_result &out, std::string &error) = 0;

protected:
    const metric &metric_;
};

// Tonality: T(l), the largest specific tonality of frame l, its band and
// the tonal frequency there, reduced as summarise_tonality reduces a whole
// series (the mean over frames from 0.3 s on above 0.02, summed in frame
// order; the first largest T(l) from 0.3 s on).
class tonality_reduction final : public reduction {
public:
    tonality_reduction(const metric &m, const analysis_options &o, uint64_t expected_samples)
        : reduction(m), options_(o), stats_(m, o.statistics, frames_expected(m, expected_samples)),
          tonality_(new_series(o)), frequency_(new_series(o)), specific_(new_series(o)) {}

    void add(const double *frames, uint64_t count) override {
        const double hop = hop_seconds(metric_);
        for (uint64_t k = 0; k < count; ++k, ++frame_) {
            const double *frame = frames + k * tonality_values;
            const double *row = frame + 3 * bands;  // specific tonality
            const auto b = static_cast<std::size_t>(std::max_element(row, row + bands) - row);
            const double t = row[b];
            const double frequency = frame[2 * bands + b];
            if (static_cast<double>(frame_) * hop >= 0.3) {
                if (!found_ || t > max_) {
                    max_ = t;
                    band_ = b;
                    strongest_frequency_ = frequency;
                    found_ = true;
                }
                if (t > 0.02) {
                    sum_ += t;
                    ++counted_;
                }
            }
            stats_.add(t);
            if (options_.series) {
                tonality_.push_back(t);
                frequency_.push_back(frequency);
                specific_.append({row, bands});
            }
        }
    }

    bool finish(metric_result &out, std::string &error) override {
        const bool tonal = max_ > 0;
        out.values.push_back({"tonality", counted_ > 0 ? sum_ / static_cast<double>(counted_) : 0.0, "tu_HMS"});
        out.values.push_back({"max", max_, "tu_HMS"});
        out.values.push_back({"strongest_rate", tonal ? 0.5 * static_cast<double>(band_ + 1) : 0.0, "Bark"});
        out.values.push_back({"strongest_frequency", tonal ? strongest_frequency_ : 0.0, "Hz"});
        if (!finish_statistics(stats_, options_.statistics, out)) {
            error = out.statistics_error;
            return false;
        }
        if (options_.series) {
            const axis times = time_axis(frame_, 0.0, hop_seconds(metric_));
            out.series_list.push_back({"tonality", "tu_HMS", {times}, std::move(tonality_)});
            out.series_list.push_back({"tonal_frequency", "Hz", {times}, std::move(frequency_)});
            out.series_list.push_back(
                {"specific_tonality", "tu_HMS/Bark", {times, {"rate", "Bark", ecma_band_rates()}}, std::move(specific_)});
        }
        return true;
    }

private:
    const analysis_options &options_;
    frame_statistics stats_;
    uint64_t frame_ = 0;
    double sum_ = 0;
    uint64_t counted_ = 0;
    bool found_ = false;
    double max_ = 0, strongest_frequency_ = 0;
    std::size_t band_ = 0;
    value_list tonality_, frequency_, specific_;
};

// A metric of band values X'(l,z) that the library reduces (loudness,
// roughness, fluctuation strength): an accumulator gives X(l) and the
// averaged values, and the single value is its power mean (loudness) or
// the percentile of the kept X(l) (qn_ecma_single_value). The series are
// the descriptor's: X(l), X'(l,z), and the averaged X'(z) when it has a
// third.
class band_reduction final : public reduction {
public:
    band_reduction(const metric &m, const analysis_options &o, uint64_t expected_samples)
        : reduction(m), options_(o), stats_(m, o.statistics, frames_expected(m, expected_samples)),
          total_(new_series(o)), specific_(new_series(o)) {
        qn_ecma_accumulator *a = nullptr;
        if (qn_ecma_accumulator_create(m.ecma, &a) != QN_STATUS_SUCCESS) throw std::bad_alloc();
        accumulator_.reset(a);
    }

    void add(const double *frames, uint64_t count) override {
        if (status_ != QN_STATUS_SUCCESS || count == 0) return;
        scratch_.resize(static_cast<std::size_t>(count));
        status_ = qn_ecma_accumulator_add(accumulator_.get(), frames, count, scratch_.data(), count);
        if (status_ != QN_STATUS_SUCCESS) return;
        frames_ += count;
        for (double x : scratch_) stats_.add(x);
        if (keeps_series()) kept_.insert(kept_.end(), scratch_.begin(), scratch_.end());
        if (options_.series) {
            total_.append(scratch_);
            specific_.append({frames, static_cast<std::size_t>(count) * bands});
        }
    }

    bool finish(metric_result &out, std::string &error) override {
        double averaged[QN_ECMA_BANDS];
        double value = 0;
        qn_status status = status_;
        if (status == QN_STATUS_SUCCESS)
            status = qn_ecma_accumulator_result(accumulator_.get(), averaged, bands, keeps_series() ? nullptr : &value);
        if (status == QN_STATUS_SUCCESS && keeps_series())
            status = qn_ecma_single_value(metric_.ecma, kept_.data(), kept_.size(), &value);
        if (status != QN_STATUS_SUCCESS) {
            error = status_message(metric_.name, status);
            return false;
        }
        out.values.push_back({metric_.quantities[0].name, value, metric_.quantities[0].unit});
        if (!finish_statistics(stats_, options_.statistics, out)) {
            error = out.statistics_error;
            return false;
        }
        if (options_.series) {
            const axis times = time_axis(frames_, 0.0, hop_seconds(metric_));
            const series_info *info = metric_.series.data();
            out.series_list.push_back({info[0].name, info[0].unit, {times}, std::move(total_)});
            out.series_list.push_back(
                {info[1].name, info[1].unit, {times, {"rate", "Bark", ecma_band_rates()}}, std::move(specific_)});
            if (metric_.series.size() > 2)
                out.series_list.push_back({info[2].name, info[2].unit, {{"rate", "Bark", ecma_band_rates()}},
                                           value_list(std::vector<double>(averaged, averaged + bands))});
        }
        return true;
    }

private:
    // Whether the single value is a percentile of X(l), which needs them
    // all (8 bytes a frame).
    bool keeps_series() const { return metric_.ecma != QN_ECMA_LOUDNESS; }

    const analysis_options &options_;
    frame_statistics stats_;
    std::unique_ptr<qn_ecma_accumulator, accumulator_deleter> accumulator_;
    qn_status status_ = QN_STATUS_SUCCESS;
    uint64_t frames_ = 0;
    std::vector<double> scratch_, kept_;
    value_list total_, specific_;
};

std::unique_ptr<reduction> make_reduction(const metric &m, const analysis_options &o, uint64_t expected_samples) {
    if (m.ecma == QN_ECMA_TONALITY) return std::make_unique<tonality_reduction>(m, o, expected_samples);
    return std::make_unique<band_reduction>(m, o, expected_samples);
}

struct outcome {
    bool ok = false;
    metric_result result;
    std::string error;
};

}  // namespace

// The two ears: frames of each side wait until the other side's frame of
// the same instant is in; then qn_ecma_binaural combines them and the
// combination is reduced. The sides run side by side on their own queues,
// a little apart at most (the file's blocks reach both at once), so that
// few frames wait.
class ecma_pair {
public:
    ecma_pair(const analysis_options &o, uint64_t expected_samples) {
        for (const metric *m : o.metrics)
            if (m->group == family::ecma && m->binaural)
                lanes_.push_back({m, {}, make_reduction(*m, o, expected_samples), {}});
    }

    bool empty() const { return lanes_.empty(); }

    void add(int side, const metric &m, const double *frames, uint64_t count) {
        std::lock_guard<std::mutex> hold(lock_);
        if (!error_.empty()) return;
        lane *l = lane_of(m);
        if (l == nullptr) return;
        try {
            l->waiting[side].insert(l->waiting[side].end(), frames, frames + count * bands);
            const std::size_t n = std::min(l->waiting[0].size(), l->waiting[1].size());
            if (n == 0) return;
            std::vector<double> both(n);
            const qn_status status = qn_ecma_binaural(l->waiting[0].data(), l->waiting[1].data(), n, both.data(), n);
            if (status != QN_STATUS_SUCCESS) {
                error_ = status_message(m.name, status);
                return;
            }
            for (std::vector<double> &w : l->waiting) w.erase(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(n));
            l->reduced->add(both.data(), n / bands);
        } catch (const std::bad_alloc &) {
            abandon_locked("out of memory");
        }
    }

    // A side's analysis has ended (finished or failed); the last one
    // finishes the combination.
    void end(int side) {
        std::lock_guard<std::mutex> hold(lock_);
        ended_[side] = true;
        if (!ended_[0] || !ended_[1] || !error_.empty()) return;
        for (lane &l : lanes_) {
            try {
                if (l.waiting[0].size() != l.waiting[1].size()) {
                    l.result.error = std::string(l.m->name) + ": the two channels gave different frames";
                    continue;
                }
                l.result.ok = l.reduced->finish(l.result.result, l.result.error);
            } catch (const std::bad_alloc &) {
                l.result = {false, {}, "out of memory"};
            }
            l.reduced.reset();
        }
    }

    // A side cannot deliver its frames: nothing is combined any more.
    void abandon(const std::string &reason) {
        std::lock_guard<std::mutex> hold(lock_);
        abandon_locked(reason);
    }

    bool result(const metric &m, metric_result &out, std::string &error) {
        std::lock_guard<std::mutex> hold(lock_);
        const lane *l = lane_of(m);
        if (!error_.empty() || l == nullptr || !l->result.ok) {
            error = !error_.empty() ? error_ : l != nullptr && !l->result.error.empty() ? l->result.error : "not analysed";
            return false;
        }
        out = l->result.result;
        return true;
    }

private:
    struct lane {
        const metric *m;
        std::vector<double> waiting[2];  // frames of each side not yet combined
        std::unique_ptr<reduction> reduced;
        outcome result;
    };

    lane *lane_of(const metric &m) {
        for (lane &l : lanes_)
            if (l.m == &m) return &l;
        return nullptr;
    }

    void abandon_locked(const std::string &reason) {
        if (error_.empty()) error_ = reason;
        for (lane &l : lanes_) {
            for (std::vector<double> &w : l.waiting) std::vector<double>().swap(w);
            l.reduced.reset();
        }
    }

    std::mutex lock_;
    std::vector<lane> lanes_;
    bool ended_[2] = {false, false};
    std::string error_;
};

namespace {

class ecma_analysis final : public analysis {
public:
    ecma_analysis(const analysis_options &o, uint64_t expected_samples, task_group &tasks,
                  std::shared_ptr<ecma_pair> pair, int side)
        : analysis(tasks), options_(o), expected_(expected_samples), pair_(std::move(pair)), side_(side) {
        for (const metric *m : o.metrics)
            if (m->group == family::ecma) {
                metrics_.push_back(m);
                longest_minimum_ = std::max(longest_minimum_, m->min_samples);
            }
        outcomes_.resize(metrics_.size());
    }

    ~ecma_analysis() override {
        // A side that never ended (its file failed) lets the other go.
        if (pair_ && !ended_) pair_->abandon("the analysis of a channel did not end");
    }

    void add(const block_ptr &block) override {
        if (failed()) return;
        try {
            samples_ += block->size();
            if (!stream_) {
                // The stream starts once every metric's shortest signal is
                // in, so that a channel too short for one metric still gets
                // the others (a stream refuses to finish a signal shorter
                // than any of its metrics'): up to 1.4 s are held till then.
                head_.insert(head_.end(), block->begin(), block->end());
                if (samples_ >= longest_minimum_) start();
                return;
            }
            feed(block->data(), block->size());
        } catch (const std::bad_alloc &) {
            fail("out of memory");
        }
    }

    void finish() override {
        try {
            if (!failed() && !stream_) start();
            if (!failed() && stream_) {
                const qn_status status = qn_ecma_stream_finish(stream_.get());
                if (status != QN_STATUS_SUCCESS) fail(status);
                drain();
            }
            if (!failed()) {
                for (std::size_t i = 0; i < metrics_.size(); ++i) {
                    if (!reductions_[i]) continue;
                    outcome &o = outcomes_[i];
                    o.ok = reductions_[i]->finish(o.result, o.error);
                    reductions_[i].reset();
                }
            }
        } catch (const std::bad_alloc &) {
            fail("out of memory");
        }
        stream_.reset();
        if (pair_) pair_->end(side_);
        ended_ = true;
    }

    bool result(const metric &m, metric_result &out, std::string &error) override {
        const auto it = std::find(metrics_.begin(), metrics_.end(), &m);
        const outcome *o = it == metrics_.end() ? nullptr : &outcomes_[static_cast<std::size_t>(it - metrics_.begin())];
        if (o == nullptr || !o->ok) {
            error = !error_.empty() ? error_ : o != nullptr && !o->error.empty() ? o->error : "out of memory";
            return false;
        }
        out = o->result;
        return true;
    }

private:
    bool failed() const { return !error_.empty(); }

    void fail(const std::string &reason) {
        if (failed()) return;
        error_ = reason;
        stream_.reset();
        reductions_.clear();
        std::vector<double>().swap(head_);
        if (pair_) pair_->abandon(reason);
    }
    void fail(qn_status status) { fail(qn_status_string(status)); }

    // Makes the stream for the metrics whose shortest signal is in, and
    // hands it what was held.
    void start() {
        qn_ecma_metric flags = 0;
        reductions_.resize(metrics_.size());
        for (std::size_t i = 0; i < metrics_.size(); ++i) {
            if (samples_ < metrics_[i]->min_samples) continue;  // reported too short by the channel
            flags |= metrics_[i]->ecma;
            reductions_[i] = make_reduction(*metrics_[i], options_, expected_);
        }
        if (flags == 0) return;
        qn_ecma_stream *s = nullptr;
        const qn_status status = qn_ecma_stream_create(QN_SAMPLE_RATE, options_.field, flags, &s);
        if (status != QN_STATUS_SUCCESS) {
            fail(status);
            return;
        }
        stream_.reset(s);
        std::vector<double> head;
        head.swap(head_);
        feed(head.data(), head.size());
    }

    void feed(const double *x, std::size_t n) {
        const qn_status status = qn_ecma_stream_add(stream_.get(), x, n);
        if (status != QN_STATUS_SUCCESS) {
            fail(status);
            return;
        }
        drain();
    }

    // Reads the frames the stream has completed into each metric's
    // reduction (and the pair).
    void drain() {
        for (std::size_t i = 0; i < metrics_.size() && !failed(); ++i) {
            if (!reductions_[i]) continue;
            const metric &m = *metrics_[i];
            const std::size_t width = values_per_frame(m);
            buffer_.resize(width * read_frames);
            for (;;) {
                uint64_t frames = 0;
                const qn_status status = qn_ecma_stream_read(stream_.get(), m.ecma, buffer_.data(), buffer_.size(), &frames);
                if (status != QN_STATUS_SUCCESS) {
                    fail(status);
                    return;
                }
                if (frames == 0) break;
                reductions_[i]->add(buffer_.data(), frames);
                if (pair_ && m.binaural) pair_->add(side_, m, buffer_.data(), frames);
            }
        }
    }

    const analysis_options &options_;
    const uint64_t expected_;
    std::shared_ptr<ecma_pair> pair_;
    const int side_;
    std::vector<const metric *> metrics_;  // the family's, in the order asked for
    uint64_t longest_minimum_ = 0;
    uint64_t samples_ = 0;
    std::vector<double> head_;
    std::unique_ptr<qn_ecma_stream, stream_deleter> stream_;
    std::vector<std::unique_ptr<reduction>> reductions_;  // parallel to metrics_; null: not analysed
    std::vector<double> buffer_;
    std::vector<outcome> outcomes_;
    std::string error_;
    bool ended_ = false;
};

}  // namespace

std::shared_ptr<ecma_pair> make_ecma_pair(const analysis_options &o, uint64_t expected_samples) {
    auto pair = std::make_shared<ecma_pair>(o, expected_samples);
    return pair->empty() ? nullptr : pair;
}

bool ecma_pair_result(ecma_pair &pair, const metric &m, metric_result &out, std::string &error) {
    return pair.result(m, out, error);
}

void abandon_ecma_pair(ecma_pair &pair, const std::string &reason) { pair.abandon(reason); }

std::unique_ptr<analysis> make_ecma_analysis(const analysis_options &o, uint64_t expected_samples, task_group &tasks,
                                             std::shared_ptr<ecma_pair> pair, int side) {
    return std::make_unique<ecma_analysis>(o, expected_samples, tasks, std::move(pair), side);
}

}  // namespace qnf
