// The C interface's reader: the calibrated sound pressure of a file at
// 48 kHz, block by block, through the very steps of an analysis (the same
// opening, resampler and calibration), and the resampling of arrays.
#include <algorithm>
#include <cmath>
#include <deque>
#include <memory>
#include <span>
#include <vector>

#include "api_support.h"
#include "options.h"
#include "source.h"

struct qnf_reader {
    explicit qnf_reader(uint64_t max_memory) : budget(max_memory) {}

    qnf::memory_budget budget;
    qnf::analysis_options options;
    qnf::source src;
    std::vector<int> channels;  // delivered, from 0
    std::vector<std::unique_ptr<qnf::resampler>> resamplers;
    std::vector<std::deque<double>> pending;  // calibrated 48 kHz samples not yet delivered
    std::vector<uint64_t> produced;           // 48 kHz samples of each channel so far
    std::vector<double> block;                // one block as read, interleaved
    qnf::stretch part;                        // of the file, "start" and "end"
    bool at_end = false;
    qnf_status failure = QN_STATUS_SUCCESS;
    std::string reason;
};

namespace qnf {

namespace {

// Resampled, calibrated samples of channel k appended to its queue.
qnf_status take(qnf_reader &r, std::size_t k, std::vector<double> &x, std::string &error) {
    if (!calibrate(x, r.options.cal.factor(r.channels[k]), r.produced[k], error)) return QN_STATUS_NON_FINITE_INPUT;
    r.produced[k] += x.size();
    r.pending[k].insert(r.pending[k].end(), x.begin(), x.end());
    return QN_STATUS_SUCCESS;
}

// Reads one more block of the file into the queues, or the end: that of the
// file, or of the stretch asked for (the rest is not read).
qnf_status fill(qnf_reader &r, std::string &error) {
    const audio_format &format = r.src.format();
    const uint64_t at = r.src.reader.frames_read();
    const bool stretch_done = at >= r.part.end;
    if (!stretch_done && !r.src.reader.read(UINT64_MAX, r.block, error)) return r.src.reader.status();
    if (stretch_done) r.block.clear();
    r.part.cut(r.block, at, format.channels);
    std::vector<double> x;
    if (stretch_done || (r.block.empty() && r.src.reader.frames_read() == at)) {
        if (!stretch_done && !r.src.reader.finish(error)) return r.src.reader.status();
        for (std::size_t k = 0; k < r.channels.size(); ++k) {
            x.clear();
            if (!r.resamplers[k]->finish(x, error)) return QN_STATUS_ALLOCATION_FAILED;
            if (const qnf_status s = take(r, k, x, error); s != QN_STATUS_SUCCESS) return s;
        }
        r.at_end = true;
        return QN_STATUS_SUCCESS;
    }
    const auto stride = static_cast<std::size_t>(format.channels);
    const std::size_t n = r.block.size() / stride;
    if (n == 0) return QN_STATUS_SUCCESS;  // a block before the stretch
    std::vector<double> raw(n);
    for (std::size_t k = 0; k < r.channels.size(); ++k) {
        const auto ch = static_cast<std::size_t>(r.channels[k]);
        for (std::size_t i = 0; i < n; ++i) raw[i] = r.block[i * stride + ch];
        x.clear();
        if (!r.resamplers[k]->process(raw, x, error)) return QN_STATUS_ALLOCATION_FAILED;
        if (const qnf_status s = take(r, k, x, error); s != QN_STATUS_SUCCESS) return s;
    }
    return QN_STATUS_SUCCESS;
}

std::size_t ready(const qnf_reader &r) {
    std::size_t n = SIZE_MAX;
    for (const auto &q : r.pending) n = std::min(n, q.size());
    return r.pending.empty() ? 0 : n;
}

}  // namespace

}  // namespace qnf

using namespace qnf;

extern "C" {

QNF_API qnf_status qnf_reader_open(const char *path, const qnf_options *options, qnf_reader **reader, char *why,
                                   uint64_t why_capacity) {
    if (path == nullptr || options == nullptr || reader == nullptr) {
        write_why(why, why_capacity, qnf_status_string(QN_STATUS_NULL_POINTER));
        return QN_STATUS_NULL_POINTER;
    }
    *reader = nullptr;
    return guarded(why, why_capacity, [&](std::string &error) -> qnf_status {
        auto r = std::make_unique<qnf_reader>(options->max_memory);
        if (const qnf_status s = resolve_options(*options, r->budget, r->options, error); s != QN_STATUS_SUCCESS)
            return s;
        // Reading holds no analysis: what the file's blocks take on their way.
        analysis_options reading = r->options;
        reading.metrics.clear();
        if (const qnf_status s = open_source(path, reading, r->budget, r->src, error); s != QN_STATUS_SUCCESS)
            return s;
        const audio_format &format = r->src.format();
        for (int ch = 0; ch < format.channels; ++ch) {
            if (r->options.channel != 0 && ch + 1 != r->options.channel) continue;
            r->channels.push_back(ch);
            r->resamplers.push_back(std::make_unique<resampler>());
            if (!r->resamplers.back()->start(format.sample_rate, error)) return QN_STATUS_ALLOCATION_FAILED;
        }
        r->part = stretch_of(r->options, format.sample_rate);
        r->pending.resize(r->channels.size());
        r->produced.assign(r->channels.size(), 0);
        *reader = r.release();
        return QN_STATUS_SUCCESS;
    });
}

QNF_API void qnf_reader_close(qnf_reader *reader) { delete reader; }

QNF_API qnf_status qnf_reader_format(const qnf_reader *reader, qnf_format *format) {
    if (reader == nullptr || format == nullptr) return QN_STATUS_NULL_POINTER;
    const audio_format &f = reader->src.format();
    *format = {f.sample_rate,
               f.channels,
               f.frames,
               reader->src.resampled ? 1 : 0,
               static_cast<int32_t>(reader->channels.size()),
               reader->channels.empty() ? 0 : reader->channels.front() + 1};
    return QN_STATUS_SUCCESS;
}

QNF_API qnf_status qnf_reader_calibration(const qnf_reader *reader, int32_t channel, double *pa_per_unit,
                                          char *text, uint64_t text_capacity) {
    if (reader == nullptr) return QN_STATUS_NULL_POINTER;
    if (channel < 0 || static_cast<std::size_t>(channel) >= reader->channels.size())
        return QN_STATUS_INVALID_ARGUMENT;
    try {
        const int ch = reader->channels[static_cast<std::size_t>(channel)];
        if (pa_per_unit != nullptr) *pa_per_unit = reader->options.cal.factor(ch);
        write_why(text, text_capacity, reader->options.cal.describe(ch));
        return QN_STATUS_SUCCESS;
    } catch (...) {
        return QN_STATUS_ALLOCATION_FAILED;
    }
}

QNF_API qnf_status qnf_reader_read(qnf_reader *reader, double *out, uint64_t frame_capacity,
                                   uint64_t *frame_count, char *why, uint64_t why_capacity) {
    if (reader == nullptr || frame_count == nullptr) {
        write_why(why, why_capacity, qnf_status_string(QN_STATUS_NULL_POINTER));
        return QN_STATUS_NULL_POINTER;
    }
    *frame_count = 0;
    return guarded(why, why_capacity, [&](std::string &error) -> qnf_status {
        qnf_reader &r = *reader;
        if (out == nullptr && frame_capacity > 0) return QN_STATUS_NULL_POINTER;
        if (frame_capacity == 0) return QN_STATUS_OUTPUT_TOO_SMALL;
        if (r.failure != QN_STATUS_SUCCESS) {
            error = r.reason;
            return r.failure;
        }
        while (ready(r) == 0 && !r.at_end) {
            const qnf_status s = fill(r, error);
            if (s != QN_STATUS_SUCCESS) {
                r.failure = s;
                r.reason = error;
                r.pending.assign(r.pending.size(), {});
                return s;
            }
        }
        const std::size_t width = r.channels.size();
        const uint64_t n = std::min<uint64_t>(ready(r), frame_capacity);
        for (std::size_t k = 0; k < width; ++k) {
            std::deque<double> &q = r.pending[k];
            for (uint64_t i = 0; i < n; ++i) out[i * width + k] = q[static_cast<std::size_t>(i)];
            q.erase(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(n));
        }
        *frame_count = n;
        return QN_STATUS_SUCCESS;
    });
}

QNF_API qnf_status qnf_resampled_length(uint64_t count, int32_t sample_rate, uint64_t *result) {
    if (result == nullptr) return QN_STATUS_NULL_POINTER;
    if (sample_rate < min_sample_rate || sample_rate > max_sample_rate) return QN_STATUS_INVALID_SAMPLE_RATE;
    *result = resampled_length(count, sample_rate);
    return QN_STATUS_SUCCESS;
}

QNF_API qnf_status qnf_resample(const double *samples, uint64_t count, int32_t sample_rate, double *out,
                                uint64_t out_capacity, uint64_t *out_count) {
    if ((samples == nullptr && count > 0) || out == nullptr || out_count == nullptr) return QN_STATUS_NULL_POINTER;
    if (sample_rate < min_sample_rate || sample_rate > max_sample_rate) return QN_STATUS_INVALID_SAMPLE_RATE;
    const uint64_t need = resampled_length(count, sample_rate);
    if (out_capacity < need) return QN_STATUS_OUTPUT_TOO_SMALL;
    if (overlaps(samples, count, out, need)) return QN_STATUS_INVALID_ARGUMENT;
    for (uint64_t i = 0; i < count; ++i)
        if (!std::isfinite(samples[i])) return QN_STATUS_NON_FINITE_INPUT;
    try {
        resampler r;
        std::vector<double> x;
        std::string error;
        if (!r.start(sample_rate, error) ||
            !r.process(std::span<const double>(samples, static_cast<std::size_t>(count)), x, error) ||
            !r.finish(x, error))
            return QN_STATUS_ALLOCATION_FAILED;
        std::copy(x.begin(), x.end(), out);
        *out_count = x.size();
        return QN_STATUS_SUCCESS;
    } catch (...) {
        return QN_STATUS_ALLOCATION_FAILED;
    }
}

}  // extern "C"
