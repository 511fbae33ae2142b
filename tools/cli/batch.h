// Analysing a batch of files: every file is read block by block, each
// block resampled, calibrated and analysed as it comes (channel_analysis),
// so that a file of hours takes little more memory than one of seconds.
// Whatever goes wrong with one file (a damaged header, memory it cannot
// have, a metric the library refuses) becomes that file's error, never the
// end of the batch.
#ifndef QUARNELO_CLI_BATCH_H
#define QUARNELO_CLI_BATCH_H

#include <cstdint>
#include <string>
#include <vector>

#include "audio.h"
#include "channel_analysis.h"
#include "memory.h"
#include "report.h"

namespace qcli {

// Threads of an analysis: at most this many.
inline constexpr int max_jobs = 256;

// What analysing a file of this format holds at most, estimated from its
// header: a fixed part for the file and each analysed channel (the
// libraries' state, the blocks on their way, the framed windows), the
// frames' totals that N5 and N10 need, and for the ECMA-418-2 metrics the
// whole channel at 48 kHz and their outputs.
struct memory_need {
    uint64_t total = 0;
    uint64_t whole_channel = 0;  // of it, for the metrics that analyse each channel whole
};
memory_need file_memory_need(const audio_format &format, const analysis_options &options);

// One file, start to end, on the calling thread; every failure is in the
// report. Never throws.
file_report analyse_file(const std::string &path, const analysis_options &options, memory_budget &budget) noexcept;

// Files on up to `jobs` threads (fewer when a thread cannot be started),
// which also share the channels and metrics of each file; a progress line
// on standard error when it is a terminal. The reports keep the order of
// the arguments.
std::vector<file_report> analyse_files(const std::vector<std::string> &files, const analysis_options &options,
                                       int jobs, memory_budget &budget);

}  // namespace qcli

#endif
