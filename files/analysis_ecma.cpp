// The ECMA-418-2 metrics (tonality, roughness) of a channel: the channel is
// held whole at 48 kHz and analysed at the end, both metrics side by side.
#include <algorithm>
#include <new>

#include "analysis.h"
#include "statistics.h"

namespace qnf {

namespace {

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
            const tonality_summary summary = summarise_tonality(tonality, (static_cast<double>(QN_ECMA_TONAL_HOP) / QN_SAMPLE_RATE));
            const bool tonal = summary.max > 0;
            out.values.push_back({"tonality", summary.value, "tu_HMS"});
            out.values.push_back({"max", summary.max, "tu_HMS"});
            out.values.push_back({"strongest_rate", tonal ? 0.5 * (strongest_band[summary.frame] + 1) : 0.0, "Bark"});
            out.values.push_back({"strongest_frequency", tonal ? strongest_frequency[summary.frame] : 0.0, "Hz"});
            frame_statistics stats(metric_of(metric_id::tonality_ecma), o.statistics, frames);
            for (double t : tonality) stats.add(t);
            if (!finish_statistics(stats, o.statistics, out)) {
                error = out.statistics_error;
                return false;
            }
            if (o.series) {
                const axis times = time_axis(frames, 0.0, (static_cast<double>(QN_ECMA_TONAL_HOP) / QN_SAMPLE_RATE));
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
            double single = 0;
            if (const qn_status s = ecma_roughness_value(total, single); s != QN_STATUS_SUCCESS) {
                error = status_message("roughness-ecma", s);
                return false;
            }
            out.values.push_back({"roughness", single, "asper"});
            frame_statistics stats(metric_of(metric_id::roughness_ecma), o.statistics, frames);
            for (double r : total) stats.add(r);
            if (!finish_statistics(stats, o.statistics, out)) {
                error = out.statistics_error;
                return false;
            }
            if (o.series) {
                const axis times = time_axis(total.size(), 0.0, (static_cast<double>(QN_ECMA_ROUGHNESS_HOP) / QN_SAMPLE_RATE));
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
            const metric_id kind = i == 0 ? metric_id::tonality_ecma : metric_id::roughness_ecma;
            if (!options_.selected(kind)) continue;
            outcome *o = &outcomes_[i];
            tasks_.post([this, x, kind, o] {
                try {
                    o->ok = kind == metric_id::tonality_ecma ? tonality_ecma(*x, options_, o->result, o->error)
                                                               : roughness_ecma(*x, options_, o->result, o->error);
                } catch (const std::bad_alloc &) {
                    o->ok = false;
                    o->result = {};
                    o->error = "out of memory";
                }
            });
        }
    }

    bool result(const metric &m, metric_result &out, std::string &error) override {
        const outcome &o = outcomes_[m.id == metric_id::tonality_ecma ? 0 : 1];
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

std::unique_ptr<analysis> make_ecma_analysis(const analysis_options &o, uint64_t expected_samples,
                                             task_group &tasks) {
    return std::make_unique<ecma_analysis>(o, expected_samples, tasks);
}

}  // namespace qnf
