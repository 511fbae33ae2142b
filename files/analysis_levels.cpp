// The sound levels (IEC 61672-1) and the third-octave band levels of a
// channel, from one pass of the library's sound level meter and band-level
// meter. Both meters hold only their filters' running state; what grows
// with the channel is the series asked for (spooled) and, for the
// percentile levels, one LAF value per 10 ms.
#include <algorithm>
#include <new>

#include "analysis.h"
#include "statistics.h"

namespace qnf {

namespace {

struct sound_meter_closer {
    void operator()(qn_sound_level_meter *m) const { qn_sound_level_meter_destroy(m); }
};
struct band_meter_closer {
    void operator()(qn_band_level_meter *m) const { qn_band_level_meter_destroy(m); }
};

class levels_analysis final : public analysis {
public:
    levels_analysis(const analysis_options &o, uint64_t expected_samples, task_group &tasks)
        : analysis(tasks),
          series_(o.series),
          statistics_(o.statistics),
          band_step_(o.band_step),
          laf_series_(new_series(o)),
          las_series_(new_series(o)),
          band_series_(new_series(o)) {
        if (o.selected(metric_id::spl)) {
            qn_sound_level_meter *m = nullptr;
            const qn_status status = qn_sound_level_meter_create(QN_SAMPLE_RATE, &m);
            sound_.reset(m);
            if (status != QN_STATUS_SUCCESS) spl_error_ = status_message("spl", status);
            const uint64_t points = expected_samples / QN_SOUND_LEVEL_STEP;
            spl_stats_ = frame_statistics(metric_of(metric_id::spl), o.statistics, points);
        }
        if (o.selected(metric_id::band_levels)) {
            qn_band_level_meter *m = nullptr;
            const qn_status status = qn_band_level_meter_create(QN_SAMPLE_RATE, band_step_, &m);
            bands_.reset(m);
            if (status != QN_STATUS_SUCCESS) band_error_ = status_message("levels", status);
        }
    }

    void add(const block_ptr &block) override {
        if (!failure_.empty()) return;
        try {
            const std::vector<double> &x = *block;
            for (std::size_t at = 0; at < x.size(); at += piece) {
                const std::size_t n = std::min(piece, x.size() - at);
                if (sound_ && spl_error_.empty()) add_sound(x.data() + at, n);
                if (bands_ && band_error_.empty()) add_bands(x.data() + at, n);
            }
        } catch (const std::bad_alloc &) {
            fail();
        }
    }

    void finish() override {
        if (!failure_.empty()) return;
        try {
            if (sound_ && spl_error_.empty()) {
                const qn_status status = qn_sound_level_meter_levels(sound_.get(), spl_, QN_SOUND_LEVELS);
                if (status != QN_STATUS_SUCCESS) spl_error_ = status_message("spl", status);
                else finish_statistics(spl_stats_, statistics_, spl_result_);
            }
            if (bands_ && band_error_.empty()) {
                const qn_status status = qn_band_level_meter_levels(bands_.get(), band_, QN_THIRD_OCTAVE_BANDS);
                if (status != QN_STATUS_SUCCESS) band_error_ = status_message("levels", status);
            }
            spl_stats_ = {};
            sound_.reset();
            bands_.reset();
        } catch (const std::bad_alloc &) {
            fail();
        }
    }

    bool result(const metric &m, metric_result &out, std::string &error) override {
        if (!failure_.empty()) {
            error = failure_;
            return false;
        }
        if (m.id == metric_id::spl) {
            error = !spl_error_.empty() ? spl_error_ : spl_result_.statistics_error;
            if (!error.empty()) return false;
            // The own values in the order of the descriptor, which is the
            // order of the meter's QN_LEVEL_ indices.
            for (int i = 0; i < QN_SOUND_LEVELS; ++i) out.values.push_back({m.quantities[i].name, spl_[i], "dB"});
            out.statistics = spl_result_.statistics;
            if (series_) {
                const axis times = time_axis(m, points_);
                out.series_list.push_back({"LAF", "dB", {times}, laf_series_});
                out.series_list.push_back({"LAS", "dB", {times}, las_series_});
            }
            return true;
        }
        if (!band_error_.empty()) {
            error = band_error_;
            return false;
        }
        for (int b = 0; b < QN_THIRD_OCTAVE_BANDS; ++b) out.values.push_back({m.quantities[b].name, band_[b], "dB"});
        if (series_) {
            out.series_list.push_back(
                {"spectrum", "dB", {third_octave_axis()}, value_list(std::vector<double>(band_, band_ + QN_THIRD_OCTAVE_BANDS))});
            // Interval k covers samples k step ... (k + 1) step - 1 and
            // stands for its centre.
            const double step_s = static_cast<double>(band_step_) / QN_SAMPLE_RATE;
            out.series_list.push_back(
                {"band_levels", "dB", {time_axis(intervals_, 0.5 * step_s, step_s), third_octave_axis()}, band_series_});
        }
        return true;
    }

private:
    // Samples per call of the meters: 100 LAF points, and the band
    // intervals of a second.
    static constexpr std::size_t piece = 48000;

    void add_sound(const double *x, std::size_t n) {
        uint64_t points = 0;
        qn_status status = qn_sound_level_meter_point_count(sound_.get(), n, &points);
        if (status == QN_STATUS_SUCCESS) {
            laf_.resize(static_cast<std::size_t>(points));
            las_.resize(series_ ? laf_.size() : 0);
            status = qn_sound_level_meter_add(sound_.get(), x, n, laf_.data(), laf_.size(),
                                              series_ ? las_.data() : nullptr, las_.size(), &points);
        }
        if (status != QN_STATUS_SUCCESS) {
            spl_error_ = status_message("spl", status);
            return;
        }
        for (double v : laf_) spl_stats_.add(v);
        if (series_) {
            laf_series_.append(laf_);
            las_series_.append(las_);
        }
        points_ += points;
    }

    void add_bands(const double *x, std::size_t n) {
        uint64_t points = 0;
        qn_status status = qn_band_level_meter_point_count(bands_.get(), n, &points);
        if (status == QN_STATUS_SUCCESS) {
            // The intervals are counted whether or not their levels are kept.
            bands_series_.resize(series_ ? static_cast<std::size_t>(points) * QN_THIRD_OCTAVE_BANDS : 0);
            status = qn_band_level_meter_add(bands_.get(), x, n, series_ ? bands_series_.data() : nullptr,
                                             bands_series_.size(), &points);
        }
        if (status != QN_STATUS_SUCCESS) {
            band_error_ = status_message("levels", status);
            return;
        }
        if (series_) band_series_.append(bands_series_);
        intervals_ += points;
    }

    void fail() {
        failure_ = "out of memory";
        spl_stats_ = {};
        sound_.reset();
        bands_.reset();
    }

    const bool series_;
    const statistics_settings statistics_;
    const uint64_t band_step_;
    std::unique_ptr<qn_sound_level_meter, sound_meter_closer> sound_;
    std::unique_ptr<qn_band_level_meter, band_meter_closer> bands_;
    std::vector<double> laf_, las_, bands_series_;  // one call's points
    uint64_t points_ = 0, intervals_ = 0;
    frame_statistics spl_stats_;  // over the LAF points: the percentile levels
    metric_result spl_result_;
    value_list laf_series_, las_series_, band_series_;
    double spl_[QN_SOUND_LEVELS] = {};
    double band_[QN_THIRD_OCTAVE_BANDS] = {};
    std::string failure_, spl_error_, band_error_;
};

}  // namespace

std::unique_ptr<analysis> make_levels_analysis(const analysis_options &o, uint64_t expected_samples,
                                               task_group &tasks) {
    return std::make_unique<levels_analysis>(o, expected_samples, tasks);
}

}  // namespace qnf
