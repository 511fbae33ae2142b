#include "audio.h"

#include <sndfile.h>
#include <soxr.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>

#include "truncation.h"

namespace qcli {

namespace {

struct sndfile_closer {
    void operator()(SNDFILE *f) const { sf_close(f); }
};
using sndfile_ptr = std::unique_ptr<SNDFILE, sndfile_closer>;

// libsndfile keeps the reason a file would not open in one slot for the
// whole process: opening one file at a time keeps each reason with its file
// when several threads read files.
std::mutex open_lock;

sndfile_ptr open_sound(const input_file &file, SF_INFO &info, std::string &error) {
    std::lock_guard<std::mutex> lock(open_lock);
    sndfile_ptr sound;
    // By name where /proc gives one: libsndfile recognises some formats
    // (MPEG audio without a tag) only when it opens a name.
    const std::string path = file.reopen_path();
    if (::access(path.c_str(), R_OK) == 0) {
        sound.reset(sf_open(path.c_str(), SFM_READ, &info));
    } else {
        const int fd = ::dup(file.fd());
        if (fd >= 0) {
            ::lseek(fd, 0, SEEK_SET);
            sound.reset(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
            if (!sound) ::close(fd);
        }
    }
    if (!sound) error = std::string("cannot read audio: ") + sf_strerror(nullptr);
    return sound;
}

// Frames read per block: the interleaved block stays near 512 kB whatever
// the number of channels.
sf_count_t block_frames(int channels) { return std::max<sf_count_t>(1, 65536 / channels); }

// Reads every frame, holding at most what `admit` allows beyond the
// `admitted` frames. format.frames is the declared length (0: unknown).
bool read_samples(SNDFILE *sound, const audio_format &format, uint64_t admitted, const admission &admit, audio &out,
                  std::string &error) {
    const auto channels = static_cast<std::size_t>(format.channels);
    out.samples.assign(channels, {});
    for (auto &c : out.samples) c.reserve(static_cast<std::size_t>(admitted));

    const sf_count_t block = block_frames(format.channels);
    std::vector<double> interleaved(static_cast<std::size_t>(block) * channels);
    uint64_t total = 0;
    for (;;) {
        const sf_count_t got = sf_readf_double(sound, interleaved.data(), block);
        if (got <= 0) break;
        const auto n = static_cast<uint64_t>(got);
        if (total + n > admitted) {
            // More audio than the header declares (an estimated length, or
            // none): it is kept only as far as the caller admits it.
            audio_format grown = format;
            grown.frames = std::max(total + n, 2 * admitted);
            if (!admit(grown, error)) {
                error = (format.frames > 0 ? "holds more audio than its header declares: "
                                           : "its length is not declared, and reading it ") +
                        error;
                return false;
            }
            admitted = grown.frames;
        }
        for (sf_count_t i = 0; i < got; ++i)
            for (std::size_t c = 0; c < channels; ++c)
                out.samples[c].push_back(interleaved[static_cast<std::size_t>(i) * channels + c]);
        total += n;
    }
    if (sf_error(sound) != SF_ERR_NO_ERROR) {
        error = std::string("read error: ") + sf_strerror(sound);
        return false;
    }
    if (total == 0) {
        error = "the file holds no samples";
        return false;
    }
    if (total < format.frames) {
        error = "truncated: " + std::to_string(total) + " of the " + std::to_string(format.frames) +
                " frames its header declares could be read";
        return false;
    }
    out.sample_rate = format.sample_rate;
    out.channels = format.channels;
    out.frames = total;
    return true;
}

}  // namespace

bool read_audio(const input_file &file, const admission &admit, audio &out, std::string &error) noexcept {
    try {
        SF_INFO info{};
        const sndfile_ptr sound = open_sound(file, info, error);
        if (!sound) return false;
        if (info.channels <= 0 || info.samplerate <= 0) {
            error = "not a usable audio file (no channels or no sample rate)";
            return false;
        }
        if (info.samplerate < min_sample_rate || info.samplerate > max_sample_rate) {
            error = "sample rate " + std::to_string(info.samplerate) + " Hz is outside the " +
                    std::to_string(min_sample_rate) + " ... " + std::to_string(max_sample_rate) +
                    " Hz the tool reads";
            return false;
        }
        if (info.frames <= 0) {
            error = "the file holds no samples";
            return false;
        }
        if (const auto end = declared_data_end(file, info.format & SF_FORMAT_TYPEMASK); end && *end > file.size()) {
            error = "truncated: its header declares audio data up to byte " + std::to_string(*end) +
                    ", the file ends at byte " + std::to_string(file.size());
            return false;
        }
        // A length libsndfile cannot tell (a stream whose last page is
        // damaged) is read as far as memory is admitted, starting from a
        // guess of a frame per byte.
        const bool known = info.frames != SF_COUNT_MAX;
        audio_format format{info.samplerate, info.channels, known ? static_cast<uint64_t>(info.frames) : 0};
        audio_format first = format;
        if (!known) first.frames = std::max<uint64_t>(file.size(), 65536);
        if (!admit(first, error)) return false;
        return read_samples(sound.get(), format, first.frames, admit, out, error);
    } catch (const std::bad_alloc &) {
        error = "out of memory while reading";
    } catch (const std::exception &e) {
        error = std::string("cannot read: ") + e.what();
    }
    out = audio{};
    return false;
}

uint64_t resampled_length(uint64_t frames, int from_rate) {
    if (from_rate == 48000) return frames;
    const double n = static_cast<double>(frames) * (48000.0 / from_rate) + 1.0;
    return n >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(n);
}

bool resample_to_48k(std::vector<double> &channel, int from_rate, std::string &error) noexcept {
    if (from_rate == 48000) return true;
    try {
        std::vector<double> resampled(static_cast<std::size_t>(resampled_length(channel.size(), from_rate)));
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
    } catch (const std::bad_alloc &) {
        error = "out of memory while resampling";
    } catch (const std::exception &e) {
        error = std::string("resampling failed: ") + e.what();
    }
    return false;
}

}  // namespace qcli
