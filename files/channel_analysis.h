// One channel's analysis as its samples come, block by block: each block is
// resampled to 48 kHz, calibrated and checked, then handed to the analysis
// of each family of metrics asked for (analysis.h). Each analysis runs its
// blocks in order on its own serial queue, so a file's channels and metrics
// run side by side on the pool's threads. Every value is the one the
// library gives for the whole channel.
#ifndef QUARNELO_FILES_CHANNEL_ANALYSIS_H
#define QUARNELO_FILES_CHANNEL_ANALYSIS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis.h"
#include "results.h"
#include "work_pool.h"

namespace qnf {

struct channel_input {
    int sample_rate = 48000;        // of the blocks
    double factor = 1.0;            // Pa per sample unit
    uint64_t expected_samples = 0;  // at 48 kHz, as far as the header tells (room is reserved)
    double start_s = 0;             // where the blocks begin in the file (the series' times start there)
    // The ears of a head recording: the pair both channels' ECMA-418-2
    // analyses feed, and which side this channel is (0 left, 1 right).
    std::shared_ptr<ecma_pair> pair = nullptr;
    int side = 0;
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
    void report(qnf_channel_result &out);

private:
    struct state;
    std::unique_ptr<state> state_;
};

// The binaural result of a head recording's two channels, shaped as a
// channel's (number 0, the file's calibration): each metric of `options`
// that combines ears, with the pair's values, or the failure of either
// channel (or of the combination) as its error.
void report_binaural(const analysis_options &options, ecma_pair &pair, const qnf_channel_result &left,
                     const qnf_channel_result &right, double start_s, qnf_channel_result &out);

// Every selected metric of one channel already at 48 kHz and in pascal,
// handed on in blocks of `block` samples, on `threads` threads (the calling
// thread and helpers).
void analyse_channel(const std::vector<double> &x, const analysis_options &options, qnf_channel_result &out,
                     std::size_t block = 65536, int threads = 1);

}  // namespace qnf

#endif
