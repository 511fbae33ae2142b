// The values of the series that --series adds, kept until the report is
// written. The report comes at the end of a batch, in the order of the
// arguments; the series of an hour of audio run to gigabytes (241 values
// every 2 ms for the time-varying loudness), so a long series goes to a
// temporary file as it is made, in chunks, and is read back by the writers.
#ifndef QUARNELO_FILES_SERIES_STORE_H
#define QUARNELO_FILES_SERIES_STORE_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace qnf {

// One temporary file for every long series of a run, in TMPDIR (or /tmp),
// removed from the directory as soon as it is made; it goes with the
// process. Made at the first write. Appends and reads may come from any
// thread.
class series_spool {
public:
    series_spool() = default;
    ~series_spool();
    series_spool(const series_spool &) = delete;
    series_spool &operator=(const series_spool &) = delete;

    // Writes the values at the end of the file; false with a reason.
    bool append(std::span<const double> values, uint64_t &offset, std::string &error);
    // Reads values written at `offset`; false with a reason.
    bool read(uint64_t offset, std::span<double> values, std::string &error) const;

private:
    bool open(std::string &error);

    std::mutex lock_;
    int fd_ = -1;
    uint64_t end_ = 0;
    std::string open_error_;
};

// A sequence of doubles, appended in order: in memory up to a chunk, and in
// the spool (when there is one) chunk by chunk beyond it.
class value_list {
public:
    value_list() = default;
    explicit value_list(std::vector<double> values) : tail_(std::move(values)) {}
    explicit value_list(std::shared_ptr<series_spool> spool) : spool_(std::move(spool)) {}

    // Values held in memory before a chunk goes to the spool: 1 MB.
    static constexpr std::size_t chunk_values = 131072;

    void push_back(double v) {
        tail_.push_back(v);
        if (tail_.size() >= chunk_values) spill();
    }
    void append(std::span<const double> values);
    uint64_t size() const { return spilled_ + tail_.size(); }
    bool empty() const { return size() == 0; }
    // Empty, or why values could not be kept (the spool could not be written).
    const std::string &error() const { return error_; }

    // Calls `f` with the values in order, a chunk at a time. Throws
    // std::runtime_error when the spool cannot be read.
    void for_each_chunk(const std::function<void(std::span<const double>)> &f) const;
    std::vector<double> to_vector() const;
    // Values offset ... offset + out.size() - 1 (within size()); false when
    // the spool cannot be read.
    bool read(uint64_t offset, std::span<double> out) const;

private:
    void spill();

    std::shared_ptr<series_spool> spool_;
    std::vector<std::pair<uint64_t, uint64_t>> chunks_;  // offset in the spool, values
    uint64_t spilled_ = 0;
    std::vector<double> tail_;
    std::string error_;
};

}  // namespace qnf

#endif
