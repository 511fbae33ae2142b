// The progress line on standard error while files are analysed, when it is
// a terminal: the share of each open file's samples read (one bar for a
// single file, a percentage per file when -j opens several), and how many
// files of a batch are done. Lines printed meanwhile (notices) go above it.
#ifndef QUARNELO_CLI_PROGRESS_H
#define QUARNELO_CLI_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace qcli {

struct file_progress {
    std::string name;
    uint64_t frames_read = 0;
    uint64_t frames = 0;  // declared; 0 when unknown
    int sample_rate = 0;
};

// The line for the open files, `done` of `files` finished, at most `width`
// columns.
std::string progress_text(const std::vector<file_progress> &open, std::size_t done, std::size_t files,
                          std::size_t width);

class progress_display {
public:
    // Shows nothing unless `enabled`.
    progress_display(std::size_t files, bool enabled);
    ~progress_display();
    progress_display(const progress_display &) = delete;
    progress_display &operator=(const progress_display &) = delete;

    void started(std::size_t file, const std::string &name, uint64_t frames, int sample_rate);
    void advanced(std::size_t file, uint64_t frames_read);
    void finished(std::size_t file);
    // `line` (with its newline) on standard error, above the progress line.
    void print(const std::string &line);

private:
    void draw(bool now);
    void clear();

    const bool enabled_;
    const std::size_t files_;
    std::mutex lock_;
    std::vector<std::pair<std::size_t, file_progress>> open_;
    std::size_t done_ = 0;
    bool shown_ = false;
    std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace qcli

#endif
