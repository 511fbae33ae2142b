#include "batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace qcli {

namespace {

std::string seconds(uint64_t samples) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", static_cast<double>(samples) / 48000.0);
    return text;
}

// Fixed costs of a file: libsndfile's and libsoxr's state, the read block,
// the library's per-call work.
constexpr double fixed_bytes = 64e6;

// Each series value of --series is held three times: the series, and its
// JSON value of 16 bytes.
constexpr double series_bytes_per_value = 8 + 16;

}  // namespace

uint64_t file_memory_need(const audio_format &format, const analysis_options &options) {
    const double frames = static_cast<double>(format.frames);
    const double n48 = static_cast<double>(resampled_length(format.frames, format.sample_rate));
    double per_sample = 0;
    bool time_varying = false;
    for (const metric *m : options.metrics) {
        per_sample += m->bytes_per_sample;
        time_varying = time_varying || m->uses_loudness_time;
    }
    if (time_varying) per_sample += time_varying_bytes_per_sample;
    // Series stay with the results of every analysed channel until they are
    // written: 241 values per 2 ms frame for the time-varying loudness.
    const double analysed = options.channel == 0 ? format.channels : 1;
    const double series = options.series && time_varying ? analysed * n48 * 241.0 / 96 * series_bytes_per_value : 0;
    const double bytes = 8 * frames * format.channels + (format.sample_rate != 48000 ? 8 * n48 : 0) +
                         per_sample * n48 + series + fixed_bytes;
    return bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(bytes);
}

void analyse_channel(const std::vector<double> &x, const analysis_options &options, channel_report &out) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!std::isfinite(x[i])) {
            out.errors.push_back({"input", "sample " + std::to_string(i) + " is NaN or infinite"});
            return;
        }
    }
    channel_context ctx(x.data(), x.size(), options.field);
    for (const metric *m : options.metrics) {
        if (x.size() < m->min_samples) {
            out.errors.push_back({m->name, "too short: " + seconds(x.size()) + ", needs at least " +
                                               seconds(m->min_samples)});
            continue;
        }
        metric_result r;
        std::string error;
        bool ok = false;
        try {
            ok = m->compute(ctx, options.series, r, error);
        } catch (const std::bad_alloc &) {
            error = "out of memory";
        } catch (const std::exception &e) {
            error = e.what();
        }
        if (ok) {
            out.metrics.push_back({m->name, std::move(r)});
        } else {
            out.errors.push_back({m->name, error});
        }
    }
}

namespace {

void analyse_into(file_report &report, const std::string &path, const analysis_options &options,
                  memory_budget &budget) {
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
        const uint64_t need = file_memory_need(format, options);
        const bool ok = hold.grow_to(need > UINT64_MAX - held_input ? UINT64_MAX : need + held_input, first, reason);
        first = false;
        return ok;
    };
    audio a;
    if (!read_audio(input, admit, a, error)) {
        report.error = error;
        return;
    }
    input = input_file{};
    report.sample_rate = a.sample_rate;
    report.channels = a.channels;
    report.duration_s = static_cast<double>(a.frames) / a.sample_rate;
    if (options.channel > a.channels) {
        report.error = "has " + std::to_string(a.channels) + " channel(s), channel " + std::to_string(options.channel) +
                       " asked for";
        return;
    }
    if (a.sample_rate != QN_SAMPLE_RATE) {
        if (!options.resample) {
            report.error = "sample rate " + std::to_string(a.sample_rate) +
                           " Hz; the metrics need 48000 Hz (resampling is off: --no-resample)";
            return;
        }
        report.resampled = true;
        std::fprintf(stderr, "quarnelo: %s: resampling from %d Hz to 48000 Hz\n", path.c_str(), a.sample_rate);
    }
    for (int ch = 0; ch < a.channels; ++ch) {
        if (options.channel != 0 && ch + 1 != options.channel) continue;
        // Each channel is resampled, calibrated and analysed in turn, and
        // its samples released before the next.
        std::vector<double> x;
        x.swap(a.samples[static_cast<std::size_t>(ch)]);
        channel_report c;
        c.channel = ch + 1;
        c.calibration = options.cal.describe(ch);
        if (!resample_to_48k(x, a.sample_rate, error)) {
            c.errors.push_back({"input", error});
        } else {
            const double factor = options.cal.factor(ch);
            if (factor != 1.0)
                for (double &v : x) v *= factor;
            analyse_channel(x, options, c);
        }
        report.results.push_back(std::move(c));
    }
}

}  // namespace

file_report analyse_file(const std::string &path, const analysis_options &options, memory_budget &budget) noexcept {
    file_report report;
    try {
        report.path = path;
        analyse_into(report, path, options, budget);
    } catch (const std::bad_alloc &) {
        report.results.clear();
        report.error = "out of memory";
    } catch (const std::exception &e) {
        report.results.clear();
        report.error = e.what();
    }
    return report;
}

std::vector<file_report> analyse_files(const std::vector<std::string> &files, const analysis_options &options,
                                       int jobs, memory_budget &budget) {
    std::vector<file_report> reports(files.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::mutex progress;
    const bool show_progress = isatty(STDERR_FILENO) != 0 && files.size() > 1;
    auto worker = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            reports[i] = analyse_file(files[i], options, budget);
            const std::size_t finished = ++done;
            if (show_progress) {
                std::lock_guard<std::mutex> lock(progress);
                std::fprintf(stderr, "\rquarnelo: %zu of %zu files analysed", finished, files.size());
                if (finished == files.size()) std::fprintf(stderr, "\n");
            }
        }
    };
    const int threads = std::clamp<int>(jobs, 1, static_cast<int>(std::clamp<std::size_t>(files.size(), 1, max_jobs)));
    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(threads));
    for (int t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(worker);
        } catch (const std::system_error &) {
            break;  // the threads that did start, and this one, share the files
        }
    }
    worker();
    for (auto &t : pool) t.join();
    return reports;
}

}  // namespace qcli
