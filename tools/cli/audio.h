// Reading audio files into per-channel sample arrays, and resampling to the
// library's 48 kHz.
#ifndef QUARNELO_CLI_AUDIO_H
#define QUARNELO_CLI_AUDIO_H

#include <cstdint>
#include <string>
#include <vector>

namespace qcli {

struct audio {
    int sample_rate = 0;
    int channels = 0;
    uint64_t frames = 0;
    std::vector<std::vector<double>> samples;  // one array per channel
};

// Reads the whole file, deinterleaved block by block so that only the
// per-channel arrays are held. Integer formats come out scaled to +-1 full
// scale, float formats as stored. False with a one-line reason on failure.
bool read_audio(const std::string &path, audio &out, std::string &error);

// Resamples one channel to 48 kHz (very high quality); false with a reason.
bool resample_to_48k(std::vector<double> &channel, int from_rate, std::string &error);

}  // namespace qcli

#endif
