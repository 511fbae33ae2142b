#include "channel_analysis.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <new>

#include "audio.h"
#include "calibration.h"

namespace qnf {

namespace {

std::string seconds(uint64_t samples) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", static_cast<double>(samples) / 48000.0);
    return text;
}

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

}  // namespace

bool analysis_options::selected(metric_id id) const {
    return std::any_of(metrics.begin(), metrics.end(), [&](const metric *m) { return m->id == id; });
}

bool analysis_options::selected(family group) const {
    return std::any_of(metrics.begin(), metrics.end(), [&](const metric *m) { return m->group == group; });
}

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
    // One analysis per family asked for (the framed metrics each have
    // their own frames), and the metric each selected metric reads from.
    std::vector<std::unique_ptr<analysis>> all;
    std::vector<analysis *> for_metric;  // parallel to options.metrics

    // Calibrates and checks 48 kHz samples and hands them to every analysis.
    void pass_on(std::vector<double> x) {
        if (!calibrate(x, input.factor, samples, input_error)) return;
        samples += x.size();
        if (x.empty()) return;
        const block_ptr block = std::make_shared<const std::vector<double>>(std::move(x));
        for (const auto &a : all) {
            analysis *target = a.get();
            tasks.post(target->queue(), [target, block] { target->add(block); }, 8 * block->size());
        }
    }

    void take(std::vector<double> &raw) {
        if (cancelled || !input_error.empty()) return;
        try {
            std::vector<double> x;
            if (resampling.process(raw, x, input_error)) {
                raw = {};
                pass_on(std::move(x));
            }
        } catch (const std::bad_alloc &) {
            input_error = "out of memory";
        }
        abandon_pair_on_error();
    }

    void end() {
        if (cancelled || !input_error.empty()) return;
        try {
            std::vector<double> x;
            if (resampling.finish(x, input_error)) pass_on(std::move(x));
            if (input_error.empty())
                for (const auto &a : all) {
                    analysis *target = a.get();
                    tasks.post(target->queue(), [target] { target->finish(); });
                }
        } catch (const std::bad_alloc &) {
            input_error = "out of memory";
        }
        abandon_pair_on_error();
    }

    // A channel whose input failed delivers no more frames to its pair,
    // whose other side must not wait for them.
    void abandon_pair_on_error() {
        if (!input_error.empty() && input.pair)
            abandon_ecma_pair(*input.pair, "channel " + std::to_string(input.side + 1) + " failed");
    }
};

channel_analysis::channel_analysis(const analysis_options &options, const channel_input &input, task_group &tasks)
    : state_(std::make_unique<state>(options, input, tasks)) {
    state &s = *state_;
    s.resampling.start(input.sample_rate, s.input_error);
    const uint64_t expected = input.expected_samples;
    analysis *meter = nullptr, *ecma = nullptr, *levels = nullptr;
    for (const metric *m : options.metrics) {
        analysis *a = nullptr;
        switch (m->group) {
        case family::loudness_meter:
            if (meter == nullptr) meter = s.all.emplace_back(make_meter_analysis(options, expected, tasks)).get();
            a = meter;
            break;
        case family::framed: a = s.all.emplace_back(make_framed_analysis(*m, options, tasks)).get(); break;
        case family::ecma:
            if (ecma == nullptr)
                ecma = s.all.emplace_back(make_ecma_analysis(options, expected, tasks, input.pair, input.side)).get();
            a = ecma;
            break;
        case family::levels:
            if (levels == nullptr) levels = s.all.emplace_back(make_levels_analysis(options, expected, tasks)).get();
            a = levels;
            break;
        }
        s.for_metric.push_back(a);
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

void channel_analysis::report(qnf_channel_result &out) {
    const state &s = *state_;
    if (!s.input_error.empty()) {
        out.error = s.input_error;
        return;
    }
    for (std::size_t i = 0; i < s.options.metrics.size(); ++i) {
        const metric &m = *s.options.metrics[i];
        qnf_metric_result &r = out.metrics.emplace_back();
        r.name = m.name;
        if (s.samples < m.min_samples) {
            r.error = "too short: " + seconds(s.samples) + ", needs at least " + seconds(m.min_samples);
            continue;
        }
        metric_result values;
        std::string error;
        try {
            if (s.for_metric[i]->result(m, values, error) && (error = series_error(values)).empty()) {
                r.values = quoted_values(m, s.options.statistics, values);
                for (series &x : values.series_list) {
                    complete_series(m, x, s.input.start_s);
                    r.series_list.emplace_back(std::move(x));
                }
                continue;
            }
        } catch (const std::bad_alloc &) {
            r.values.clear();
            r.series_list.clear();
            error = "out of memory";
        }
        r.error = without_own_name(m.name, std::move(error));
    }
}

void report_binaural(const analysis_options &options, ecma_pair &pair, const qnf_channel_result &left,
                     const qnf_channel_result &right, double start_s, qnf_channel_result &out) {
    out.channel = 0;
    for (const metric *m : options.metrics) {
        if (m->group != family::ecma || !m->binaural) continue;
        qnf_metric_result &r = out.metrics.emplace_back();
        r.name = m->name;
        // Either ear's failure is the combination's.
        for (const qnf_channel_result *c : {&left, &right}) {
            std::string why = c->error.empty() ? std::string() : "input: " + c->error;
            for (const qnf_metric_result &x : c->metrics)
                if (why.empty() && x.name == m->name && !x.error.empty()) why = x.error;
            if (!why.empty()) {
                r.error = "channel " + std::to_string(c->channel) + ": " + why;
                break;
            }
        }
        if (!r.error.empty()) continue;
        metric_result values;
        std::string error;
        try {
            if (ecma_pair_result(pair, *m, values, error) && (error = series_error(values)).empty()) {
                r.values = quoted_values(*m, options.statistics, values);
                for (series &x : values.series_list) {
                    complete_series(*m, x, start_s);
                    // Its own variable in a series file, beside the channels'.
                    x.variable = std::string(m->name) + ".binaural." + x.name;
                    r.series_list.emplace_back(std::move(x));
                }
                continue;
            }
        } catch (const std::bad_alloc &) {
            r.values.clear();
            r.series_list.clear();
            error = "out of memory";
        }
        r.error = without_own_name(m->name, std::move(error));
    }
}

void analyse_channel(const std::vector<double> &x, const analysis_options &options, qnf_channel_result &out,
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

}  // namespace qnf
