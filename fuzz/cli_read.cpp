// Fuzzes the command-line tool's path from a file's bytes to its report:
// opening (any format libsndfile reads), the checks of what the header
// declares, admission against a memory budget, reading, resampling, a
// calibration (a factor, or the bytes as a calibrator recording) and the
// stationary loudness, then the JSON and CSV writers. Whatever the bytes,
// the result is a well-formed report or an error with a reason, and
// nothing leaks or throws.
#include <cmath>
#include <sstream>
#include <string>

#include "audio.h"
#include "batch.h"
#include "calibration.h"
#include "carve.h"
#include "input.h"
#include "outcomes.h"
#include "report.h"

namespace {

using namespace qcli;

// What the tool's reading path can make of a file.
[[maybe_unused]] const bool expected =
    qn_fuzz_expect("file", {"analysed", "cannot read audio", "read error", "truncated", "sample rate outside",
                            "holds no samples", "needs more memory", "metric refused"}) &&
    qn_fuzz_expect("calibrator", {"calibrated", "silent", "clipped", "not finite", "unreadable"});

const char *kind_of(const file_report &r) {
    const std::string &e = r.error;
    if (e.empty()) {
        for (const auto &c : r.results)
            if (!c.errors.empty()) return "metric refused";
        return "analysed";
    }
    if (e.find("cannot read audio") == 0) return "cannot read audio";
    if (e.find("read error") == 0) return "read error";
    if (e.find("truncated") == 0) return "truncated";
    if (e.find("sample rate") == 0) return "sample rate outside";
    if (e.find("no samples") != std::string::npos) return "holds no samples";
    if (e.find("needs about") != std::string::npos) return "needs more memory";
    return "other error";
}

// An FNV-1a hash of the bytes chooses the options, so that a plain audio
// file is an input as it stands.
uint32_t hash(const uint8_t *data, std::size_t size) {
    uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
}

void check_report(const file_report &r, const analysis_options &o) {
    if (!r.error.empty()) return;
    QN_FUZZ_ASSERT(r.sample_rate >= min_sample_rate && r.sample_rate <= max_sample_rate);
    QN_FUZZ_ASSERT(r.channels >= 1 && r.results.size() == (o.channel == 0 ? static_cast<std::size_t>(r.channels) : 1u));
    QN_FUZZ_ASSERT(r.duration_s > 0);
    for (const channel_report &c : r.results) {
        QN_FUZZ_ASSERT(c.metrics.size() + c.errors.size() >= 1);
        for (const auto &[name, reason] : c.errors) QN_FUZZ_ASSERT(!name.empty() && !reason.empty());
        for (const auto &[name, result] : c.metrics)
            for (const single_value &v : result.values) QN_FUZZ_ASSERT(std::isfinite(v.value) && v.value >= 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const uint32_t options = hash(data, size);
    input_file file;
    std::string error;
    QN_FUZZ_ASSERT(input_from_bytes(data, size, file, error));

    // The bytes as a calibrator recording.
    calibration cal;
    audio recording;
    const admission small = [](const audio_format &f, std::string &reason) {
        if (f.frames * static_cast<uint64_t>(f.channels) <= 2'000'000) return true;
        reason = "needs about more memory";
        return false;
    };
    if (!read_audio(file, small, recording, error)) {
        QN_FUZZ_ASSERT(!error.empty());
        QN_FUZZ_OUTCOME("calibrator", "unreadable");
    } else if (calibrator_calibration(recording, "fuzz", 94.0, cal, error)) {
        QN_FUZZ_ASSERT(cal.factors.size() == static_cast<std::size_t>(recording.channels));
        for (double f : cal.factors) QN_FUZZ_ASSERT(std::isfinite(f) && f > 0);
        QN_FUZZ_OUTCOME("calibrator", "calibrated");
    } else {
        QN_FUZZ_ASSERT(!error.empty());
        QN_FUZZ_OUTCOME("calibrator", error.find("silent") != std::string::npos    ? "silent"
                                      : error.find("clipped") != std::string::npos ? "clipped"
                                                                                   : "not finite");
    }
    // Analysed with that calibration, a full-scale level, or as pascal.
    if ((options & 3u) == 1) cal = full_scale_calibration(40.0 + (options >> 2) % 100);
    if ((options & 3u) >= 2) cal = calibration{};

    // The bytes as a file to analyse, in a budget that admits the fixed
    // allowance of a file and one analysed channel (the loudness is read
    // block by block, so its need does not grow with the length) and refuses
    // a second channel.
    analysis_options o;
    o.metrics = {find_metric("loudness")};
    o.cal = cal;
    o.channel = (options >> 8) % 4 == 0 ? 1 : 0;
    o.resample = ((options >> 10) & 7u) != 0;
    memory_budget budget(120'000'000);
    const file_report r = analyse_file(file.reopen_path(), o, budget);
    QN_FUZZ_OUTCOME("file", kind_of(r));
    check_report(r, o);

    std::ostringstream json, csv;
    write_json(json, {r}, {"free", false});
    write_csv(csv, {r}, {"free", false});
    QN_FUZZ_ASSERT(json.str().size() > 2 && csv.str().size() > 10);
    return 0;
}
