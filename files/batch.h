// Analysing a batch of files: every file is read block by block, each
// block resampled, calibrated and analysed as it comes (channel_analysis),
// so that a file of hours takes little more memory than one of seconds.
// Whatever goes wrong with one file (a damaged header, memory it cannot
// have, a metric the library refuses) becomes that file's error, never the
// end of the batch.
#ifndef QUARNELO_FILES_BATCH_H
#define QUARNELO_FILES_BATCH_H

#include <cstdint>
#include <string>
#include <vector>

#include "analysis.h"
#include "memory.h"
#include "quarnelo_files.h"
#include "results.h"

namespace qnf {

// Threads of an analysis: at most this many.
inline constexpr int max_jobs = 256;

// Where a run reports its progress (may be empty): qnf_event_fn and its
// argument, called one at a time.
struct event_sink {
    qnf_event_fn fn = nullptr;
    void *user = nullptr;
};

// Files on up to `jobs` threads (fewer when a thread cannot be started),
// which also share the channels and metrics of each file. The results keep
// the order of the paths. Never throws.
std::vector<qnf_file_result> analyse_files(const std::vector<std::string> &paths, const analysis_options &options,
                                           int jobs, memory_budget &budget, const event_sink &events) noexcept;

// A signal in memory, `channels` interleaved, at `sample_rate`, in sample
// units, analysed as a file of that name would be. Never throws.
qnf_file_result analyse_signal(const double *samples, uint64_t frames, int channels, int sample_rate,
                               const std::string &name, const analysis_options &options, int jobs) noexcept;

}  // namespace qnf

#endif
