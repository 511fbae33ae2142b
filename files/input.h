// Opening what the tool reads. Every input becomes a regular, seekable file
// of a size fixed when it is opened: a regular file opened without blocking,
// or standard input (or bytes in memory) copied, within a bound, into an
// anonymous memory file. Special files are refused with a reason, so that a
// FIFO without a writer cannot block a batch and /dev/zero cannot be read
// without end.
#ifndef QUARNELO_FILES_INPUT_H
#define QUARNELO_FILES_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "quarnelo_files.h"

namespace qnf {

class input_file {
public:
    input_file() = default;
    ~input_file();
    input_file(input_file &&other) noexcept;
    input_file &operator=(input_file &&other) noexcept;
    input_file(const input_file &) = delete;
    input_file &operator=(const input_file &) = delete;

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Size in bytes when opened; reading never goes beyond it.
    uint64_t size() const { return size_; }
    // A path that opens the same file again ("/proc/self/fd/N"), for
    // readers that want a name.
    std::string reopen_path() const;
    // Reads `n` bytes at `offset`; false when the file has fewer.
    bool read_at(uint64_t offset, void *buffer, std::size_t n) const;

private:
    friend bool adopt(int fd, input_file &out, std::string &error);
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Opens `path` for reading; "-" is standard input, of which at most
// `max_stdin_bytes` are taken. False with a reason ("is a FIFO", "cannot be
// opened: ...", "standard input holds more than ...") and, with `status`,
// QNF_STATUS_MEMORY_LIMIT for the last, QNF_STATUS_UNREADABLE otherwise.
bool open_input(const std::string &path, uint64_t max_stdin_bytes, input_file &out, std::string &error,
                qnf_status *status = nullptr);

// The bytes as an input file.
bool input_from_bytes(const void *data, std::size_t size, input_file &out, std::string &error);

// "1.5 GB", "300 MB", "12 kB", "512 bytes".
std::string byte_text(uint64_t bytes);

}  // namespace qnf

#endif
