// Reading audio files block by block (or whole, into per-channel arrays),
// and resampling to the library's 48 kHz as the blocks come. Reading is
// bounded: the caller admits a file from what its header declares before a
// sample is read, and again whenever more audio comes than was admitted.
#ifndef QUARNELO_FILES_AUDIO_H
#define QUARNELO_FILES_AUDIO_H

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "input.h"
#include "quarnelo_files.h"

namespace qnf {

// Sample rates the tool reads, Hz. Below and above lie no recordings of
// sound, only damaged headers (a WAV "at 1 Hz" resampled to 48 kHz would
// grow 48000-fold).
inline constexpr int min_sample_rate = 1000;
inline constexpr int max_sample_rate = 768000;

// What a file's header declares.
struct audio_format {
    int sample_rate = 0;
    int channels = 0;
    uint64_t frames = 0;
};

struct audio {
    int sample_rate = 0;
    int channels = 0;
    uint64_t frames = 0;
    std::vector<std::vector<double>> samples;  // one array per channel
};

// Decides whether a file of this format may be read: false with a reason
// (the memory it would need, say).
using admission = std::function<bool(const audio_format &format, std::string &error)>;

// A file read block by block. Integer formats come out scaled to +-1 full
// scale, float formats as stored. Each step refuses, with a one-line
// reason: open() what libsndfile cannot read, sample rates outside
// min_sample_rate ... max_sample_rate, files without samples or cut off
// before the data their container declares, and what `admit` refuses for
// the declared length; read() read errors and more audio than `admit`
// allows (asked again whenever more comes than was admitted); finish()
// files that end before the frames their header declares (truncated) and
// files that held no samples after all. The file must stay open while the
// reader is used. Never throws.
class audio_reader {
public:
    audio_reader();
    ~audio_reader();
    audio_reader(const audio_reader &) = delete;
    audio_reader &operator=(const audio_reader &) = delete;

    bool open(const input_file &file, const admission &admit, std::string &error) noexcept;
    // As the header declares it; frames is 0 when the length is unknown.
    const audio_format &format() const { return format_; }
    // Reads up to `max_frames` frames, interleaved, into `interleaved`
    // (resized to what was read; empty at the end of the file).
    bool read(uint64_t max_frames, std::vector<double> &interleaved, std::string &error) noexcept;
    bool finish(std::string &error) noexcept;
    uint64_t frames_read() const { return frames_read_; }
    // The status of the last failure of open(), read() or finish():
    // QNF_STATUS_UNREADABLE, _TRUNCATED, _UNSUPPORTED, _MEMORY_LIMIT or
    // QN_STATUS_ALLOCATION_FAILED.
    qnf_status status() const { return status_; }

private:
    struct state;
    std::unique_ptr<state> state_;
    admission admit_;
    audio_format format_;
    uint64_t admitted_ = 0;
    uint64_t frames_read_ = 0;
    qnf_status status_ = QN_STATUS_SUCCESS;
};

// Reads the whole file with an audio_reader into per-channel arrays,
// deinterleaved block by block so that only those arrays are held. Never
// throws.
bool read_audio(const input_file &file, const admission &admit, audio &out, std::string &error) noexcept;

// The number of samples a channel of `frames` at `from_rate` has at 48 kHz.
uint64_t resampled_length(uint64_t frames, int from_rate);

// One channel resampled to 48 kHz (libsoxr, very high quality) as its
// blocks come: what the blocks give together is, bit for bit, what a
// single resampling of the whole channel gives, resampled_length(n) samples
// of n at most. Never throws.
class resampler {
public:
    resampler();
    ~resampler();
    resampler(const resampler &) = delete;
    resampler &operator=(const resampler &) = delete;

    bool start(int from_rate, std::string &error) noexcept;
    // Appends to `out` what `in` completes.
    bool process(std::span<const double> in, std::vector<double> &out, std::string &error) noexcept;
    // Appends the rest, after the last block.
    bool finish(std::vector<double> &out, std::string &error) noexcept;

private:
    struct state;
    std::unique_ptr<state> state_;
};

}  // namespace qnf

#endif
