#include "text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qcli {

namespace {

std::string system_error(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

bool read_text_input(const std::string &path, uint64_t max_bytes, std::string &out, std::string &error) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer, perhaps for
    // ever; with it the open returns and the file's kind can be examined.
    const int fd = path == "-" ? ::dup(STDIN_FILENO) : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = system_error("cannot read");
        return false;
    }
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (path != "-" && !regular) {
        ::close(fd);
        error = "is not a regular file";
        return false;
    }
    out.clear();
    char block[4096];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) {
            error = system_error("cannot read");
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(block, static_cast<std::size_t>(n));
        if (out.size() > max_bytes) {
            error = "larger than " + std::to_string(max_bytes) + " bytes; not a file of levels";
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool same_file(const std::string &a, const std::string &b) {
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace qcli
