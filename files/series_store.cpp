#include "series_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace qnf {

namespace {

std::string system_error(const std::string &what) { return what + ": " + std::strerror(errno); }

std::string temporary_directory() {
    const char *dir = std::getenv("TMPDIR");
    return dir != nullptr && dir[0] != '\0' ? dir : "/tmp";
}

}  // namespace

series_spool::~series_spool() {
    if (fd_ >= 0) ::close(fd_);
}

bool series_spool::open(std::string &error) {
    if (fd_ >= 0) return true;
    if (!open_error_.empty()) {
        error = open_error_;
        return false;
    }
    const std::string dir = temporary_directory();
    // A file without a name where the file system allows it; else a named
    // one, unlinked at once.
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        std::string name = dir + "/quarnelo-series.XXXXXX";
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ >= 0) ::unlink(name.c_str());
    }
    if (fd_ < 0) {
        open_error_ = system_error("the series cannot be kept in " + dir);
        error = open_error_;
        return false;
    }
    return true;
}

bool series_spool::append(std::span<const double> values, uint64_t &offset, std::string &error) {
    int fd;
    {
        // Each chunk gets its own range; the writes themselves run side by side.
        std::lock_guard<std::mutex> hold(lock_);
        if (!open(error)) return false;
        fd = fd_;
        offset = end_;
        end_ += values.size_bytes();
    }
    const char *p = reinterpret_cast<const char *>(values.data());
    std::size_t left = values.size_bytes();
    uint64_t at = offset;
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, p, left, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            error = system_error("the series cannot be kept in " + temporary_directory());
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
        at += static_cast<uint64_t>(n);
    }
    return true;
}

bool series_spool::read(uint64_t offset, std::span<double> values, std::string &error) const {
    char *p = reinterpret_cast<char *>(values.data());
    std::size_t left = values.size_bytes();
    while (left > 0) {
        const ssize_t n = ::pread(fd_, p, left, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            error = system_error("the series cannot be read back");
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

void value_list::append(std::span<const double> values) {
    if (!spool_) {
        // Without a spool everything stays in memory, in one piece.
        tail_.insert(tail_.end(), values.begin(), values.end());
        return;
    }
    while (!values.empty()) {
        const std::size_t n = std::min(values.size(), chunk_values - std::min(chunk_values, tail_.size()));
        tail_.insert(tail_.end(), values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
        values = values.subspan(n);
        if (tail_.size() >= chunk_values) spill();
    }
}

void value_list::spill() {
    if (!spool_) return;  // without a spool everything stays in memory
    uint64_t offset = 0;
    if (!error_.empty() || !spool_->append(tail_, offset, error_)) {
        tail_.clear();  // the series is lost; error_ says why
        return;
    }
    chunks_.emplace_back(offset, tail_.size());
    spilled_ += tail_.size();
    tail_.clear();
}

void value_list::for_each_chunk(const std::function<void(std::span<const double>)> &f) const {
    if (!chunks_.empty()) {
        std::vector<double> buffer;
        for (const auto &[offset, count] : chunks_) {
            buffer.resize(static_cast<std::size_t>(count));
            std::string error;
            if (!spool_->read(offset, buffer, error)) throw std::runtime_error(error);
            f(buffer);
        }
    }
    if (!tail_.empty()) f(tail_);
}

bool value_list::read(uint64_t offset, std::span<double> out) const {
    // The chunks in the spool, then the tail in memory; each piece of
    // [offset, offset + out.size()) from where it lies.
    uint64_t start = 0;
    std::size_t written = 0;
    std::string error;
    for (const auto &[at, count] : chunks_) {
        if (written == out.size()) return true;
        const uint64_t end = start + count;
        if (offset + written < end) {
            const uint64_t from = offset + written - start;
            const auto n = static_cast<std::size_t>(std::min<uint64_t>(count - from, out.size() - written));
            if (!spool_->read(at + from * sizeof(double), out.subspan(written, n), error)) return false;
            written += n;
        }
        start = end;
    }
    while (written < out.size()) {
        out[written] = tail_[static_cast<std::size_t>(offset + written - start)];
        ++written;
    }
    return true;
}

std::vector<double> value_list::to_vector() const {
    std::vector<double> all;
    all.reserve(static_cast<std::size_t>(size()));
    for_each_chunk([&](std::span<const double> chunk) { all.insert(all.end(), chunk.begin(), chunk.end()); });
    return all;
}

}  // namespace qnf
