#include "batch.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <new>

#include "progress.h"

namespace qcli {

namespace {

// Fixed costs of a file: libsndfile's state, the read block, the library's
// per-call work (the ECMA-418-2 metrics take about 12 MB while they run).
constexpr double fixed_bytes = 64e6;

// Of each analysed channel: the resampler's state, the meter's frames of a
// call, a framed window and a chunk of each series.
constexpr double channel_bytes = 16e6;

// Samples of a file on their way to its analyses (blocks waiting in the
// queues, framed windows waiting for a thread): the reader waits beyond it.
constexpr uint64_t in_flight_bytes = 32u << 20;

uint64_t saturated(double bytes) { return bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(bytes); }

void analyse_into(file_report &report, std::size_t index, const std::string &path, const analysis_options &options,
                  memory_budget &budget, work_pool &pool, progress_display &progress) {
    input_file input;
    std::string error;
    if (!open_input(path, budget.total(), input, error)) {
        report.error = error;
        return;
    }
    // Standard input is held in memory as well.
    const uint64_t held_input = path == "-" ? input.size() : 0;
    memory_hold hold(&budget);
    bool first = true;
    const admission admit = [&](const audio_format &format, std::string &reason) {
        const memory_need need = file_memory_need(format, options);
        const uint64_t total = need.total > UINT64_MAX - held_input ? UINT64_MAX : need.total + held_input;
        const bool ok = hold.grow_to(total, first, reason);
        if (!ok && total > budget.total() && total - need.whole_channel <= budget.total())
            reason += "; tonality-ecma and roughness-ecma analyse each channel whole (the other metrics need "
                      "about " + byte_text(total - need.whole_channel) + ": leave those two out with --metrics)";
        first = false;
        return ok;
    };
    audio_reader reader;
    if (!reader.open(input, admit, error)) {
        report.error = error;
        return;
    }
    const audio_format format = reader.format();
    if (options.channel > format.channels) {
        report.error = "has " + std::to_string(format.channels) + " channel(s), channel " +
                       std::to_string(options.channel) + " asked for";
        return;
    }
    if (format.sample_rate != QN_SAMPLE_RATE) {
        if (!options.resample) {
            report.error = "sample rate " + std::to_string(format.sample_rate) +
                           " Hz; the metrics need 48000 Hz (resampling is off: --no-resample)";
            return;
        }
        report.resampled = true;
        progress.print("quarnelo: " + path + ": resampling from " + std::to_string(format.sample_rate) +
                       " Hz to 48000 Hz\n");
    }

    task_group tasks(pool);
    std::vector<int> numbers;  // the channels analysed, from 0
    std::vector<std::unique_ptr<channel_analysis>> channels;
    for (int ch = 0; ch < format.channels; ++ch) {
        if (options.channel != 0 && ch + 1 != options.channel) continue;
        const channel_input in{format.sample_rate, options.cal.factor(ch),
                               resampled_length(format.frames, format.sample_rate)};
        numbers.push_back(ch);
        channels.push_back(std::make_unique<channel_analysis>(options, in, tasks));
    }
    progress.started(index, path, format.frames, format.sample_rate);
    const auto stride = static_cast<std::size_t>(format.channels);
    std::vector<double> block;
    bool ok = true;
    for (;;) {
        if (!reader.read(UINT64_MAX, block, error)) {
            ok = false;
            break;
        }
        if (block.empty()) break;
        const std::size_t n = block.size() / stride;
        for (std::size_t k = 0; k < channels.size(); ++k) {
            std::vector<double> x(n);
            const auto ch = static_cast<std::size_t>(numbers[k]);
            for (std::size_t i = 0; i < n; ++i) x[i] = block[i * stride + ch];
            channels[k]->post_block(std::move(x));
        }
        progress.advanced(index, reader.frames_read());
        tasks.wait_below(in_flight_bytes);
    }
    if (ok) ok = reader.finish(error);
    if (!ok) {
        for (auto &c : channels) c->cancel();
        tasks.wait_idle();
        report.error = error;
        return;
    }
    for (auto &c : channels) c->post_end();
    tasks.wait_idle();

    report.sample_rate = format.sample_rate;
    report.channels = format.channels;
    report.duration_s = static_cast<double>(reader.frames_read()) / format.sample_rate;
    for (std::size_t k = 0; k < channels.size(); ++k) {
        channel_report c;
        c.channel = numbers[k] + 1;
        c.calibration = options.cal.describe(numbers[k]);
        channels[k]->report(c);
        report.results.push_back(std::move(c));
    }
}

file_report analyse_one(const std::string &path, std::size_t index, const analysis_options &options,
                        memory_budget &budget, work_pool &pool, progress_display &progress) noexcept {
    file_report report;
    try {
        report.path = path;
        analyse_into(report, index, path, options, budget, pool, progress);
    } catch (const std::bad_alloc &) {
        report.results.clear();
        report.error = "out of memory";
    } catch (const std::exception &e) {
        report.results.clear();
        report.error = e.what();
    }
    return report;
}

}  // namespace

memory_need file_memory_need(const audio_format &format, const analysis_options &options) {
    const double n48 = static_cast<double>(resampled_length(format.frames, format.sample_rate));
    bool totals = false;
    double whole_channel = 0;  // bytes per sample at 48 kHz
    for (const metric *m : options.metrics) {
        totals = totals || m->kind == metric_kind::loudness_time;
        if (m->whole_channel) whole_channel += m->bytes_per_sample;
    }
    if (whole_channel > 0) whole_channel += 8;  // the channel's samples
    const double analysed = options.channel == 0 ? format.channels : 1;
    const double per_channel = channel_bytes + (totals ? 8 * (n48 / 96 + 1) : 0);
    memory_need need;
    need.whole_channel = saturated(analysed * whole_channel * n48);
    need.total = saturated(fixed_bytes + static_cast<double>(in_flight_bytes) + analysed * per_channel +
                           static_cast<double>(need.whole_channel));
    return need;
}

file_report analyse_file(const std::string &path, const analysis_options &options, memory_budget &budget) noexcept {
    try {
        work_pool pool(1);
        progress_display quiet(1, false);
        return analyse_one(path, 0, options, budget, pool, quiet);
    } catch (...) {
        file_report report;
        report.error = "out of memory";
        return report;
    }
}

std::vector<file_report> analyse_files(const std::vector<std::string> &files, const analysis_options &options,
                                       int jobs, memory_budget &budget) {
    std::vector<file_report> reports(files.size());
    progress_display progress(files.size(), isatty(STDERR_FILENO) != 0);
    work_pool pool(std::clamp(jobs, 1, max_jobs));
    for (std::size_t i = 0; i < files.size(); ++i) {
        pool.post_job([&, i] {
            reports[i] = analyse_one(files[i], i, options, budget, pool, progress);
            progress.finished(i);
        });
    }
    pool.run();
    return reports;
}

}  // namespace qcli
