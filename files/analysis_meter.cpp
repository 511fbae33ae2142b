// ISO 532-1 loudness, time-varying loudness and sharpness of a channel from
// one pass of the library's loudness meter, which gives the 2 ms frames as
// they complete and the stationary loudness at the end. The statistics over
// frames keep one value per frame (8 bytes per 2 ms) where percentiles are
// asked for; the specific-loudness patterns are computed only where
// something reads them.
#include <algorithm>
#include <new>

#include "analysis.h"
#include "statistics.h"

namespace qnf {

namespace {

struct meter_closer {
    void operator()(qn_loudness_meter *m) const { qn_loudness_meter_destroy(m); }
};

class meter_analysis final : public analysis {
public:
    meter_analysis(const analysis_options &o, uint64_t expected_samples, task_group &tasks)
        : analysis(tasks),
          series_(o.series),
          statistics_(o.statistics),
          totals_wanted_(o.selected(metric_id::loudness_time)),
          sharpness_wanted_(o.selected(metric_id::sharpness)),
          weighting_(o.sharpness_weighting),
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
        const uint64_t frames = expected_samples > 0 ? (expected_samples - 1) / QN_LOUDNESS_TIME_HOP + 1 : 0;
        if (totals_wanted_) loudness_stats_ = frame_statistics(metric_of(metric_id::loudness_time), o.statistics, frames);
        if (sharpness_wanted_) sharpness_stats_ = frame_statistics(metric_of(metric_id::sharpness), o.statistics, frames);
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
                if (totals_wanted_) finish_statistics(loudness_stats_, statistics_, loudness_result_);
                if (sharpness_wanted_) finish_statistics(sharpness_stats_, statistics_, sharpness_result_);
            }
            loudness_stats_ = {};
            sharpness_stats_ = {};
            meter_.reset();
        } catch (const std::bad_alloc &) {
            fail();
        }
    }

    bool result(const metric &m, metric_result &out, std::string &error) override {
        if (!failure_.empty()) {
            error = failure_;
            return false;
        }
        if (m.id == metric_id::loudness) {
            if (!stationary_error_.empty()) {
                error = stationary_error_;
                return false;
            }
            out.values.push_back({"loudness", stationary_, "sone"});
            add_pattern_values(stationary_specific_, out);
            if (series_)
                out.series_list.push_back({"specific_loudness", "sone/Bark", {bark_axis()},
                                           value_list(stationary_specific_)});
            return true;
        }
        if (m.id == metric_id::loudness_time) {
            if (!time_error_.empty()) {
                error = time_error_;
                return false;
            }
            if (!loudness_result_.statistics_error.empty()) {
                error = loudness_result_.statistics_error;
                return false;
            }
            out.statistics = loudness_result_.statistics;
            if (series_) {
                const axis times = time_axis(m, frames_);
                out.series_list.push_back({"loudness", "sone", {times}, loudness_series_});
                out.series_list.push_back({"specific_loudness", "sone/Bark", {times, bark_axis()}, specific_series_});
            }
            return true;
        }
        // Sharpness: of the stationary pattern, then of every frame's.
        if (!stationary_error_.empty()) {
            error = stationary_error_;
            return false;
        }
        double value = 0;
        const qn_status status = qn_sharpness(stationary_specific_.data(), QN_BARK_POINTS, weighting_, &value);
        if (status != QN_STATUS_SUCCESS) {
            error = status_message("sharpness", status);
            return false;
        }
        if (!time_error_.empty() || !sharpness_error_.empty() || !sharpness_result_.statistics_error.empty()) {
            error = !time_error_.empty() ? time_error_
                    : !sharpness_error_.empty() ? sharpness_error_
                                                : sharpness_result_.statistics_error;
            return false;
        }
        out.values.push_back({"sharpness", value, "acum"});
        out.statistics = sharpness_result_.statistics;
        if (series_) out.series_list.push_back({"sharpness", "acum", {time_axis(m, frames_)}, sharpness_series_});
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
                loudness_stats_.add(n_f, n_f);
                if (series_) {
                    loudness_series_.push_back(n_f);
                    specific_series_.append({pattern, QN_BARK_POINTS});
                }
            }
            if (sharpness_wanted_ && sharpness_error_.empty()) {
                double s = 0;
                const qn_status st = qn_sharpness(pattern, QN_BARK_POINTS, weighting_, &s);
                if (st != QN_STATUS_SUCCESS) {
                    sharpness_error_ = status_message("sharpness", st);
                } else {
                    sharpness_stats_.add(s, n_f);
                    if (series_) sharpness_series_.push_back(s);
                }
            }
        }
        frames_ += frames;
    }

    void fail() {
        failure_ = "out of memory";
        loudness_stats_ = {};
        sharpness_stats_ = {};
        meter_.reset();
    }

    const bool series_;
    const statistics_settings statistics_;
    const bool totals_wanted_, sharpness_wanted_;
    const qn_sharpness_weighting weighting_;
    bool patterns_ = false;
    std::unique_ptr<qn_loudness_meter, meter_closer> meter_;
    std::vector<double> loudness_, specific_;  // one call's frames
    uint64_t frames_ = 0;
    // The statistics over frames of the loudness and the sharpness, and
    // theirs once the frames are in.
    frame_statistics loudness_stats_, sharpness_stats_;
    metric_result loudness_result_, sharpness_result_;
    value_list loudness_series_, specific_series_, sharpness_series_;
    double stationary_ = 0;
    std::vector<double> stationary_specific_;
    std::string failure_, time_error_, sharpness_error_, stationary_error_;
};

}  // namespace

std::unique_ptr<analysis> make_meter_analysis(const analysis_options &o, uint64_t expected_samples,
                                              task_group &tasks) {
    return std::make_unique<meter_analysis>(o, expected_samples, tasks);
}

}  // namespace qnf
