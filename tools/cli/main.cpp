// quarnelo: psychoacoustic metrics of audio files, over libquarnelo's public
// interface.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <ext/stdio_filebuf.h>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "audio.h"
#include "batch.h"
#include "calibration.h"
#include "demo.h"
#include "input.h"
#include "memory.h"
#include "metrics.h"
#include "output.h"
#include "report.h"

namespace {

using namespace qcli;

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

// Standard output kept for the results: some of libsndfile's decoders
// (SDS, for one) print to standard output, which would break a JSON or CSV
// report, so while files are read everything else written there goes to
// standard error.
class results_output {
public:
    results_output() {
        std::fflush(stdout);
        const int fd = ::dup(STDOUT_FILENO);
        if (fd >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) >= 0) {
            buffer_ = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(fd, std::ios::out);
            stream_ = std::make_unique<std::ostream>(buffer_.get());
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    std::ostream &stream() { return stream_ ? *stream_ : std::cout; }

private:
    std::unique_ptr<__gnu_cxx::stdio_filebuf<char>> buffer_;
    std::unique_ptr<std::ostream> stream_;
};

// Writes to --output or `out` (standard output); false (with a message)
// when the results cannot be written.
bool emit(const std::string &output, std::ostream &out, const std::function<void(std::ostream &)> &write) {
    std::string error;
    if (output.empty()) {
        try {
            write(out);
        } catch (const std::exception &e) {
            error = e.what();
        }
        out.flush();
        if (error.empty() && out) return true;
        std::fprintf(stderr, "quarnelo: writing the results failed%s%s\n", error.empty() ? "" : ": ", error.c_str());
        return false;
    }
    if (write_output_file(output, write, error)) return true;
    std::fprintf(stderr, "quarnelo: %s: the results could not be written: %s\n", output.c_str(), error.c_str());
    return false;
}

// Files of levels are small; anything larger is not one.
constexpr uint64_t max_levels_file_bytes = 1 << 20;

// 28 levels from "L1,...,L28" or from a file of numbers (one or two per
// line: "level" or "frequency,level"; '#' starts a comment).
bool parse_levels(const std::string &text, bool from_file, std::vector<double> &levels, std::string &error) {
    std::string content = text;
    if (from_file && !read_text_input(text, max_levels_file_bytes, content, error)) {
        error = text + ": " + error;
        return false;
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

// Empty, or the reason the input and output names cannot work together:
// standard input read twice, or results written over an input.
std::string check_input_names(const std::vector<std::string> &files, const std::string &cal_file,
                              const std::string &output) {
    int stdin_uses = cal_file == "-" ? 1 : 0;
    for (const std::string &f : files) stdin_uses += f == "-" ? 1 : 0;
    if (stdin_uses > 1) return "standard input ('-') can be read once only";
    if (output.empty()) return {};
    std::vector<std::string> inputs = files;
    if (!cal_file.empty()) inputs.push_back(cal_file);
    for (const std::string &f : inputs)
        if (f != "-" && same_file(output, f))
            return "--output " + output + " is the input file " + f + "; the results would overwrite it";
    return {};
}

// Reads the calibrator recording (within the memory allowed) and derives
// the calibration from it.
bool load_calibrator(const std::string &file, double spl_db, memory_budget &budget, calibration &cal,
                     std::string &error) {
    input_file input;
    audio recording;
    const admission admit = [&](const audio_format &format, std::string &reason) {
        const double need = 8.0 * static_cast<double>(format.frames) * format.channels;
        if (need <= static_cast<double>(budget.total())) return true;
        reason = "needs about " + byte_text(static_cast<uint64_t>(need)) + ", more than the " +
                 byte_text(budget.total()) + " allowed (--max-memory)";
        return false;
    };
    if (!open_input(file, budget.total(), input, error) || !read_audio(input, admit, recording, error)) {
        error = "calibration file " + file + ": " + error;
        return false;
    }
    return calibrator_calibration(recording, file, spl_db, cal, error);
}

std::string metric_help() {
    std::string text = "metrics, comma-separated (default: all):";
    for (const metric &m : metric_table()) text += std::string("\n  ") + m.name + ": " + m.description;
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"quarnelo - psychoacoustic metrics of audio files: ISO 532-1 loudness, DIN 45692 sharpness, "
                 "Daniel & Weber roughness, Aures tonality.\nSound pressure is the sample value times the calibration, in Pa; "
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
    analyze->add_option("FILE", files, "Audio files (WAV, FLAC, AIFF, OGG/Opus, ...); '-' is standard input")
        ->required();
    analyze->add_option("--metrics", metrics_list, metric_help());
    analyze->add_option("--field", field, "Sound field of the loudness and ECMA-418-2 metrics")
        ->check(CLI::IsMember({"free", "diffuse"}))
        ->capture_default_str();
    CLI::Option *o_pa = analyze->add_option("--pa-per-unit", pa_per_unit, "Pascal per sample unit (default 1)");
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
    analyze->add_option("-j,--jobs", jobs,
                        "Threads, 1 ... 256 (default: the number of cores): files side by side, and the channels "
                        "and metrics of each file")
        ->check(CLI::Range(1, max_jobs));
    std::string max_memory_text;
    analyze->add_option("--max-memory", max_memory_text,
                        "Memory the analysis may take, e.g. 8G or 500M (default: half the physical memory); "
                        "files that would need more are refused before they are read. Files are read block by "
                        "block, so a long file needs little more than a short one, except for tonality-ecma and "
                        "roughness-ecma, which analyse each channel whole (8 bytes per sample at 48 kHz and their "
                        "outputs)");

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
        // Long series wait in a temporary file until the report is written.
        if (series) options.spool = std::make_shared<series_spool>();
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
        uint64_t max_memory = default_memory_allowed();
        if (!max_memory_text.empty() && !parse_memory_size(max_memory_text, max_memory)) {
            std::fprintf(stderr, "quarnelo: --max-memory takes a size such as 8G, 500M or 100000000, not '%s'\n",
                         max_memory_text.c_str());
            return 2;
        }
        std::string usage;
        if (*o_pa) usage = check_pa_per_unit("--pa-per-unit", pa_per_unit);
        if (*o_fs) usage = check_level("--full-scale-spl", full_scale_spl);
        if (*o_cs) usage = check_level("--cal-spl", cal_spl);
        if (usage.empty()) usage = check_input_names(files, *o_cf ? cal_file : "", output);
        if (!usage.empty()) {
            std::fprintf(stderr, "quarnelo: %s\n", usage.c_str());
            return 2;
        }
        const output_format format = choose_format(format_name, !output.empty());
        results_output results;
        memory_budget budget(max_memory);
        if (*o_fs) {
            options.cal = full_scale_calibration(full_scale_spl);
        } else if (*o_cf) {
            std::string error;
            if (!load_calibrator(cal_file, cal_spl, budget, options.cal, error)) {
                std::fprintf(stderr, "quarnelo: %s\n", error.c_str());
                return 1;
            }
        } else {
            options.cal.factors = {pa_per_unit};
        }
        const auto reports = analyse_files(files, options, jobs, budget);
        const bool failed = report_failures(reports);
        report_options ro{field, series};
        const bool written = emit(output, results.stream(), [&](std::ostream &out) {
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
