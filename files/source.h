// Opening a file for reading or analysis, one way for both: the input (a
// regular file, or standard input held in memory), libsndfile's reader, the
// checks of its format against the options (the channel asked for, the
// sample rate and resampling), and its admission against the memory budget
// from what its header declares, before a sample is read.
#ifndef QUARNELO_FILES_SOURCE_H
#define QUARNELO_FILES_SOURCE_H

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis.h"
#include "audio.h"
#include "input.h"
#include "memory.h"
#include "quarnelo_files.h"

namespace qnf {

struct source {
    input_file input;
    audio_reader reader;
    std::unique_ptr<memory_hold> hold;  // the file's share of the budget, until it goes
    bool resampled = false;             // not at 48 kHz: resampled as it is read

    const audio_format &format() const { return reader.format(); }
};

// The stretch of a file that is analysed (options "start" and "end"), in
// frames at its own rate: from `first` up to `end`, which it excludes. A
// time t is the frame floor(t rate + 0.5), the nearest; frames beyond the
// file are not there.
struct stretch {
    uint64_t first = 0;
    uint64_t end = UINT64_MAX;

    // The frames of a file of `frames` frames (UINT64_MAX when unknown) the
    // stretch holds.
    uint64_t frames_of(uint64_t frames) const { return std::min(frames, end) - std::min(frames, first); }
    // Cuts a block of `frames` interleaved frames of `channels` that began
    // at frame `at` of the file to the part within the stretch.
    void cut(std::vector<double> &block, uint64_t at, int channels) const;
};
stretch stretch_of(const analysis_options &options, int sample_rate);

// What analysing a file of this format holds at most, estimated from its
// header (the stretch of it analysed): a fixed part for the file and each
// analysed channel (the libraries' state, the blocks on their way, the
// framed windows, the ECMA-418-2 stream's working set), and the frames'
// values that percentiles and the ECMA-418-2 roughness value need (N5 and
// N10 of loudness-time: 8 bytes per 2 ms), for each channel and for the
// binaural result of a head recording.
struct memory_need {
    uint64_t total = 0;
};
memory_need file_memory_need(const audio_format &format, const analysis_options &options);

// Standard input is held in memory (a file's reader seeks): at most this
// much of it, so that an endless stream is refused before it takes much.
inline constexpr uint64_t max_stdin_bytes = 512ull << 20;

// Samples of a file on their way to its analyses (blocks waiting in the
// queues, framed windows waiting for a thread): the reader waits beyond it.
inline constexpr uint64_t in_flight_bytes = 32u << 20;

// Opens `path` ("-": standard input) for the options' metrics and channel;
// QN_STATUS_SUCCESS, or the status of the failure with its reason.
qnf_status open_source(const std::string &path, const analysis_options &options, memory_budget &budget,
                       source &out, std::string &error);

}  // namespace qnf

#endif
