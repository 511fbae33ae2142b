#include "audio.h"

#include <sndfile.h>
#include <soxr.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace qcli {

namespace {
struct sndfile_closer {
    void operator()(SNDFILE *f) const { sf_close(f); }
};
}  // namespace

bool read_audio(const std::string &path, audio &out, std::string &error) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, sndfile_closer> file;
    {
        // libsndfile keeps the reason a file would not open in one slot for
        // the whole process: opening one file at a time keeps each reason
        // with its file when several threads analyse files.
        static std::mutex open_lock;
        std::lock_guard<std::mutex> lock(open_lock);
        file.reset(sf_open(path.c_str(), SFM_READ, &info));
        if (!file) {
            error = std::string("cannot read audio: ") + sf_strerror(nullptr);
            return false;
        }
    }
    if (info.channels <= 0 || info.samplerate <= 0) {
        error = "not a usable audio file (no channels or no sample rate)";
        return false;
    }
    if (info.frames <= 0) {
        error = "the file holds no samples";
        return false;
    }
    // libsndfile reads a cut-off WAV or AIFF as far as it goes and only notes
    // in its log that the data chunk is shorter than its header says.
    char log[8192] = {};
    sf_command(file.get(), SFC_GET_LOG_INFO, log, sizeof log);
    for (const char *line = log; *line != '\0';) {
        const char *end = std::strchr(line, '\n');
        const std::string text(line, end ? static_cast<std::size_t>(end - line) : std::strlen(line));
        if ((text.rfind("data", 0) == 0 || text.rfind("SSND", 0) == 0) && text.find("should be") != std::string::npos) {
            error = "truncated: the file holds fewer samples than its header announces";
            return false;
        }
        if (!end) break;
        line = end + 1;
    }
    out.sample_rate = info.samplerate;
    out.channels = info.channels;
    out.samples.assign(static_cast<std::size_t>(info.channels), {});
    for (auto &c : out.samples) c.reserve(static_cast<std::size_t>(info.frames));

    constexpr sf_count_t block = 16384;
    std::vector<double> interleaved(static_cast<std::size_t>(block * info.channels));
    sf_count_t total = 0;
    for (;;) {
        const sf_count_t got = sf_readf_double(file.get(), interleaved.data(), block);
        if (got <= 0) break;
        for (sf_count_t i = 0; i < got; ++i)
            for (int c = 0; c < info.channels; ++c)
                out.samples[static_cast<std::size_t>(c)].push_back(
                    interleaved[static_cast<std::size_t>(i * info.channels + c)]);
        total += got;
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        error = std::string("read error: ") + sf_strerror(file.get());
        return false;
    }
    if (total == 0) {
        error = "the file holds no samples";
        return false;
    }
    if (total < info.frames) {
        error = "truncated: " + std::to_string(total) + " of " + std::to_string(info.frames) + " frames could be read";
        return false;
    }
    out.frames = static_cast<uint64_t>(total);
    return true;
}

bool resample_to_48k(std::vector<double> &channel, int from_rate, std::string &error) {
    if (from_rate == 48000) return true;
    const double ratio = 48000.0 / from_rate;
    std::vector<double> resampled(static_cast<std::size_t>(static_cast<double>(channel.size()) * ratio + 1.0));
    std::size_t done = 0;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    const soxr_error_t e = soxr_oneshot(from_rate, 48000, 1, channel.data(), channel.size(), nullptr,
                                        resampled.data(), resampled.size(), &done, &io, &quality, nullptr);
    if (e != nullptr) {
        error = std::string("resampling failed: ") + e;
        return false;
    }
    resampled.resize(done);
    channel.swap(resampled);
    return true;
}

}  // namespace qcli
