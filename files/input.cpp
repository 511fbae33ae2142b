#include "input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qnf {

bool adopt(int fd, input_file &out, std::string &error);

namespace {

const char *kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "is a directory";
    if (S_ISFIFO(mode)) return "is a FIFO (named pipe), not a regular file; give '-' to read standard input";
    if (S_ISCHR(mode)) return "is a character device, not a regular file";
    if (S_ISBLK(mode)) return "is a block device, not a regular file";
    if (S_ISSOCK(mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

std::string system_error(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

bool write_all(int fd, const char *data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

int memory_file() { return memfd_create("quarnelo-input", MFD_CLOEXEC); }

// Copies what `fd` delivers into a memory file, at most `limit` bytes.
// `too_large` tells when the limit was reached.
bool copy_bounded(int fd, uint64_t limit, input_file &out, std::string &error, bool &too_large) {
    const int copy = memory_file();
    if (copy < 0) {
        error = system_error("cannot make a memory file for standard input");
        return false;
    }
    std::vector<char> block(1 << 16);
    uint64_t total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = system_error("cannot read standard input");
            ::close(copy);
            return false;
        }
        if (n == 0) break;
        total += static_cast<uint64_t>(n);
        if (total > limit) {
            error = "standard input holds more than " + byte_text(limit) + ", more than is kept in memory; give the file by its name";
            too_large = true;
            ::close(copy);
            return false;
        }
        if (!write_all(copy, block.data(), static_cast<std::size_t>(n))) {
            error = system_error("cannot keep standard input in memory");
            ::close(copy);
            return false;
        }
    }
    return adopt(copy, out, error);
}

}  // namespace

input_file::~input_file() {
    if (fd_ >= 0) ::close(fd_);
}

input_file::input_file(input_file &&other) noexcept : fd_(other.fd_), size_(other.size_) { other.fd_ = -1; }

input_file &input_file::operator=(input_file &&other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        size_ = other.size_;
        other.fd_ = -1;
    }
    return *this;
}

std::string input_file::reopen_path() const { return "/proc/self/fd/" + std::to_string(fd_); }

bool input_file::read_at(uint64_t offset, void *buffer, std::size_t n) const {
    if (offset > size_ || n > size_ - offset) return false;
    char *p = static_cast<char *>(buffer);
    while (n > 0) {
        const ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

// Takes `fd` over when it is a regular file; closes it otherwise.
bool adopt(int fd, input_file &out, std::string &error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = system_error("cannot examine the file");
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = kind_of(st.st_mode);
        ::close(fd);
        return false;
    }
    input_file file;
    file.fd_ = fd;
    file.size_ = static_cast<uint64_t>(st.st_size);
    out = std::move(file);
    return true;
}

bool open_input(const std::string &path, uint64_t max_stdin_bytes, input_file &out, std::string &error,
                qnf_status *status) {
    if (status != nullptr) *status = QNF_STATUS_UNREADABLE;
    if (path == "-") {
        struct stat st {};
        // Standard input redirected from a regular file is that file.
        if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
            const int fd = ::dup(STDIN_FILENO);
            if (fd < 0) {
                error = system_error("cannot use standard input");
                return false;
            }
            return adopt(fd, out, error);
        }
        bool too_large = false;
        if (copy_bounded(STDIN_FILENO, max_stdin_bytes, out, error, too_large)) return true;
        if (status != nullptr && too_large) *status = QNF_STATUS_MEMORY_LIMIT;
        return false;
    }
    // Without O_NONBLOCK, opening a FIFO waits for a writer, perhaps for
    // ever; with it the open returns and the file's kind can be examined.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = system_error("cannot read");
        return false;
    }
    return adopt(fd, out, error);
}

bool input_from_bytes(const void *data, std::size_t size, input_file &out, std::string &error) {
    const int fd = memory_file();
    if (fd < 0) {
        error = system_error("cannot make a memory file");
        return false;
    }
    if (!write_all(fd, static_cast<const char *>(data), size)) {
        error = system_error("cannot fill a memory file");
        ::close(fd);
        return false;
    }
    return adopt(fd, out, error);
}

std::string byte_text(uint64_t bytes) {
    char text[32];
    const double b = static_cast<double>(bytes);
    if (b >= 1e9) std::snprintf(text, sizeof text, "%.3g GB", b / 1e9);
    else if (b >= 1e6) std::snprintf(text, sizeof text, "%.3g MB", b / 1e6);
    else if (b >= 1e3) std::snprintf(text, sizeof text, "%.3g kB", b / 1e3);
    else std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    return text;
}

}  // namespace qnf
