// quarnelo: psychoacoustic metrics of audio files, a thin front end over
// libquarnelo_files (reading, calibration, the metrics and their
// statistics) and libquarnelo: the command line, the output formats and
// the progress line.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <ext/stdio_filebuf.h>
#include <iostream>
#include <memory>
#include <thread>

#include "demo.h"
#include "levels.h"
#include "output.h"
#include "progress.h"
#include "quarnelo_files.h"
#include "report.h"
#include "text_files.h"

namespace {

using namespace qcli;

constexpr int max_jobs = 256;

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

std::string version_text() {
    return std::string("quarnelo ") + QUARNELO_CLI_VERSION + " (libquarnelo " + qn_version_string() + ", ABI " +
           std::to_string(qn_abi_version()) + ")";
}

std::string metric_help() {
    std::string list, left_out;
    for (uint64_t i = 0; i < qnf_metric_count(); ++i) {
        qnf_metric_info m{};
        if (qnf_metric_describe(i, &m) != QN_STATUS_SUCCESS) continue;
        list += std::string("\n  ") + m.name + ": " + m.description;
        if (m.default_set == 0) left_out += (left_out.empty() ? "" : ", ") + std::string(m.name);
    }
    return "metrics, comma-separated (default: all" + (left_out.empty() ? "" : " but " + left_out) + "):" + list;
}

struct options_closer {
    void operator()(qnf_options *o) const { qnf_options_destroy(o); }
};
struct results_closer {
    void operator()(qnf_results *r) const { qnf_results_destroy(r); }
};
using options_ptr = std::unique_ptr<qnf_options, options_closer>;
using results_ptr = std::unique_ptr<qnf_results, results_closer>;

// The options of the command line for the file layer, as named values in
// text: the file layer checks them. False, with the reason printed, when
// one is refused.
bool set_options(qnf_options *o, const std::vector<std::pair<std::string, std::string>> &values) {
    char why[1024];
    for (const auto &[name, value] : values) {
        if (qnf_options_set(o, name.c_str(), value.c_str(), why, sizeof why) != QN_STATUS_SUCCESS) {
            std::fprintf(stderr, "quarnelo: %s\n", why);
            return false;
        }
    }
    return true;
}

// The progress line, fed by the events of a run.
struct progress_bridge {
    const std::vector<std::string> &paths;
    progress_display display;

    // Nothing may leave a callback of the file layer: a line that cannot be
    // drawn for want of memory is left out.
    static void on_event(void *user, uint64_t file, int32_t event, uint64_t read, uint64_t frames, int32_t rate,
                         const char *text) noexcept {
        auto &self = *static_cast<progress_bridge *>(user);
        try {
            const std::string &path = self.paths[static_cast<std::size_t>(file)];
            switch (event) {
            case QNF_EVENT_STARTED: self.display.started(file, path, frames, rate); break;
            case QNF_EVENT_READ: self.display.advanced(file, read); break;
            case QNF_EVENT_FINISHED: self.display.finished(file); break;
            case QNF_EVENT_NOTICE: self.display.print("quarnelo: " + path + ": " + text + "\n"); break;
            default: break;
            }
        } catch (...) {
        }
    }
};

struct analyze_arguments {
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> options;  // for the file layer
    std::string field = "free", format, output, cal_file, metrics, sharpness_weighting = "din";
    bool series = false;
};

// The metrics asked for, in order (every metric of the table by default).
std::vector<std::string> selected_metrics(const std::string &list) {
    std::vector<std::string> names;
    if (list.empty()) {
        for (uint64_t i = 0; i < qnf_metric_count(); ++i) {
            qnf_metric_info m{};
            if (qnf_metric_describe(i, &m) == QN_STATUS_SUCCESS) names.emplace_back(m.name);
        }
        return names;
    }
    std::size_t at = 0;
    for (std::size_t comma; (comma = list.find(',', at)) != std::string::npos; at = comma + 1)
        names.push_back(list.substr(at, comma - at));
    names.push_back(list.substr(at));
    return names;
}

// The file of a metric's table of series beside --output: "r.csv" gives
// "r.loudness-time.csv".
std::string series_table_path(const std::string &output, const std::string &metric) {
    const bool csv = output.size() > 4 && output.compare(output.size() - 4, 4, ".csv") == 0;
    return (csv ? output.substr(0, output.size() - 4) : output) + "." + metric + ".csv";
}

// Empty, or the reason the results cannot go to --output: it names an input.
std::string check_output(const analyze_arguments &a) {
    if (a.output.empty()) return {};
    std::vector<std::string> inputs = a.files;
    if (!a.cal_file.empty()) inputs.push_back(a.cal_file);
    for (const std::string &f : inputs)
        if (f != "-" && same_file(a.output, f))
            return "--output " + a.output + " is the input file " + f + "; the results would overwrite it";
    return {};
}

int analyze_command(const analyze_arguments &a) {
    options_ptr options;
    {
        qnf_options *o = nullptr;
        if (qnf_options_create(&o) != QN_STATUS_SUCCESS) {
            std::fputs("quarnelo: out of memory\n", stderr);
            return 1;
        }
        options.reset(o);
    }
    if (!set_options(options.get(), a.options)) return 2;
    if (const std::string usage = check_output(a); !usage.empty()) {
        std::fprintf(stderr, "quarnelo: %s\n", usage.c_str());
        return 2;
    }
    const output_format format = choose_format(a.format, !a.output.empty());
    if (format == output_format::csv && a.series && a.output.empty()) {
        std::fputs("quarnelo: --series with --format csv writes a table per metric beside --output "
                   "(r.csv, r.loudness-time.csv, ...): give --output, or use --series-dir\n",
                   stderr);
        return 2;
    }
    results_output out;
    std::vector<const char *> paths;
    for (const std::string &f : a.files) paths.push_back(f.c_str());
    progress_bridge progress{a.files, progress_display(a.files.size(), isatty(STDERR_FILENO) != 0)};
    qnf_results *r = nullptr;
    char why[4096];
    const qnf_status status = qnf_analyze_files(paths.data(), paths.size(), options.get(), progress_bridge::on_event,
                                                &progress, &r, why, sizeof why);
    results_ptr results(r);
    if (status != QN_STATUS_SUCCESS) {
        std::fprintf(stderr, "quarnelo: %s\n", why);
        return status == QNF_STATUS_INVALID_OPTION ? 2 : 1;
    }
    const bool failed = report_failures(*results);
    const report_options ro{a.field, a.series, options.get(), selected_metrics(a.metrics), a.sharpness_weighting};
    bool written = emit(a.output, out.stream(), [&](std::ostream &stream) {
        if (format == output_format::table) write_table(stream, *results, ro);
        else if (format == output_format::csv) write_csv(stream, *results, ro);
        else write_json(stream, *results, ro);
    });
    if (format == output_format::csv && a.series)
        for (const std::string &metric : ro.metrics)
            if (has_series_table(metric))
                written = emit(series_table_path(a.output, metric), out.stream(), [&](std::ostream &stream) {
                    write_series_table(stream, *results, metric);
                }) && written;
    return failed || !written ? 1 : 0;
}

int demo_command() {
    const demo_sound sound = make_demo_sound();
    std::printf("quarnelo demo: %s\n\n", sound.description.c_str());
    qnf_options *o = nullptr;
    if (qnf_options_create(&o) != QN_STATUS_SUCCESS) return 1;
    options_ptr options(o);
    qnf_results *r = nullptr;
    char why[1024];
    if (qnf_analyze_signal(sound.samples.data(), sound.samples.size(), 1, QN_SAMPLE_RATE, "demo", options.get(), &r,
                           why, sizeof why) != QN_STATUS_SUCCESS) {
        std::fprintf(stderr, "quarnelo: demo: %s\n", why);
        return 1;
    }
    results_ptr results(r);
    const bool failed = report_failures(*results);
    write_table(std::cout, *results, {"free", false, options.get(), selected_metrics("")});
    return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"quarnelo - psychoacoustic metrics of audio files: ISO 532-1 loudness, DIN 45692 sharpness, "
                 "Daniel & Weber roughness, Aures tonality, ECMA-418-2 loudness, tonality, roughness and "
                 "fluctuation strength, IEC 61672-1 sound levels.\nSound pressure is the sample value times the "
                 "calibration, in Pa; files not at 48 kHz are resampled."};
    app.set_version_flag("--version", version_text(), "Print the tool's and the library's versions");
    app.require_subcommand(1);

    // analyze
    CLI::App *analyze = app.add_subcommand("analyze", "Every selected metric for every channel of every file");
    analyze_arguments aa;
    std::string pa_per_unit, full_scale_spl, cal_spl, channel = "all", max_memory, percentiles, start, end, skip,
        series_dir, band_step;
    std::string &metrics = aa.metrics;
    bool no_resample = false, no_binaural = false;
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    analyze->add_option("FILE", aa.files,
                        "Audio files (WAV, FLAC, AIFF, OGG/Opus, ...); '-' is standard input (held in memory, at "
                        "most 512 MiB)")
        ->required();
    analyze->add_option("--metrics", metrics, metric_help());
    analyze->add_option("--field", aa.field, "Sound field of the loudness and ECMA-418-2 metrics")
        ->check(CLI::IsMember({"free", "diffuse"}))
        ->capture_default_str();
    analyze->add_option("--sharpness-weighting", aa.sharpness_weighting,
                        "Weighting of sharpness: din (DIN 45692), bismarck (von Bismarck), fastl (Fastl) or aures "
                        "(Aures, loudness-dependent)")
        ->check(CLI::IsMember({"din", "bismarck", "fastl", "aures"}))
        ->capture_default_str();
    CLI::Option *o_band_step = analyze->add_option(
        "--band-step", band_step, "Interval of the series of the third-octave band levels (levels), s (default 0.1)");
    CLI::Option *o_pa = analyze->add_option("--pa-per-unit", pa_per_unit, "Pascal per sample unit (default 1)");
    CLI::Option *o_fs =
        analyze->add_option("--full-scale-spl", full_scale_spl, "A full-scale sine (peak 1.0) has this level, dB SPL");
    CLI::Option *o_cf = analyze->add_option("--cal-file", aa.cal_file, "A calibrator recording (with --cal-spl)");
    CLI::Option *o_cs = analyze->add_option("--cal-spl", cal_spl, "The calibrator's level, dB SPL (e.g. 94)");
    o_cf->needs(o_cs);
    o_cs->needs(o_cf);
    o_pa->excludes(o_fs)->excludes(o_cf);
    o_fs->excludes(o_cf);
    analyze->add_option("--channel", channel, "A channel number (from 1), or 'all': each channel on its own")
        ->capture_default_str();
    analyze->add_option("--format", aa.format, "table, json or csv (default: table on a terminal, else json)")
        ->check(CLI::IsMember({"table", "json", "csv"}));
    analyze->add_option("--output", aa.output, "Write the results to this file instead of stdout");
    analyze->add_flag("--series", aa.series,
                      "Include the time series and patterns with their axes (json), or write a table per metric of "
                      "its series with a value per frame beside --output (csv: r.csv, r.loudness-time.csv, ...)");
    CLI::Option *o_series_dir = analyze->add_option(
        "--series-dir", series_dir,
        "Write each file's series, patterns included, to DIR/<file's name>.nc (NetCDF-4, compressed, values rounded "
        "to 16 significant bits; inputs of the same name get _2, _3, ...)");
    CLI::Option *o_percentiles = analyze->add_option(
        "--percentiles", percentiles,
        "Percentiles of every metric with a time series, e.g. 5,10,50,90,95: the value exceeded during p % of the "
        "frames (n5, n10 ... for loudness-time; LAF5 ... for spl; r, s, t for the others); default 5,10 for "
        "loudness-time, 5,10,50,90,95 for spl, none for the others; '' for none");
    CLI::Option *o_start = analyze->add_option("--start", start, "Analyse each file from this time on, s");
    CLI::Option *o_end = analyze->add_option("--end", end, "Analyse each file up to this time, s");
    CLI::Option *o_skip = analyze->add_option(
        "--skip", skip,
        "Seconds the statistics over frames leave out at the start of the analysed audio (a settling time; the "
        "ECMA-418-2 single values keep their own 0.3 s)");
    analyze->add_flag("--no-resample", no_resample, "Refuse files not at 48 kHz instead of resampling them");
    analyze->add_flag("--no-binaural", no_binaural,
                      "A file of two channels is taken for a head recording (channel 1 the left ear): loudness-ecma, "
                      "roughness-ecma and fluctuation-ecma then also give a binaural result, the two ears combined "
                      "per frame and band as ECMA-418-2 combines them (tonality-ecma has none: each ear is its own). "
                      "This turns it off, for two channels that are not ears");
    analyze->add_option("-j,--jobs", jobs,
                        "Threads, 1 ... 256 (default: the number of cores): files side by side, and the channels "
                        "and metrics of each file")
        ->check(CLI::Range(1, max_jobs));
    analyze->add_option("--max-memory", max_memory,
                        "Memory the analysis may take, e.g. 8G or 500M (default: half the physical memory, at most "
                        "half the address-space limit of ulimit -v); "
                        "files that would need more are refused before they are read. Files are read block by "
                        "block, so a long file needs little more than a short one");

    // levels
    CLI::App *levels_cmd = app.add_subcommand("levels", "Loudness and sharpness from 28 third-octave levels");
    levels_arguments la;
    CLI::Option *o_lt = levels_cmd->add_option("LEVELS", la.list, "L1,...,L28: dB re 20 uPa, 25 Hz ... 12.5 kHz");
    CLI::Option *o_lc = levels_cmd->add_option("--csv", la.file, "A file of 28 levels (or 'frequency,level' lines)");
    o_lt->excludes(o_lc);
    levels_cmd->add_option("--field", la.field, "Sound field")
        ->check(CLI::IsMember({"free", "diffuse"}))
        ->capture_default_str();
    levels_cmd->add_option("--format", la.format, "table, json or csv")->check(CLI::IsMember({"table", "json", "csv"}));
    levels_cmd->add_flag("--series", la.series, "Include the levels and the specific-loudness pattern");

    // demo
    CLI::App *demo = app.add_subcommand("demo", "Synthesise a test sound, analyse it with every metric, print the table");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }

    if (*analyze) {
        auto &o = aa.options;
        if (!metrics.empty()) o.emplace_back("metrics", metrics);
        o.emplace_back("field", aa.field);
        o.emplace_back("sharpness-weighting", aa.sharpness_weighting);
        if (*o_band_step) o.emplace_back("band-step", band_step);
        o.emplace_back("channel", channel);
        if (*o_pa) o.emplace_back("pa-per-unit", pa_per_unit);
        if (*o_fs) o.emplace_back("full-scale-spl", full_scale_spl);
        if (*o_cf) {
            o.emplace_back("cal-file", aa.cal_file);
            o.emplace_back("cal-spl", cal_spl);
        }
        o.emplace_back("resample", no_resample ? "0" : "1");
        o.emplace_back("binaural", no_binaural ? "off" : "on");
        o.emplace_back("series", aa.series ? "1" : "0");
        if (*o_series_dir) o.emplace_back("series-dir", series_dir);
        if (*o_percentiles) o.emplace_back("percentiles", percentiles);
        if (*o_start) o.emplace_back("start", start);
        if (*o_end) o.emplace_back("end", end);
        if (*o_skip) o.emplace_back("skip", skip);
        if (!max_memory.empty()) o.emplace_back("max-memory", max_memory);
        o.emplace_back("jobs", std::to_string(jobs));
        return analyze_command(aa);
    }
    if (*levels_cmd) return levels_command(la);
    if (*demo) return demo_command();
    return 2;
}
