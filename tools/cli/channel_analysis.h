// One channel's analysis as its samples come, block by block: each block is
// resampled to 48 kHz, calibrated and checked, then handed to the analysis
// of each selected metric, which keeps only what its method needs:
// - the ISO 532-1 metrics share the library's loudness meter, which gives
//   the 2 ms frames as they complete and the stationary loudness at the end;
//   the statistics over frames keep one total per frame (8 bytes per 2 ms);
// - the framed metrics (Daniel & Weber roughness, Aures tonality) run on
//   windows of whole frames that overlap by a frame less a hop, each frame
//   from its own samples as in a call on the whole signal;
// - the ECMA-418-2 metrics hold the whole channel and analyse it at the end.
// Each analysis runs its blocks in order on its own serial queue, so a
// file's channels and metrics run side by side on the pool's threads, and
// the framed windows run on any thread. Every value is the one the library
// gives for the whole channel.
#ifndef QUARNELO_CLI_CHANNEL_ANALYSIS_H
#define QUARNELO_CLI_CHANNEL_ANALYSIS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "calibration.h"
#include "metrics.h"
#include "report.h"
#include "series_store.h"
#include "work_pool.h"

namespace qcli {

struct analysis_options {
    std::vector<const metric *> metrics;
    qn_sound_field field = QN_SOUND_FIELD_FREE;
    calibration cal;
    int channel = 0;  // 0: every channel, each on its own; else that channel (from 1)
    bool series = false;
    bool resample = true;
    // Where long series go until they are written; null keeps them in memory.
    std::shared_ptr<series_spool> spool;
};

struct channel_input {
    int sample_rate = 48000;        // of the blocks
    double factor = 1.0;            // Pa per sample unit
    uint64_t expected_samples = 0;  // at 48 kHz, as far as the header tells (room is reserved)
};

class channel_analysis {
public:
    channel_analysis(const analysis_options &options, const channel_input &input, task_group &tasks);
    // Waits for the channel's tasks.
    ~channel_analysis();
    channel_analysis(const channel_analysis &) = delete;
    channel_analysis &operator=(const channel_analysis &) = delete;

    // A block of samples at the input's rate, in sample units; then the end.
    // From one thread, in order.
    void post_block(std::vector<double> block);
    void post_end();
    // The work still queued is dropped (the file has failed).
    void cancel();
    // The results in the order of options.metrics, once every task of the
    // channel has run.
    void report(channel_report &out);

private:
    struct state;
    std::unique_ptr<state> state_;
};

// Every selected metric of one channel already at 48 kHz and in pascal,
// handed on in blocks of `block` samples, on `threads` threads (the calling
// thread and helpers).
void analyse_channel(const std::vector<double> &x, const analysis_options &options, channel_report &out,
                     std::size_t block = 65536, int threads = 1);

}  // namespace qcli

#endif
