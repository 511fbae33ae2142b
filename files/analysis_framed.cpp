// The framed metrics (Daniel & Weber roughness, Aures tonality) of a
// channel as its blocks come: windows of whole frames that overlap by a
// frame less a hop go to tasks of their own, any thread computing each
// frame from its own samples as a call on the whole signal does.
#include <deque>
#include <mutex>
#include <new>

#include "analysis.h"
#include "statistics.h"

namespace qnf {

namespace {

// Samples a task holds at most: its frames' windows, about 2.4 MB.
constexpr std::size_t task_samples = 300000;

class framed_analysis final : public analysis {
public:
    framed_analysis(const metric &m, const analysis_options &o, task_group &tasks)
        : analysis(tasks),
          tasks_(tasks),
          metric_(m),
          field_(o.field),
          series_(o.series),
          statistics_(o.statistics),
          length_(static_cast<std::size_t>(m.frame_length)),
          hop_(static_cast<std::size_t>(m.hop)),
          batch_((task_samples - length_) / hop_ + 1) {}

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

    bool result(const metric &m, metric_result &out, std::string &error) override {
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
                    error = status_message(m.name, b.status);
                    if (m.id == metric_id::tonality_aures && b.status == QN_STATUS_NUMERICAL_FAILURE)
                        error += " (a very loud low-frequency sound, above 120 dB in a third-octave band up to 250 "
                                 "Hz, is beyond the loudness model)";
                    return false;
                }
                values.insert(values.end(), b.values.begin(), b.values.end());
            }
        }
        // The statistics over the frames; each frame's value belongs to its
        // centre, (hop k + length / 2) / 48000 s.
        frame_statistics stats(m, statistics_, values.size());
        for (double v : values) stats.add(v);
        if (!finish_statistics(stats, statistics_, out)) {
            error = out.statistics_error;
            return false;
        }
        if (series_)
            out.series_list.push_back(
                {m.series[0].name, m.series[0].unit, {time_axis(m, values.size())}, value_list(std::move(values))});
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
            b.status = metric_.id == metric_id::roughness_dw
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
    const metric &metric_;
    const qn_sound_field field_;
    const bool series_;
    const statistics_settings statistics_;
    const std::size_t length_, hop_, batch_;  // samples, samples, frames per task
    std::vector<double> window_;        // from the first frame not yet handed out
    std::mutex lock_;
    std::deque<batch> batches_;
    std::string failure_;
};

}  // namespace

std::unique_ptr<analysis> make_framed_analysis(const metric &m, const analysis_options &o, task_group &tasks) {
    return std::make_unique<framed_analysis>(m, o, tasks);
}

}  // namespace qnf
