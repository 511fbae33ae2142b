#include "truncation.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qnf {

namespace {

uint64_t little(const unsigned char *p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

uint64_t big(const unsigned char *p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    return v;
}

// The end of a chunk that starts at `at` with a body of `body` bytes, or
// empty when the sum does not fit.
std::optional<uint64_t> end_of(uint64_t at, uint64_t header, uint64_t body) {
    if (body > UINT64_MAX - at - header) return std::nullopt;
    return at + header + body;
}

// Chunk lists stop being walked after this many chunks: a file of empty
// chunks would otherwise cost one read per eight bytes.
constexpr int max_chunks = 100000;

// RIFF, RIFX, RF64, BW64 (little- or big-endian 32-bit sizes, chunks padded
// to even lengths) and AIFF/AIFC (big-endian): the end of the chunk named
// `data_id`. A 64-bit data size from a "ds64" chunk replaces the 32-bit
// one of RF64 and BW64.
std::optional<uint64_t> walk_iff(const input_file &f, bool big_endian, const char *data_id) {
    uint64_t at = 12;
    std::optional<uint64_t> size64;
    for (int n = 0; n < max_chunks; ++n) {
        unsigned char h[8];
        if (!f.read_at(at, h, sizeof h)) return std::nullopt;
        const uint64_t size = big_endian ? big(h + 4, 4) : little(h + 4, 4);
        if (std::memcmp(h, "ds64", 4) == 0) {
            unsigned char d[16];
            if (f.read_at(at + 8, d, sizeof d)) size64 = little(d + 8, 8);
        }
        if (std::memcmp(h, data_id, 4) == 0) {
            if (size == 0xFFFFFFFFu) {
                if (!size64) return std::nullopt;  // a stream of open length
                return end_of(at, 8, *size64);
            }
            if (size == 0) return std::nullopt;  // some writers leave 0 for "to the end"
            return end_of(at, 8, size);
        }
        const auto next = end_of(at, 8, size + (size & 1u));
        if (!next) return std::nullopt;
        at = *next;
    }
    return std::nullopt;
}

// Sony Wave64: 16-byte chunk GUIDs, 64-bit sizes that include the 24-byte
// chunk header, chunks aligned to 8 bytes.
std::optional<uint64_t> walk_w64(const input_file &f) {
    static constexpr unsigned char data_guid[16] = {'d',  'a',  't',  'a',  0xF3, 0xAC, 0xD3, 0x11,
                                                    0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
    uint64_t at = 40;
    for (int n = 0; n < max_chunks; ++n) {
        unsigned char h[24];
        if (!f.read_at(at, h, sizeof h)) return std::nullopt;
        const uint64_t size = little(h + 16, 8);
        if (size < 24) return std::nullopt;
        if (std::memcmp(h, data_guid, 16) == 0) return end_of(at, 0, size);
        if (size > UINT64_MAX - 7) return std::nullopt;
        const auto next = end_of(at, 0, (size + 7) & ~uint64_t{7});
        if (!next) return std::nullopt;
        at = *next;
    }
    return std::nullopt;
}

// Apple CAF: big-endian 64-bit sizes, no padding; a data size of -1 leaves
// the length open.
std::optional<uint64_t> walk_caf(const input_file &f) {
    uint64_t at = 8;
    for (int n = 0; n < max_chunks; ++n) {
        unsigned char h[12];
        if (!f.read_at(at, h, sizeof h)) return std::nullopt;
        const uint64_t size = big(h + 4, 8);
        if (std::memcmp(h, "data", 4) == 0) {
            if (size == UINT64_MAX) return std::nullopt;
            return end_of(at, 12, size);
        }
        const auto next = end_of(at, 12, size);
        if (!next) return std::nullopt;
        at = *next;
    }
    return std::nullopt;
}

// Sun/NeXT AU: a fixed header with the data offset and size; a size of
// 0xFFFFFFFF leaves the length open.
std::optional<uint64_t> au_data(const input_file &f, bool big_endian) {
    unsigned char h[12];
    if (!f.read_at(0, h, sizeof h)) return std::nullopt;
    const uint64_t offset = big_endian ? big(h + 4, 4) : little(h + 4, 4);
    const uint64_t size = big_endian ? big(h + 8, 4) : little(h + 8, 4);
    if (size == 0xFFFFFFFFu) return std::nullopt;
    return end_of(offset, 0, size);
}

// Audio Visual Research: a 128-byte header with the frame count, the
// sample size and whether there are two channels.
std::optional<uint64_t> avr_data(const input_file &f) {
    unsigned char h[30];
    if (!f.read_at(0, h, sizeof h)) return std::nullopt;
    const uint64_t channels = big(h + 12, 2) == 0 ? 1 : 2;
    const uint64_t bytes = (big(h + 14, 2) + 7) / 8;
    return 128 + big(h + 26, 4) * channels * bytes;
}

// MATLAB 4: a matrix "samplerate" of one double, then the samples as a
// matrix of channels x frames; each matrix has a 20-byte header (type,
// rows, columns, imaginary flag, name length) and its name. The type's
// first digit gives the byte order, its third the element type.
std::optional<uint64_t> mat4_data(const input_file &f) {
    uint64_t at = 0;
    for (int matrix = 0; matrix < 2; ++matrix) {
        unsigned char h[20];
        if (!f.read_at(at, h, sizeof h)) return std::nullopt;
        const bool big_endian = little(h, 4) > 0xFFFF;  // a small number written the other way round
        auto field = [&](int i) { return big_endian ? big(h + 4 * i, 4) : little(h + 4 * i, 4); };
        static constexpr uint64_t element_bytes[] = {8, 4, 4, 2, 2, 1};
        const uint64_t type = field(0), rows = field(1), columns = field(2), name = field(4);
        if ((type / 10) % 10 > 5 || rows > 0xFFFFFFFFu || columns > 0xFFFFFFFFu) return std::nullopt;
        at += 20 + name + rows * columns * element_bytes[(type / 10) % 10];
    }
    return at;
}

// NIST SPHERE: a text header of the size its second line gives, with the
// sample count, channel count and bytes per sample as "name -type value"
// (type -i for integers, -sN for strings of N characters).
std::optional<uint64_t> nist_data(const input_file &f) {
    std::string header(static_cast<std::size_t>(std::min<uint64_t>(1024, f.size())), '\0');
    if (!f.read_at(0, header.data(), header.size())) return std::nullopt;
    auto field = [&](const char *name) -> std::optional<uint64_t> {
        const auto at = header.find(std::string("\n") + name + " -");
        if (at == std::string::npos) return std::nullopt;
        const auto value = header.find(' ', at + std::strlen(name) + 2);
        if (value == std::string::npos) return std::nullopt;
        return std::strtoull(header.c_str() + value, nullptr, 10);
    };
    const uint64_t size = std::strtoull(header.c_str() + 8, nullptr, 10);
    const auto count = field("sample_count"), channels = field("channel_count"), bytes = field("sample_n_bytes");
    if (!count || !channels || !bytes || *channels > 1024 || *bytes > 8 || *count > (UINT64_MAX >> 14)) return std::nullopt;
    return size + *count * *channels * *bytes;
}

}  // namespace

std::optional<uint64_t> declared_data_end(const input_file &file, int container) {
    unsigned char head[12];
    if (!file.read_at(0, head, sizeof head)) return std::nullopt;
    switch (container) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
        return walk_iff(file, std::memcmp(head, "RIFX", 4) == 0, "data");
    case SF_FORMAT_AIFF:
        return walk_iff(file, true, "SSND");
    case SF_FORMAT_SVX:
        return walk_iff(file, true, "BODY");
    case SF_FORMAT_W64:
        return walk_w64(file);
    case SF_FORMAT_CAF:
        return walk_caf(file);
    case SF_FORMAT_AU:
        return au_data(file, std::memcmp(head, ".snd", 4) == 0);
    case SF_FORMAT_AVR:
        return avr_data(file);
    case SF_FORMAT_NIST:
        return nist_data(file);
    case SF_FORMAT_MAT4:
        return mat4_data(file);
    default:
        return std::nullopt;
    }
}

}  // namespace qnf
