// Fuzzes the file layer's path from a file's bytes to its results, through
// its C interface: opening (any format libsndfile reads), the checks of what
// the header declares, admission against a memory budget, reading,
// resampling, a calibration (a factor, a full-scale level, or the bytes as a
// calibrator recording) and the stationary loudness (with the sound levels
// for some); and the reader of
// calibrated 48 kHz samples. Whatever the bytes, the result is well formed
// or an error with a reason, and nothing leaks or throws.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "carve.h"
#include "outcomes.h"
#include "quarnelo_files.h"

namespace {

// What the reading path can make of a file.
[[maybe_unused]] const bool expected =
    qn_fuzz_expect("file", {"analysed", "cannot read audio", "read error", "truncated", "sample rate outside",
                            "holds no samples", "needs more memory", "metric refused"}) &&
    qn_fuzz_expect("calibrator", {"calibrated", "silent", "clipped", "not finite", "unreadable"}) &&
    qn_fuzz_expect("reader", {"read", "refused", "failed while reading"});

const char *kind_of(const qnf_file_result *r) {
    const char *error = qnf_file_error(r);
    if (error == nullptr) {
        for (uint64_t c = 0; c < qnf_file_channel_count(r); ++c) {
            const qnf_channel_result *ch = qnf_file_channel(r, c);
            if (qnf_channel_error(ch) != nullptr) return "metric refused";
            for (uint64_t m = 0; m < qnf_channel_metric_count(ch); ++m)
                if (qnf_metric_error(qnf_channel_metric(ch, m)) != nullptr) return "metric refused";
        }
        return "analysed";
    }
    const std::string e = error;
    if (e.find("cannot read audio") == 0) return "cannot read audio";
    if (e.find("read error") == 0) return "read error";
    if (e.find("truncated") == 0) return "truncated";
    if (e.find("sample rate") == 0) return "sample rate outside";
    if (e.find("no samples") != std::string::npos) return "holds no samples";
    if (e.find("needs about") != std::string::npos) return "needs more memory";
    return "other error";
}

const char *calibrator_kind(const std::string &why) {
    if (why.find("silent") != std::string::npos) return "silent";
    if (why.find("clipped") != std::string::npos) return "clipped";
    if (why.find("NaN") != std::string::npos) return "not finite";
    return "unreadable";
}

// An FNV-1a hash of the bytes chooses the options, so that a plain audio
// file is an input as it stands.
uint32_t hash(const uint8_t *data, std::size_t size) {
    uint32_t h = 2166136261u;
    for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
    return h;
}

void set(qnf_options *o, const char *name, const std::string &value) {
    char why[256];
    QN_FUZZ_ASSERT(qnf_options_set(o, name, value.c_str(), why, sizeof why) == QN_STATUS_SUCCESS);
}

void check_file(const qnf_file_result *r, int channel) {
    if (qnf_file_error(r) != nullptr) {
        QN_FUZZ_ASSERT(qnf_file_status(r) != QN_STATUS_SUCCESS && qnf_file_channel_count(r) == 0);
        return;
    }
    qnf_format f{};
    QN_FUZZ_ASSERT(qnf_file_format(r, &f) == QN_STATUS_SUCCESS);
    QN_FUZZ_ASSERT(f.sample_rate >= 1000 && f.sample_rate <= 768000);
    QN_FUZZ_ASSERT(f.channels >= 1 && qnf_file_channel_count(r) == (channel == 0 ? uint64_t(f.channels) : 1u));
    QN_FUZZ_ASSERT(qnf_file_duration(r) > 0);
    for (uint64_t c = 0; c < qnf_file_channel_count(r); ++c) {
        const qnf_channel_result *ch = qnf_file_channel(r, c);
        if (qnf_channel_error(ch) != nullptr) continue;
        for (uint64_t m = 0; m < qnf_channel_metric_count(ch); ++m) {
            const qnf_metric_result *metric = qnf_channel_metric(ch, m);
            // Sound levels are dB, -inf for silence; the others finite and
            // not negative.
            const bool levels = std::strcmp(qnf_metric_name(metric), "spl") == 0;
            for (uint64_t v = 0; v < qnf_metric_value_count(metric); ++v) {
                double value = -1;
                QN_FUZZ_ASSERT(qnf_metric_value(metric, v, nullptr, &value, nullptr) == QN_STATUS_SUCCESS);
                QN_FUZZ_ASSERT(levels ? !std::isnan(value) && value < HUGE_VAL : std::isfinite(value) && value >= 0);
            }
        }
    }
}

// Reads the whole file through a reader in blocks of a few frames; every
// sample is finite.
void read_all(const char *path, const qnf_options *o) {
    qnf_reader *reader = nullptr;
    char why[512];
    if (qnf_reader_open(path, o, &reader, why, sizeof why) != QN_STATUS_SUCCESS) {
        QN_FUZZ_ASSERT(reader == nullptr && why[0] != '\0');
        QN_FUZZ_OUTCOME("reader", "refused");
        return;
    }
    qnf_format f{};
    QN_FUZZ_ASSERT(qnf_reader_format(reader, &f) == QN_STATUS_SUCCESS && f.channels_read >= 1);
    std::vector<double> block(static_cast<std::size_t>(f.channels_read) * 1000);
    uint64_t n = 0;
    qnf_status status;
    while ((status = qnf_reader_read(reader, block.data(), 1000, &n, why, sizeof why)) == QN_STATUS_SUCCESS && n > 0)
        for (uint64_t i = 0; i < n * static_cast<uint64_t>(f.channels_read); ++i)
            QN_FUZZ_ASSERT(std::isfinite(block[static_cast<std::size_t>(i)]));
    QN_FUZZ_OUTCOME("reader", status == QN_STATUS_SUCCESS ? "read" : "failed while reading");
    qnf_reader_close(reader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const uint32_t choice = hash(data, size);
    // The bytes as a file that has a name.
    const int fd = memfd_create("fuzz", MFD_CLOEXEC);
    QN_FUZZ_ASSERT(fd >= 0);
    for (std::size_t at = 0; at < size;) {
        const ssize_t n = ::write(fd, data + at, size - at);
        QN_FUZZ_ASSERT(n > 0);
        at += static_cast<std::size_t>(n);
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    qnf_options *o = nullptr;
    QN_FUZZ_ASSERT(qnf_options_create(&o) == QN_STATUS_SUCCESS);
    // A budget that admits the fixed allowance of a file and one analysed
    // channel (the loudness is read block by block, so its need does not
    // grow with the length) and refuses a second channel.
    set(o, "metrics", ((choice >> 13) & 1u) != 0 ? "loudness,spl" : "loudness");
    set(o, "max-memory", "120000000");
    const int channel = (choice >> 8) % 4 == 0 ? 1 : 0;
    set(o, "channel", channel == 0 ? "all" : "1");
    set(o, "resample", ((choice >> 10) & 7u) != 0 ? "1" : "0");

    // The bytes as a calibrator recording.
    set(o, "cal-file", path);
    set(o, "cal-spl", "94");
    qnf_results *results = nullptr;
    char why[512];
    const char *paths[] = {path.c_str()};
    if (qnf_analyze_files(paths, 1, o, nullptr, nullptr, &results, why, sizeof why) == QN_STATUS_SUCCESS) {
        QN_FUZZ_OUTCOME("calibrator", "calibrated");
        qnf_results_destroy(results);
    } else {
        QN_FUZZ_ASSERT(results == nullptr && why[0] != '\0');
        QN_FUZZ_OUTCOME("calibrator", calibrator_kind(why));
    }
    // Analysed with a full-scale level, or as pascal.
    if ((choice & 3u) == 1) set(o, "full-scale-spl", std::to_string(40 + (choice >> 2) % 100));
    else set(o, "pa-per-unit", "1");
    QN_FUZZ_ASSERT(qnf_analyze_files(paths, 1, o, nullptr, nullptr, &results, why, sizeof why) == QN_STATUS_SUCCESS);
    const qnf_file_result *r = qnf_results_file(results, 0);
    QN_FUZZ_OUTCOME("file", kind_of(r));
    check_file(r, channel);
    qnf_results_destroy(results);

    read_all(path.c_str(), o);
    qnf_options_destroy(o);
    ::close(fd);
    return 0;
}
