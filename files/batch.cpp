#include "batch.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

#include "channel_analysis.h"
#include "failure.h"
#include "source.h"

namespace qnf {

namespace {

// The events of a run, one call at a time.
class events_out {
public:
    explicit events_out(const event_sink &sink) : sink_(sink) {}
    void send(uint64_t file, int32_t event, uint64_t read, uint64_t frames, int rate, const char *text = nullptr) {
        if (sink_.fn == nullptr) return;
        std::lock_guard<std::mutex> hold(lock_);
        sink_.fn(sink_.user, file, event, read, frames, rate, text);
    }

private:
    const event_sink sink_;
    std::mutex lock_;
};

// The channels of a file (or a signal) being analysed: one analysis each,
// fed the de-interleaved blocks.
class channel_set {
public:
    channel_set(const analysis_options &options, int channels, int sample_rate, uint64_t frames,
                task_group &tasks)
        : options_(options), stride_(static_cast<std::size_t>(channels)) {
        for (int ch = 0; ch < channels; ++ch) {
            if (options.channel != 0 && ch + 1 != options.channel) continue;
            const channel_input in{sample_rate, options.cal.factor(ch), resampled_length(frames, sample_rate)};
            numbers_.push_back(ch);
            analyses_.push_back(std::make_unique<channel_analysis>(options, in, tasks));
        }
    }

    void post(const double *interleaved, std::size_t frames) {
        for (std::size_t k = 0; k < analyses_.size(); ++k) {
            std::vector<double> x(frames);
            const auto ch = static_cast<std::size_t>(numbers_[k]);
            for (std::size_t i = 0; i < frames; ++i) x[i] = interleaved[i * stride_ + ch];
            analyses_[k]->post_block(std::move(x));
        }
    }
    void end() {
        for (auto &c : analyses_) c->post_end();
    }
    void cancel() {
        for (auto &c : analyses_) c->cancel();
    }
    void report(std::vector<qnf_channel_result> &out) {
        for (std::size_t k = 0; k < analyses_.size(); ++k) {
            qnf_channel_result &c = out.emplace_back();
            c.channel = numbers_[k] + 1;
            c.calibration = options_.cal.describe(numbers_[k]);
            analyses_[k]->report(c);
        }
    }

private:
    const analysis_options &options_;
    const std::size_t stride_;
    std::vector<int> numbers_;  // the channels analysed, from 0
    std::vector<std::unique_ptr<channel_analysis>> analyses_;
};

void fail(qnf_file_result &r, qnf_status status, std::string error) noexcept {
    r.status = status;
    r.error = std::move(error);
    r.channels.clear();
}

// The same from a catch handler, where even the reason may not be made.
void fail_here(qnf_file_result &r) noexcept {
    r.channels.clear();
    try {
        throw;
    } catch (const std::bad_alloc &) {
    } catch (const std::exception &e) {
        r.status = QNF_STATUS_UNREADABLE;
        set_reason(r.error, e.what());
        return;
    } catch (...) {
    }
    r.status = QN_STATUS_ALLOCATION_FAILED;
    r.error = out_of_memory;
}

void analyse_into(qnf_file_result &report, std::size_t index, const std::string &path,
                  const analysis_options &options, memory_budget &budget, work_pool &pool, events_out &events) {
    source src;
    std::string error;
    if (const qnf_status status = open_source(path, options, budget, src, error); status != QN_STATUS_SUCCESS) {
        fail(report, status, std::move(error));
        return;
    }
    const audio_format format = src.format();
    report.format.sample_rate = format.sample_rate;
    report.format.channels = format.channels;
    report.format.resampled = src.resampled ? 1 : 0;
    report.format.channels_read = options.channel == 0 ? format.channels : 1;
    report.format.first_channel = options.channel == 0 ? 1 : options.channel;
    if (src.resampled) {
        const std::string notice = "resampling from " + std::to_string(format.sample_rate) + " Hz to 48000 Hz";
        events.send(index, QNF_EVENT_NOTICE, 0, format.frames, format.sample_rate, notice.c_str());
    }

    task_group tasks(pool);
    channel_set channels(options, format.channels, format.sample_rate, format.frames, tasks);
    events.send(index, QNF_EVENT_STARTED, 0, format.frames, format.sample_rate);
    std::vector<double> block;
    bool ok = true;
    for (;;) {
        if (!src.reader.read(UINT64_MAX, block, error)) {
            ok = false;
            break;
        }
        if (block.empty()) break;
        channels.post(block.data(), block.size() / static_cast<std::size_t>(format.channels));
        events.send(index, QNF_EVENT_READ, src.reader.frames_read(), format.frames, format.sample_rate);
        tasks.wait_below(in_flight_bytes);
    }
    if (ok) ok = src.reader.finish(error);
    if (!ok) {
        channels.cancel();
        tasks.wait_idle();
        fail(report, src.reader.status(), std::move(error));
        return;
    }
    channels.end();
    tasks.wait_idle();

    report.format.frames = src.reader.frames_read();
    report.duration_s = static_cast<double>(src.reader.frames_read()) / format.sample_rate;
    channels.report(report.channels);
}

qnf_file_result analyse_one(const std::string &path, std::size_t index, const analysis_options &options,
                            memory_budget &budget, work_pool &pool, events_out &events) noexcept {
    qnf_file_result report;
    try {
        report.path = path;
        analyse_into(report, index, path, options, budget, pool, events);
    } catch (...) {
        fail_here(report);
    }
    return report;
}

}  // namespace

std::vector<qnf_file_result> analyse_files(const std::vector<std::string> &paths, const analysis_options &options,
                                           int jobs, memory_budget &budget, const event_sink &sink) noexcept {
    std::vector<qnf_file_result> reports;
    try {
        reports.resize(paths.size());
        events_out events(sink);
        work_pool pool(threads_within_address_space(std::clamp(jobs, 1, max_jobs)));
        for (std::size_t i = 0; i < paths.size(); ++i) {
            pool.post_job([&, i] {
                reports[i] = analyse_one(paths[i], i, options, budget, pool, events);
                events.send(i, QNF_EVENT_FINISHED, reports[i].format.frames, reports[i].format.frames,
                            reports[i].format.sample_rate);
            });
        }
        pool.run();
    } catch (...) {
        // The run could not go on: the files not done have that reason.
        try {
            reports.resize(paths.size());
            for (std::size_t i = 0; i < paths.size(); ++i) {
                if (!reports[i].path.empty()) continue;
                reports[i].path = paths[i];
                fail(reports[i], QN_STATUS_ALLOCATION_FAILED, out_of_memory);
            }
        } catch (...) {
        }
    }
    return reports;
}

qnf_file_result analyse_signal(const double *samples, uint64_t frames, int channels, int sample_rate,
                               const std::string &name, const analysis_options &options, int jobs) noexcept {
    qnf_file_result report;
    try {
        report.path = name;
        if (sample_rate < min_sample_rate || sample_rate > max_sample_rate) {
            fail(report, QNF_STATUS_UNSUPPORTED,
                 "sample rate " + std::to_string(sample_rate) + " Hz is outside the " +
                     std::to_string(min_sample_rate) + " ... " + std::to_string(max_sample_rate) +
                     " Hz that can be read");
            return report;
        }
        if (options.channel > channels) {
            fail(report, QNF_STATUS_UNSUPPORTED,
                 "has " + std::to_string(channels) + " channel(s), channel " + std::to_string(options.channel) +
                     " asked for");
            return report;
        }
        if (sample_rate != QN_SAMPLE_RATE && !options.resample) {
            fail(report, QNF_STATUS_UNSUPPORTED,
                 "sample rate " + std::to_string(sample_rate) +
                     " Hz; the metrics need 48000 Hz (resampling is off: --no-resample)");
            return report;
        }
        report.format = {sample_rate, channels, frames, sample_rate != QN_SAMPLE_RATE ? 1 : 0,
                         options.channel == 0 ? channels : 1, options.channel == 0 ? 1 : options.channel};
        report.duration_s = static_cast<double>(frames) / sample_rate;
        work_pool pool(threads_within_address_space(std::clamp(jobs, 1, max_jobs)));
        task_group tasks(pool);
        channel_set set(options, channels, sample_rate, frames, tasks);
        // Blocks of about 64k samples, as a file is read.
        const uint64_t block = std::max<uint64_t>(1, 65536 / static_cast<uint64_t>(channels));
        for (uint64_t at = 0; at < frames; at += block) {
            set.post(samples + at * static_cast<uint64_t>(channels),
                     static_cast<std::size_t>(std::min(block, frames - at)));
            tasks.wait_below(in_flight_bytes);
        }
        set.end();
        tasks.wait_idle();
        set.report(report.channels);
    } catch (...) {
        fail_here(report);
    }
    return report;
}

}  // namespace qnf
