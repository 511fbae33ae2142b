#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

namespace qcli {

namespace {

std::string reason(const char *what) { return std::string(what) + ": " + std::strerror(errno); }

// The file a path finally names: a symbolic link is followed, so that the
// link stays and its target is replaced.
std::string final_target(const std::string &path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

bool write_stream(std::ostream &stream, const std::function<void(std::ostream &)> &write, std::string &error) {
    try {
        write(stream);
    } catch (const std::bad_alloc &) {
        error = "out of memory while writing";
        return false;
    } catch (const std::exception &e) {
        error = e.what();
        return false;
    }
    stream.flush();
    if (!stream) {
        error = "writing failed";
        return false;
    }
    return true;
}

}  // namespace

bool write_output_file(const std::string &path, const std::function<void(std::ostream &)> &write,
                       std::string &error) noexcept {
    try {
        const std::string target = final_target(path);
        struct stat st {};
        const bool exists = ::stat(target.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode)) {
            error = "is a directory";
            return false;
        }
        if (exists && !S_ISREG(st.st_mode)) {
            std::ofstream direct(target, std::ios::binary | std::ios::trunc);
            if (!direct) {
                error = reason("cannot open");
                return false;
            }
            return write_stream(direct, write, error);
        }

        const auto slash = target.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        std::string temp = (slash == std::string::npos ? std::string() : dir) + "." + base + ".XXXXXX";
        const int fd = ::mkstemp(temp.data());
        if (fd < 0) {
            error = reason(("cannot create a file in " + dir).c_str());
            return false;
        }
        // The new file gets the mode of the one it replaces, or what a newly
        // created file would have.
        mode_t mode = st.st_mode & 07777;
        if (!exists) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        ::fchmod(fd, mode);
        bool ok;
        {
            std::ofstream stream(temp, std::ios::binary | std::ios::trunc);
            ok = stream.is_open() ? write_stream(stream, write, error) : (error = reason("cannot open"), false);
        }
        if (ok && ::fsync(fd) != 0) ok = (error = reason("cannot flush to disk"), false);
        ::close(fd);
        if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = (error = reason("cannot replace the file"), false);
        if (!ok) ::unlink(temp.c_str());
        return ok;
    } catch (const std::exception &e) {
        error = e.what();
        return false;
    }
}

}  // namespace qcli
