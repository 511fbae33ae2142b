#include "source.h"

#include <algorithm>
#include <cmath>

namespace qnf {

namespace {

// Fixed costs of a file: libsndfile's state, the read block, the library's
// per-call work.
constexpr double fixed_bytes = 64e6;

// Of each analysed channel: the resampler's state, the meter's frames of a
// call, a framed window and a chunk of each series.
constexpr double channel_bytes = 16e6;

// Of each channel with ECMA-418-2 metrics: the stream's working set (about
// 14 MiB with tonality and roughness, 40 MiB with fluctuation strength as
// well), the frames of a block, and the samples held before it starts
// (1.4 s).
constexpr double ecma_channel_bytes = 24e6;
constexpr double ecma_fluctuation_bytes = 28e6;

// Of a head recording's binaural result: the frames of the ear ahead that
// wait for the other's (the samples on their way, as loudness frames) and
// a chunk of each series.
constexpr double binaural_bytes = 16e6;

uint64_t saturated(double bytes) { return bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(bytes); }

uint64_t frame_at(double seconds, int sample_rate) {
    const double frame = std::floor(seconds * sample_rate + 0.5);
    return frame >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(frame);
}

}  // namespace

stretch stretch_of(const analysis_options &options, int sample_rate) {
    stretch s;
    s.first = frame_at(options.start_s, sample_rate);
    if (options.end_s) s.end = std::max(s.first, frame_at(*options.end_s, sample_rate));
    return s;
}

void stretch::cut(std::vector<double> &block, uint64_t at, int channels) const {
    const auto width = static_cast<uint64_t>(channels);
    const uint64_t frames = block.size() / width;
    const uint64_t from = std::min(frames, first > at ? first - at : 0);
    const uint64_t to = std::max(from, std::min(frames, end > at ? end - at : 0));
    if (from == 0 && to == frames) return;
    block.erase(block.begin() + static_cast<std::ptrdiff_t>(to * width), block.end());
    block.erase(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(from * width));
}

memory_need file_memory_need(const audio_format &format, const analysis_options &options) {
    const uint64_t frames = stretch_of(options, format.sample_rate).frames_of(format.frames);
    const double n48 = static_cast<double>(resampled_length(frames, format.sample_rate));
    // Percentiles keep each counted frame's value, 8 bytes; some metrics
    // keep values whatever the options.
    double kept = 0, kept_binaural = 0;
    bool ecma = false, fluctuation = false, binaural = false;
    for (const metric *m : options.metrics) {
        double bytes = m->bytes_per_sample * n48;
        if (m->statistics.series >= 0 && m->hop > 0 && !options.statistics.percentiles_of(*m).empty())
            bytes += 8 * (n48 / static_cast<double>(m->hop) + 1);
        kept += bytes;
        ecma = ecma || m->group == family::ecma;
        fluctuation = fluctuation || m->ecma == QN_ECMA_FLUCTUATION;
        if (m->binaural) {
            binaural = true;
            kept_binaural += bytes;
        }
    }
    const double analysed = options.channel == 0 ? format.channels : 1;
    const double per_channel = channel_bytes + kept + (ecma ? ecma_channel_bytes : 0) +
                                (fluctuation ? ecma_fluctuation_bytes : 0);
    const bool pair = binaural && options.binaural && options.channel == 0 && format.channels == 2;
    memory_need need;
    need.total = saturated(fixed_bytes + static_cast<double>(in_flight_bytes) + analysed * per_channel +
                           (pair ? binaural_bytes + kept_binaural : 0));
    return need;
}

qnf_status open_source(const std::string &path, const analysis_options &options, memory_budget &budget,
                       source &out, std::string &error) {
    qnf_status status = QNF_STATUS_UNREADABLE;
    if (!open_input(path, std::min(budget.total(), max_stdin_bytes), out.input, error, &status)) return status;
    // Standard input is held in memory as well.
    const uint64_t held_input = path == "-" ? out.input.size() : 0;
    out.hold = std::make_unique<memory_hold>(&budget);
    memory_hold &hold = *out.hold;
    bool first = true;
    const admission admit = [&options, &hold, held_input, first](const audio_format &format,
                                                                 std::string &reason) mutable {
        const memory_need need = file_memory_need(format, options);
        const uint64_t total = need.total > UINT64_MAX - held_input ? UINT64_MAX : need.total + held_input;
        const bool ok = hold.grow_to(total, first, reason);
        first = false;
        return ok;
    };
    if (!out.reader.open(out.input, admit, error)) return out.reader.status();
    const audio_format &format = out.reader.format();
    if (options.channel > format.channels) {
        error = "has " + std::to_string(format.channels) + " channel(s), channel " + std::to_string(options.channel) +
                " asked for";
        return QNF_STATUS_UNSUPPORTED;
    }
    if (format.sample_rate != QN_SAMPLE_RATE) {
        if (!options.resample) {
            error = "sample rate " + std::to_string(format.sample_rate) +
                    " Hz; the metrics need 48000 Hz (resampling is off: --no-resample)";
            return QNF_STATUS_UNSUPPORTED;
        }
        out.resampled = true;
    }
    return QN_STATUS_SUCCESS;
}

}  // namespace qnf
