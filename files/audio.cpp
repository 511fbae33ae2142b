#include "audio.h"

#include <sndfile.h>
#include <soxr.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

#include "failure.h"
#include "truncation.h"

namespace qnf {

namespace {

struct sndfile_closer {
    void operator()(SNDFILE *f) const { sf_close(f); }
};
using sndfile_ptr = std::unique_ptr<SNDFILE, sndfile_closer>;

// libsndfile keeps the reason a file would not open in one slot for the
// whole process: opening one file at a time keeps each reason with its file
// when several threads read files.
std::mutex open_lock;

// Not every path of libsndfile and libsoxr checks what an allocation
// returns: with the address space used up, some write through a null
// pointer. So a file is opened, and a resampler made, only while a block of
// this size can still be had, one at a time (under a lock), which leaves
// their allocations room.
constexpr std::size_t headroom_bytes = 16u << 20;
std::mutex headroom_lock;

bool headroom() noexcept {
    void *block = std::malloc(headroom_bytes);
    std::free(block);
    return block != nullptr;
}

sndfile_ptr open_sound(const input_file &file, SF_INFO &info, std::string &error) {
    std::lock_guard<std::mutex> lock(open_lock);
    sndfile_ptr sound;
    if (!headroom()) throw std::bad_alloc();
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
// The reason of the exception being handled, for the file's error line,
// and its status. When memory has run out the reason is a text short enough
// to make without memory.
std::string reading_failure(qnf_status &status) noexcept {
    status = QNF_STATUS_UNREADABLE;
    try {
        throw;
    } catch (const std::bad_alloc &) {
    } catch (const std::exception &e) {
        try {
            return std::string("cannot read: ") + e.what();
        } catch (...) {
        }
    } catch (...) {
        return std::string(cannot_read);
    }
    status = QN_STATUS_ALLOCATION_FAILED;
    return std::string(out_of_memory);
}

// True, with the reason, when libsndfile has met an error.
bool read_error(SNDFILE *sound, std::string &error) {
    if (sf_error(sound) == SF_ERR_NO_ERROR) return false;
    error = std::string("read error: ") + sf_strerror(sound);
    return true;
}

uint64_t block_frames(int channels) { return std::max<uint64_t>(1, 65536 / static_cast<uint64_t>(channels)); }

}  // namespace

struct audio_reader::state {
    sndfile_ptr sound;
};

audio_reader::audio_reader() = default;
audio_reader::~audio_reader() = default;

bool audio_reader::open(const input_file &file, const admission &admit, std::string &error) noexcept {
    try {
        SF_INFO info{};
        auto s = std::make_unique<state>();
        status_ = QNF_STATUS_UNREADABLE;
        s->sound = open_sound(file, info, error);
        if (!s->sound) return false;
        if (info.channels <= 0 || info.samplerate <= 0) {
            error = "not a usable audio file (no channels or no sample rate)";
            return false;
        }
        if (info.samplerate < min_sample_rate || info.samplerate > max_sample_rate) {
            status_ = QNF_STATUS_UNSUPPORTED;
            error = "sample rate " + std::to_string(info.samplerate) + " Hz is outside the " +
                    std::to_string(min_sample_rate) + " ... " + std::to_string(max_sample_rate) +
                    " Hz that can be read";
            return false;
        }
        if (info.frames <= 0) {
            error = "the file holds no samples";
            return false;
        }
        if (const auto end = declared_data_end(file, info.format & SF_FORMAT_TYPEMASK); end && *end > file.size()) {
            status_ = QNF_STATUS_TRUNCATED;
            error = "truncated: its header declares audio data up to byte " + std::to_string(*end) +
                    ", the file ends at byte " + std::to_string(file.size());
            return false;
        }
        // A length libsndfile cannot tell (a stream whose last page is
        // damaged) is read as far as memory is admitted, starting from a
        // guess of a frame per byte.
        const bool known = info.frames != SF_COUNT_MAX;
        const audio_format format{info.samplerate, info.channels, known ? static_cast<uint64_t>(info.frames) : 0};
        audio_format first = format;
        if (!known) first.frames = std::max<uint64_t>(file.size(), 65536);
        status_ = QNF_STATUS_MEMORY_LIMIT;
        if (!admit(first, error)) return false;
        state_ = std::move(s);
        admit_ = admit;
        format_ = format;
        admitted_ = first.frames;
        frames_read_ = 0;
        status_ = QN_STATUS_SUCCESS;
        return true;
    } catch (...) {
        error = reading_failure(status_);
    }
    return false;
}

bool audio_reader::read(uint64_t max_frames, std::vector<double> &interleaved, std::string &error) noexcept {
    try {
        const auto channels = static_cast<uint64_t>(format_.channels);
        const uint64_t wanted = std::max<uint64_t>(1, std::min(max_frames, block_frames(format_.channels)));
        interleaved.resize(static_cast<std::size_t>(wanted * channels));
        const sf_count_t got =
            sf_readf_double(state_->sound.get(), interleaved.data(), static_cast<sf_count_t>(wanted));
        const uint64_t n = got > 0 ? static_cast<uint64_t>(got) : 0;
        interleaved.resize(static_cast<std::size_t>(n * channels));
        if (n == 0) {
            status_ = QNF_STATUS_UNREADABLE;
            return !read_error(state_->sound.get(), error);
        }
        if (frames_read_ + n > admitted_) {
            // More audio than the header declares (an estimated length, or
            // none): it is kept only as far as the caller admits it.
            audio_format grown = format_;
            grown.frames = std::max(frames_read_ + n, 2 * admitted_);
            if (!admit_(grown, error)) {
                status_ = QNF_STATUS_MEMORY_LIMIT;
                error = (format_.frames > 0 ? "holds more audio than its header declares: "
                                            : "its length is not declared, and reading it ") +
                        error;
                return false;
            }
            admitted_ = grown.frames;
        }
        frames_read_ += n;
        return true;
    } catch (...) {
        error = reading_failure(status_);
    }
    return false;
}

bool audio_reader::finish(std::string &error) noexcept {
    status_ = QNF_STATUS_UNREADABLE;
    if (read_error(state_->sound.get(), error)) return false;
    if (frames_read_ == 0) {
        error = "the file holds no samples";
        return false;
    }
    status_ = QNF_STATUS_TRUNCATED;
    if (frames_read_ < format_.frames) {
        error = "truncated: " + std::to_string(frames_read_) + " of the " + std::to_string(format_.frames) +
                " frames its header declares could be read";
        return false;
    }
    status_ = QN_STATUS_SUCCESS;
    return true;
}

bool read_audio(const input_file &file, const admission &admit, audio &out, std::string &error) noexcept {
    try {
        audio_reader reader;
        if (!reader.open(file, admit, error)) return false;
        const auto channels = static_cast<std::size_t>(reader.format().channels);
        out.samples.assign(channels, {});
        for (auto &c : out.samples) c.reserve(static_cast<std::size_t>(reader.format().frames));
        std::vector<double> block;
        for (;;) {
            if (!reader.read(UINT64_MAX, block, error)) break;
            if (block.empty()) {
                if (!reader.finish(error)) break;
                out.sample_rate = reader.format().sample_rate;
                out.channels = reader.format().channels;
                out.frames = reader.frames_read();
                return true;
            }
            for (std::size_t i = 0; i < block.size(); i += channels)
                for (std::size_t c = 0; c < channels; ++c) out.samples[c].push_back(block[i + c]);
        }
    } catch (...) {
        qnf_status ignored;
        error = reading_failure(ignored);
    }
    out = audio{};
    return false;
}

uint64_t resampled_length(uint64_t frames, int from_rate) {
    if (from_rate == 48000) return frames;
    const double n = static_cast<double>(frames) * (48000.0 / from_rate) + 1.0;
    return n >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(n);
}

struct resampler::state {
    ~state() {
        if (soxr) soxr_delete(soxr);
    }
    soxr_t soxr = nullptr;
    int from_rate = 48000;
    uint64_t in = 0, out = 0;  // samples taken and given
};

resampler::resampler() = default;
resampler::~resampler() = default;

bool resampler::start(int from_rate, std::string &error) noexcept {
    try {
        auto s = std::make_unique<state>();
        s->from_rate = from_rate;
        if (from_rate != 48000) {
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
            soxr_error_t e = nullptr;
            {
                std::lock_guard<std::mutex> lock(headroom_lock);
                if (!headroom()) throw std::bad_alloc();
                s->soxr = soxr_create(from_rate, 48000, 1, &e, &io, &quality, nullptr);
            }
            if (e != nullptr || s->soxr == nullptr) {
                error = std::string("resampling failed: ") + (e != nullptr ? e : "no resampler");
                return false;
            }
        }
        state_ = std::move(s);
        return true;
    } catch (const std::bad_alloc &) {
        error = out_of_memory;
    }
    return false;
}

namespace {

// Runs libsoxr on `in` (null: the end of the input) until it has taken all
// of it and, at the end, given all it holds; appends what it gives to `out`.
bool run_soxr(soxr_t soxr, const double *in, std::size_t n, double ratio, std::vector<double> &out,
              std::string &error) {
    std::size_t taken = 0;
    for (;;) {
        const std::size_t at = out.size();
        const std::size_t room = static_cast<std::size_t>(static_cast<double>(n - taken) * ratio) + 4096;
        out.resize(at + room);
        std::size_t idone = 0, odone = 0;
        const soxr_error_t e = in != nullptr
                                   ? soxr_process(soxr, in + taken, n - taken, &idone, out.data() + at, room, &odone)
                                   : soxr_process(soxr, nullptr, 0, nullptr, out.data() + at, room, &odone);
        out.resize(at + odone);
        if (e != nullptr) {
            error = std::string("resampling failed: ") + e;
            return false;
        }
        taken += idone;
        if (in != nullptr ? taken >= n && odone < room : odone == 0) return true;
    }
}

}  // namespace

bool resampler::process(std::span<const double> in, std::vector<double> &out, std::string &error) noexcept {
    try {
        state &s = *state_;
        s.in += in.size();
        if (s.soxr == nullptr) {
            out.insert(out.end(), in.begin(), in.end());
            s.out += in.size();
            return true;
        }
        const std::size_t before = out.size();
        if (!in.empty() && !run_soxr(s.soxr, in.data(), in.size(), 48000.0 / s.from_rate, out, error)) return false;
        s.out += out.size() - before;
        return true;
    } catch (const std::bad_alloc &) {
        error = out_of_memory;
    }
    return false;
}

bool resampler::finish(std::vector<double> &out, std::string &error) noexcept {
    try {
        state &s = *state_;
        if (s.soxr == nullptr) return true;
        const std::size_t before = out.size();
        if (!run_soxr(s.soxr, nullptr, 0, 1.0, out, error)) return false;
        // A resampling of the whole channel has room for
        // resampled_length(n) samples and gives no more.
        const uint64_t limit = resampled_length(s.in, s.from_rate);
        const uint64_t given = s.out + (out.size() - before);
        if (given > limit) out.resize(out.size() - static_cast<std::size_t>(given - limit));
        s.out = std::min(given, limit);
        return true;
    } catch (const std::bad_alloc &) {
        error = out_of_memory;
    }
    return false;
}

}  // namespace qnf
