#include "batch.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>

#include "channel_analysis.h"
#include "failure.h"
#include "series_file.h"
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
    // `frames`: those of the stretch analysed, as far as the header tells;
    // `start_s`: where it begins in the file.
    channel_set(const analysis_options &options, int channels, int sample_rate, uint64_t frames, double start_s,
                task_group &tasks)
        : options_(options), stride_(static_cast<std::size_t>(channels)), start_s_(start_s) {
        const uint64_t expected = resampled_length(frames, sample_rate);
        // Two channels analysed are the ears of a head recording, unless
        // the options say otherwise.
        if (channels == 2 && options.channel == 0 && options.binaural) pair_ = make_ecma_pair(options, expected);
        for (int ch = 0; ch < channels; ++ch) {
            if (options.channel != 0 && ch + 1 != options.channel) continue;
            const channel_input in{sample_rate, options.cal.factor(ch), expected, start_s, pair_, ch};
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
    // The channels' results, and the binaural one of a head recording.
    void report(qnf_file_result &out) {
        for (std::size_t k = 0; k < analyses_.size(); ++k) {
            qnf_channel_result &c = out.channels.emplace_back();
            c.channel = numbers_[k] + 1;
            c.calibration = options_.cal.describe(numbers_[k]);
            analyses_[k]->report(c);
        }
        if (pair_ && out.channels.size() == 2) {
            qnf_channel_result &b = out.binaural.emplace_back();
            report_binaural(options_, *pair_, out.channels[0], out.channels[1], start_s_, b);
            b.calibration = calibration_summary(out);
        }
    }

private:
    const analysis_options &options_;
    const std::size_t stride_;
    const double start_s_;
    std::shared_ptr<ecma_pair> pair_;  // before the analyses, which use it
    std::vector<int> numbers_;  // the channels analysed, from 0
    std::vector<std::unique_ptr<channel_analysis>> analyses_;
};

void fail(qnf_file_result &r, qnf_status status, std::string error) noexcept {
    r.status = status;
    r.error = std::move(error);
    r.channels.clear();
    r.binaural.clear();
}

// The same from a catch handler, where even the reason may not be made.
void fail_here(qnf_file_result &r) noexcept {
    r.channels.clear();
    r.binaural.clear();
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

// Why a stretch holds no frame of a file of `frames` frames.
std::string outside_text(const stretch &st, uint64_t frames, int rate) {
    char text[200];
    if (st.end <= st.first)
        std::snprintf(text, sizeof text, "--start %.9g s and --end %.9g s hold no frame at %d Hz",
                      static_cast<double>(st.first) / rate, static_cast<double>(st.end) / rate, rate);
    else
        std::snprintf(text, sizeof text, "--start %.9g s lies at or beyond the end of the file (%.9g s)",
                      static_cast<double>(st.first) / rate, static_cast<double>(frames) / rate);
    return text;
}

// Writes the file's series file once its results are made, and drops the
// series from the results when only the file was asked for.
void write_series_of(qnf_file_result &report, const analysis_options &options, const std::string &name) {
    if (options.series_dir.empty() || !report.error.empty()) return;
    const std::string path = options.series_dir + (options.series_dir.back() == '/' ? "" : "/") + name;
    std::string error;
    if (write_series_file(report, path, {options.field == QN_SOUND_FIELD_DIFFUSE ? "diffuse" : "free"}, error))
        report.series_file = path;
    else
        report.series_error = "series file " + path + ": " + error;
    if (!options.keep_series) {
        for (qnf_channel_result &c : report.channels)
            for (qnf_metric_result &m : c.metrics) m.series_list.clear();
        for (qnf_channel_result &c : report.binaural)
            for (qnf_metric_result &m : c.metrics) m.series_list.clear();
    }
}

void analyse_into(qnf_file_result &report, std::size_t index, const std::string &path,
                  const analysis_options &run_options, const std::string &series_name, memory_budget &budget,
                  work_pool &pool, events_out &events) {
    // A file whose series go to a series file only has a spool of its own,
    // which goes with its series once the file is written.
    analysis_options options = run_options;
    if (options.series && !options.keep_series) options.spool = std::make_shared<series_spool>();
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

    const stretch st = stretch_of(options, format.sample_rate);
    const double start_s = static_cast<double>(st.first) / format.sample_rate;
    // Progress runs to the end of the stretch, where reading stops.
    const uint64_t to_read = format.frames == 0 ? 0 : std::min(format.frames, st.end);
    task_group tasks(pool);
    channel_set channels(options, format.channels, format.sample_rate,
                         format.frames == 0 ? 0 : st.frames_of(format.frames), start_s, tasks);
    events.send(index, QNF_EVENT_STARTED, 0, to_read, format.sample_rate);
    std::vector<double> block;
    bool ok = true, whole = true;
    uint64_t analysed = 0;
    for (;;) {
        const uint64_t at = src.reader.frames_read();
        if (at >= st.end) {
            // The rest of the file is not read (nor checked for truncation).
            whole = false;
            break;
        }
        if (!src.reader.read(UINT64_MAX, block, error)) {
            ok = false;
            break;
        }
        if (block.empty()) break;
        st.cut(block, at, format.channels);
        const std::size_t frames = block.size() / static_cast<std::size_t>(format.channels);
        analysed += frames;
        if (frames > 0) channels.post(block.data(), frames);
        events.send(index, QNF_EVENT_READ, src.reader.frames_read(), to_read, format.sample_rate);
        tasks.wait_below(in_flight_bytes);
    }
    if (ok && whole) ok = src.reader.finish(error);
    if (!ok || analysed == 0) {
        channels.cancel();
        tasks.wait_idle();
        if (!ok) fail(report, src.reader.status(), std::move(error));
        else fail(report, QN_STATUS_INPUT_TOO_SHORT, outside_text(st, src.reader.frames_read(), format.sample_rate));
        return;
    }
    channels.end();
    tasks.wait_idle();

    report.format.frames = analysed;
    report.start_s = start_s;
    report.duration_s = static_cast<double>(analysed) / format.sample_rate;
    channels.report(report);
    report.calibration = calibration_summary(report);
    write_series_of(report, options, series_name);
}

qnf_file_result analyse_one(const std::string &path, std::size_t index, const analysis_options &options,
                            const std::string &series_name, memory_budget &budget, work_pool &pool,
                            events_out &events) noexcept {
    qnf_file_result report;
    try {
        report.path = path;
        analyse_into(report, index, path, options, series_name, budget, pool, events);
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
        // Series file names are given in the order of the paths, before any
        // file is done.
        std::vector<std::string> names = series_file_names(paths);
        if (!options.series_name.empty()) names.assign(paths.size(), options.series_name);
        work_pool pool(threads_within_address_space(std::clamp(jobs, 1, max_jobs)));
        for (std::size_t i = 0; i < paths.size(); ++i) {
            pool.post_job([&, i] {
                reports[i] = analyse_one(paths[i], i, options, names[i], budget, pool, events);
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
        // The stretch asked for, as of a file.
        const stretch st = stretch_of(options, sample_rate);
        const uint64_t analysed = st.frames_of(frames);
        if (analysed == 0) {
            fail(report, QN_STATUS_INPUT_TOO_SHORT, outside_text(st, frames, sample_rate));
            return report;
        }
        samples += st.first * static_cast<uint64_t>(channels);
        frames = analysed;
        report.format = {sample_rate, channels, frames, sample_rate != QN_SAMPLE_RATE ? 1 : 0,
                         options.channel == 0 ? channels : 1, options.channel == 0 ? 1 : options.channel};
        report.start_s = static_cast<double>(st.first) / sample_rate;
        report.duration_s = static_cast<double>(frames) / sample_rate;
        work_pool pool(threads_within_address_space(std::clamp(jobs, 1, max_jobs)));
        task_group tasks(pool);
        channel_set set(options, channels, sample_rate, frames, report.start_s, tasks);
        // Blocks of about 64k samples, as a file is read.
        const uint64_t block = std::max<uint64_t>(1, 65536 / static_cast<uint64_t>(channels));
        for (uint64_t at = 0; at < frames; at += block) {
            set.post(samples + at * static_cast<uint64_t>(channels),
                     static_cast<std::size_t>(std::min(block, frames - at)));
            tasks.wait_below(in_flight_bytes);
        }
        set.end();
        tasks.wait_idle();
        set.report(report);
        report.calibration = calibration_summary(report);
        write_series_of(report, options, options.series_name.empty() ? series_file_names({name})[0] : options.series_name);
    } catch (...) {
        fail_here(report);
    }
    return report;
}

}  // namespace qnf
