// Analysing a batch of files: every file is read, calibrated, resampled and
// analysed on its own, and whatever goes wrong with one file (a damaged
// header, memory it cannot have, a metric the library refuses) becomes that
// file's error, never the end of the batch.
#ifndef QUARNELO_CLI_BATCH_H
#define QUARNELO_CLI_BATCH_H

#include <cstdint>
#include <string>
#include <vector>

#include "audio.h"
#include "calibration.h"
#include "memory.h"
#include "metrics.h"
#include "report.h"

namespace qcli {

struct analysis_options {
    std::vector<const metric *> metrics;
    qn_sound_field field = QN_SOUND_FIELD_FREE;
    calibration cal;
    int channel = 0;  // 0: every channel, each on its own; else that channel (from 1)
    bool series = false;
    bool resample = true;
};

// Files analysed at once: at most this many threads.
inline constexpr int max_jobs = 256;

// The most memory analysing a file of this format needs, estimated from its
// header: the decoded channels, one channel resampled, and what the
// selected metrics hold for it.
uint64_t file_memory_need(const audio_format &format, const analysis_options &options);

// Every selected metric of one channel at 48 kHz, already in pascal.
void analyse_channel(const std::vector<double> &x, const analysis_options &options, channel_report &out);

// One file, start to end; every failure is in the report. Never throws.
file_report analyse_file(const std::string &path, const analysis_options &options, memory_budget &budget) noexcept;

// Files on up to `jobs` threads (fewer when a thread cannot be started);
// the reports keep the order of the arguments.
std::vector<file_report> analyse_files(const std::vector<std::string> &files, const analysis_options &options,
                                       int jobs, memory_budget &budget);

}  // namespace qcli

#endif
