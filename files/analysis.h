// The analyses of one channel, fed block by block: each runs its blocks in
// order on its own serial queue and keeps only what its method needs. One
// analysis serves every metric of its family (metrics.h); the channel
// (channel_analysis.h) makes one per family asked for and hands each block
// to all of them.
#ifndef QUARNELO_FILES_ANALYSIS_H
#define QUARNELO_FILES_ANALYSIS_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calibration.h"
#include "metrics.h"
#include "series_store.h"
#include "statistics.h"
#include "work_pool.h"

namespace qnf {

struct analysis_options {
    std::vector<const metric *> metrics;
    qn_sound_field field = QN_SOUND_FIELD_FREE;
    calibration cal;
    int channel = 0;  // 0: every channel, each on its own; else that channel (from 1)
    bool series = false;       // the analyses keep their series (for the caller, or a series file)
    bool keep_series = false;  // the results keep them for the caller
    std::string series_dir;    // where each file's series file goes; empty: none
    std::string series_name;   // its name for a run of one file; empty: series_file_names()
    bool resample = true;
    // Two channels are the two ears of a head recording: the ECMA-418-2
    // metrics that combine ears get a binaural result beside them.
    bool binaural = true;
    statistics_settings statistics;
    double start_s = 0;              // the stretch of each file analysed, in its own time
    std::optional<double> end_s;     // to its end when not set
    // The sharpness weighting, and the samples of each interval of the
    // third-octave band levels' series.
    qn_sharpness_weighting sharpness_weighting = QN_SHARPNESS_DIN;
    uint64_t band_step = default_band_step;
    // Where long series go until they are read; null keeps them in memory.
    std::shared_ptr<series_spool> spool;

    bool selected(metric_id id) const;
    bool selected(family group) const;
};

using block_ptr = std::shared_ptr<const std::vector<double>>;

class analysis {
public:
    explicit analysis(task_group &tasks) : queue_(tasks.pool()) {}
    virtual ~analysis() = default;
    serial_queue &queue() { return queue_; }
    // On the queue, in order: 48 kHz samples in Pa, then the end.
    virtual void add(const block_ptr &block) = 0;
    virtual void finish() = 0;
    // Once finished: the metric's result, or false with the reason.
    virtual bool result(const metric &m, metric_result &out, std::string &error) = 0;

private:
    serial_queue queue_;
};

// ISO 532-1 loudness, time-varying loudness and sharpness, from one
// loudness meter. `expected_samples` (at 48 kHz, 0 when unknown) reserves
// the frame totals.
std::unique_ptr<analysis> make_meter_analysis(const analysis_options &o, uint64_t expected_samples,
                                              task_group &tasks);

// One framed metric (Daniel & Weber roughness, Aures tonality): windows of
// whole frames, each computed on any thread.
std::unique_ptr<analysis> make_framed_analysis(const metric &m, const analysis_options &o, task_group &tasks);

// The two ears of a head recording, for the ECMA-418-2 metrics of `o` that
// combine them (metric::binaural): the analyses of the two channels hand it
// their frames, side 0 and side 1, and it reduces their combination per
// frame and band (qn_ecma_binaural) as one ear's frames. Null when no such
// metric is asked for.
class ecma_pair;
std::shared_ptr<ecma_pair> make_ecma_pair(const analysis_options &o, uint64_t expected_samples);
// Once both sides are finished: metric `m`'s combined result, or false with
// the reason.
bool ecma_pair_result(ecma_pair &pair, const metric &m, metric_result &out, std::string &error);
// Tells the pair that a side will deliver no more frames (its input
// failed): nothing is combined any more.
void abandon_ecma_pair(ecma_pair &pair, const std::string &reason);

// The ECMA-418-2 metrics of the channel, through one stream of the hearing
// model, frame by frame as the blocks come; side `side` of `pair` when the
// channel is an ear of a head recording.
std::unique_ptr<analysis> make_ecma_analysis(const analysis_options &o, uint64_t expected_samples,
                                             task_group &tasks, std::shared_ptr<ecma_pair> pair = nullptr,
                                             int side = 0);

// The sound levels and the third-octave band levels of the channel, from
// the library's sound level meter and band-level meter.
std::unique_ptr<analysis> make_levels_analysis(const analysis_options &o, uint64_t expected_samples,
                                               task_group &tasks);

// A series that goes to the spool (when there is one) as it grows.
inline value_list new_series(const analysis_options &o) { return value_list(o.spool); }

}  // namespace qnf

#endif
