// quarnelo: psychoacoustic metrics of audio files, over libquarnelo's public
// interface.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "audio.h"
#include "calibration.h"
#include "demo.h"
#include "metrics.h"
#include "report.h"

namespace {

using namespace qcli;

struct analysis_options {
    std::vector<const metric *> metrics;
    qn_sound_field field = QN_SOUND_FIELD_FREE;
    calibration cal;
    int channel = 0;  // 0: every channel, each on its own; else that channel (from 1)
    bool series = false;
    bool resample = true;
};

std::string seconds(uint64_t samples) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", static_cast<double>(samples) / 48000.0);
    return text;
}

// Every selected metric of one channel at 48 kHz, already in pascal.
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
        if (m->compute(ctx, options.series, r, error)) {
            out.metrics.push_back({m->name, std::move(r)});
        } else {
            out.errors.push_back({m->name, error});
        }
    }
}

file_report analyse_file(const std::string &path, const analysis_options &options) {
    file_report report;
    report.path = path;
    audio a;
    std::string error;
    if (!read_audio(path, a, error)) {
        report.error = error;
        return report;
    }
    report.sample_rate = a.sample_rate;
    report.channels = a.channels;
    report.duration_s = static_cast<double>(a.frames) / a.sample_rate;
    if (options.channel > a.channels) {
        report.error = "has " + std::to_string(a.channels) + " channel(s), channel " + std::to_string(options.channel) +
                       " asked for";
        return report;
    }
    if (a.sample_rate != QN_SAMPLE_RATE) {
        if (!options.resample) {
            report.error = "sample rate " + std::to_string(a.sample_rate) +
                           " Hz; the metrics need 48000 Hz (resampling is off: --no-resample)";
            return report;
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
    return report;
}

// Files on `jobs` threads; the reports keep the order of the arguments.
std::vector<file_report> analyse_files(const std::vector<std::string> &files, const analysis_options &options,
                                       int jobs) {
    std::vector<file_report> reports(files.size());
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::mutex progress;
    const bool show_progress = isatty(STDERR_FILENO) != 0 && files.size() > 1;
    auto worker = [&] {
        for (std::size_t i = next++; i < files.size(); i = next++) {
            reports[i] = analyse_file(files[i], options);
            const std::size_t finished = ++done;
            if (show_progress) {
                std::lock_guard<std::mutex> lock(progress);
                std::fprintf(stderr, "\rquarnelo: %zu of %zu files analysed", finished, files.size());
                if (finished == files.size()) std::fprintf(stderr, "\n");
            }
        }
    };
    const int threads = std::max(1, std::min<int>(jobs, static_cast<int>(files.size())));
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(worker);
    worker();
    for (auto &t : pool) t.join();
    return reports;
}

// One line per failure on stderr, naming the file and the reason.
bool report_failures(const std::vector<file_report> &reports) {
    bool any = false;
    for (const file_report &f : reports) {
        if (!f.error.empty()) {
            std::fprintf(stderr, "quarnelo: %s: %s\n", f.path.c_str(), f.error.c_str());
            any = true;
        }
        for (const channel_report &c : f.results) {
            for (const auto &[metric, reason] : c.errors) {
                std::fprintf(stderr, "quarnelo: %s: channel %d: %s: %s\n", f.path.c_str(), c.channel, metric.c_str(),
                             reason.c_str());
                any = true;
            }
        }
    }
    return any;
}

output_format choose_format(const std::string &name, bool to_file) {
    if (name == "table") return output_format::table;
    if (name == "csv") return output_format::csv;
    if (name == "json") return output_format::json;
    return (!to_file && isatty(STDOUT_FILENO)) ? output_format::table : output_format::json;
}

// Writes to --output or stdout; false (with a message) when the file
// cannot be written.
template <class Write>
bool emit(const std::string &output, Write write) {
    if (output.empty()) {
        write(std::cout);
        std::cout.flush();
        return true;
    }
    std::ofstream file(output);
    if (!file) {
        std::fprintf(stderr, "quarnelo: %s: cannot write the output file\n", output.c_str());
        return false;
    }
    write(file);
    file.flush();
    if (!file) {
        std::fprintf(stderr, "quarnelo: %s: writing the output file failed\n", output.c_str());
        return false;
    }
    return true;
}

// 28 levels from "L1,...,L28" or from a file of numbers (one or two per
// line: "level" or "frequency,level"; '#' starts a comment).
bool parse_levels(const std::string &text, bool from_file, std::vector<double> &levels, std::string &error) {
    std::string content = text;
    if (from_file) {
        std::ifstream in(text);
        if (!in) {
            error = text + ": cannot read the file";
            return false;
        }
        std::stringstream all;
        all << in.rdbuf();
        content = all.str();
    }
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        for (char &c : line)
            if (c == ',' || c == ';' || c == '\t') c = ' ';
        std::istringstream fields(line);
        std::vector<double> numbers;
        std::string token;
        while (fields >> token) {
            char *end = nullptr;
            const double v = std::strtod(token.c_str(), &end);
            if (end == token.c_str() || *end != '\0') {
                if (numbers.empty() && levels.empty() && from_file) break;  // a header line
                error = "not a number: '" + token + "'";
                return false;
            }
            numbers.push_back(v);
        }
        if (from_file && numbers.size() == 2) {
            levels.push_back(numbers[1]);
        } else {
            levels.insert(levels.end(), numbers.begin(), numbers.end());
        }
    }
    if (levels.size() != QN_THIRD_OCTAVE_BANDS) {
        error = "28 third-octave levels (25 Hz ... 12.5 kHz) needed, " + std::to_string(levels.size()) + " given";
        return false;
    }
    return true;
}

std::string version_text() {
    return std::string("quarnelo ") + QUARNELO_CLI_VERSION + " (libquarnelo " + qn_version_string() + ", ABI " +
           std::to_string(qn_abi_version()) + ")";
}

std::string metric_help() {
    std::string text = "metrics, comma-separated (default: all):";
    for (const metric &m : metric_table()) text += std::string("\n  ") + m.name + ": " + m.description;
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"quarnelo - psychoacoustic metrics of audio files: ISO 532-1 loudness, DIN 45692 sharpness, "
                 "Daniel & Weber roughness.\nSound pressure is the sample value times the calibration, in Pa; "
                 "files not at 48 kHz are resampled."};
    app.set_version_flag("--version", version_text(), "Print the tool's and the library's versions");
    app.require_subcommand(1);

    // analyze
    CLI::App *analyze = app.add_subcommand("analyze", "Every selected metric for every channel of every file");
    std::vector<std::string> files;
    std::string metrics_list, field = "free", channel_text = "all", format_name, output;
    double pa_per_unit = 1.0, full_scale_spl = 0, cal_spl = 0;
    std::string cal_file;
    bool series = false, no_resample = false;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    analyze->add_option("FILE", files, "Audio files (WAV, FLAC, AIFF, OGG/Opus, ...)")->required();
    analyze->add_option("--metrics", metrics_list, metric_help());
    analyze->add_option("--field", field, "Sound field of the loudness metrics")
        ->check(CLI::IsMember({"free", "diffuse"}))
        ->capture_default_str();
    CLI::Option *o_pa = analyze->add_option("--pa-per-unit", pa_per_unit, "Pascal per sample unit (default 1)")
                            ->check(CLI::PositiveNumber);
    CLI::Option *o_fs =
        analyze->add_option("--full-scale-spl", full_scale_spl, "A full-scale sine (peak 1.0) has this level, dB SPL");
    CLI::Option *o_cf = analyze->add_option("--cal-file", cal_file, "A calibrator recording (with --cal-spl)");
    CLI::Option *o_cs = analyze->add_option("--cal-spl", cal_spl, "The calibrator's level, dB SPL (e.g. 94)");
    o_cf->needs(o_cs);
    o_cs->needs(o_cf);
    o_pa->excludes(o_fs)->excludes(o_cf);
    o_fs->excludes(o_cf);
    analyze->add_option("--channel", channel_text, "A channel number (from 1), or 'all': each channel on its own")
        ->capture_default_str();
    analyze->add_option("--format", format_name, "table, json or csv (default: table on a terminal, else json)")
        ->check(CLI::IsMember({"table", "json", "csv"}));
    analyze->add_option("--output", output, "Write the results to this file instead of stdout");
    analyze->add_flag("--series", series, "Include the time series and patterns with their axes (json, csv)");
    analyze->add_flag("--no-resample", no_resample, "Refuse files not at 48 kHz instead of resampling them");
    analyze->add_option("-j,--jobs", jobs, "Files analysed at once (default: the number of cores)")
        ->check(CLI::PositiveNumber);

    // levels
    CLI::App *levels_cmd = app.add_subcommand("levels", "Loudness and sharpness from 28 third-octave levels");
    std::string levels_text, levels_csv, levels_field = "free", levels_format;
    bool levels_series = false;
    CLI::Option *o_lt = levels_cmd->add_option("LEVELS", levels_text, "L1,...,L28: dB re 20 uPa, 25 Hz ... 12.5 kHz");
    CLI::Option *o_lc =
        levels_cmd->add_option("--csv", levels_csv, "A file of 28 levels (or 'frequency,level' lines)");
    o_lt->excludes(o_lc);
    levels_cmd->add_option("--field", levels_field, "Sound field")
        ->check(CLI::IsMember({"free", "diffuse"}))
        ->capture_default_str();
    levels_cmd->add_option("--format", levels_format, "table, json or csv")->check(CLI::IsMember({"table", "json", "csv"}));
    levels_cmd->add_flag("--series", levels_series, "Include the levels and the specific-loudness pattern");

    // demo
    CLI::App *demo = app.add_subcommand("demo", "Synthesise a test sound, analyse it with every metric, print the table");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }

    if (*analyze) {
        analysis_options options;
        options.field = field == "diffuse" ? QN_SOUND_FIELD_DIFFUSE : QN_SOUND_FIELD_FREE;
        options.series = series;
        options.resample = !no_resample;
        if (metrics_list.empty()) {
            for (const metric &m : metric_table()) options.metrics.push_back(&m);
        } else {
            std::stringstream list(metrics_list);
            std::string name;
            while (std::getline(list, name, ',')) {
                const metric *m = find_metric(name);
                if (!m) {
                    std::fprintf(stderr, "quarnelo: unknown metric '%s' (see quarnelo analyze --help)\n", name.c_str());
                    return 2;
                }
                options.metrics.push_back(m);
            }
        }
        if (channel_text != "all") {
            char *end = nullptr;
            const long ch = std::strtol(channel_text.c_str(), &end, 10);
            if (end == channel_text.c_str() || *end != '\0' || ch < 1 || ch > 1024) {
                std::fprintf(stderr, "quarnelo: --channel takes a channel number from 1, or 'all'\n");
                return 2;
            }
            options.channel = static_cast<int>(ch);
        }
        if (*o_fs) {
            options.cal = full_scale_calibration(full_scale_spl);
        } else if (*o_cf) {
            std::string error;
            if (!calibrator_calibration(cal_file, cal_spl, options.cal, error)) {
                std::fprintf(stderr, "quarnelo: %s\n", error.c_str());
                return 1;
            }
        } else {
            options.cal.factors = {pa_per_unit};
        }
        const auto reports = analyse_files(files, options, jobs);
        const bool failed = report_failures(reports);
        const output_format format = choose_format(format_name, !output.empty());
        report_options ro{field, series};
        const bool written = emit(output, [&](std::ostream &out) {
            if (format == output_format::table) write_table(out, reports, ro);
            else if (format == output_format::csv) write_csv(out, reports, ro);
            else write_json(out, reports, ro);
        });
        return failed || !written ? 1 : 0;
    }

    if (*levels_cmd) {
        std::vector<double> levels;
        std::string error;
        if (levels_text.empty() && levels_csv.empty()) {
            std::fprintf(stderr, "quarnelo: levels: give L1,...,L28 or --csv FILE\n");
            return 2;
        }
        if (!parse_levels(levels_csv.empty() ? levels_text : levels_csv, !levels_csv.empty(), levels, error)) {
            std::fprintf(stderr, "quarnelo: levels: %s\n", error.c_str());
            return 2;
        }
        metric_result result;
        if (!levels_result(levels, levels_field == "diffuse" ? QN_SOUND_FIELD_DIFFUSE : QN_SOUND_FIELD_FREE,
                           levels_series, result, error)) {
            std::fprintf(stderr, "quarnelo: levels: %s\n", error.c_str());
            return 1;
        }
        write_levels(std::cout, choose_format(levels_format, false), result, levels_field, levels_series);
        return 0;
    }

    if (*demo) {
        const demo_sound sound = make_demo_sound();
        std::printf("quarnelo demo: %s\n\n", sound.description.c_str());
        analysis_options options;
        for (const metric &m : metric_table()) options.metrics.push_back(&m);
        file_report report;
        report.path = "demo";
        report.sample_rate = QN_SAMPLE_RATE;
        report.channels = 1;
        report.duration_s = static_cast<double>(sound.samples.size()) / QN_SAMPLE_RATE;
        channel_report c;
        c.channel = 1;
        c.calibration = "synthesised in Pa";
        analyse_channel(sound.samples, options, c);
        report.results.push_back(std::move(c));
        const std::vector<file_report> reports = {report};
        const bool failed = report_failures(reports);
        write_table(std::cout, reports, {"free", false});
        return failed ? 1 : 0;
    }
    return 2;
}
