// Reading audio files into per-channel sample arrays, and resampling to the
// library's 48 kHz. Reading is bounded: the caller admits a file from what
// its header declares before a sample is read, and nothing beyond the
// declared length is kept.
#ifndef QUARNELO_CLI_AUDIO_H
#define QUARNELO_CLI_AUDIO_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "input.h"

namespace qcli {

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

// Reads the whole file, deinterleaved block by block so that only the
// per-channel arrays are held. Integer formats come out scaled to +-1 full
// scale, float formats as stored. Refuses, with a one-line reason: what
// libsndfile cannot read, sample rates outside min_sample_rate ...
// max_sample_rate, files without samples, what `admit` refuses (asked
// before reading with the declared length, and again whenever more audio
// comes than was admitted), and files that end before the audio their
// header declares (truncated). Never throws.
bool read_audio(const input_file &file, const admission &admit, audio &out, std::string &error) noexcept;

// The number of samples resample_to_48k makes of `frames` at `from_rate`.
uint64_t resampled_length(uint64_t frames, int from_rate);

// Resamples one channel to 48 kHz (very high quality); false with a reason.
// Never throws.
bool resample_to_48k(std::vector<double> &channel, int from_rate, std::string &error) noexcept;

}  // namespace qcli

#endif
