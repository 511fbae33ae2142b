// Carves call arguments out of a fuzzer's input, front to back. When the
// input runs out every further value is zero, so every input is usable.
#ifndef QN_FUZZ_CARVE_H
#define QN_FUZZ_CARVE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "quarnelo.h"

class carver {
public:
    carver(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    std::size_t remaining() const { return size_ - pos_; }

    template <class T>
    T take() {
        T value{};
        const std::size_t n = remaining() < sizeof(T) ? remaining() : sizeof(T);
        if (n > 0) std::memcpy(&value, data_ + pos_, n);
        pos_ += n;
        return value;
    }

    // A value in [lo, hi].
    uint64_t range(uint64_t lo, uint64_t hi) {
        const uint64_t v = take<uint64_t>();
        return hi - lo == UINT64_MAX ? v : lo + v % (hi - lo + 1);
    }

    bool flag() { return (take<uint8_t>() & 1u) != 0; }

    // Either a raw double (NaN, infinities and huge values included) or one
    // mapped into [lo, hi], so that both the refusals and the numerical
    // paths behind them are reached.
    double value(double lo, double hi) {
        const uint8_t mode = take<uint8_t>();
        if ((mode & 7u) == 0) return take<double>();
        const double u = static_cast<double>(take<uint32_t>()) / 4294967295.0;
        return lo + (hi - lo) * u;
    }

    // The rest of the input as doubles, scaled by `scale`.
    std::vector<double> rest_as_doubles(std::size_t max_count, double scale) {
        std::vector<double> out;
        while (remaining() > 0 && out.size() < max_count) {
            const int16_t raw = take<int16_t>();
            out.push_back(static_cast<double>(raw) * scale);
        }
        return out;
    }

private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Every status the library may return.
inline bool known_status(qn_status s) { return s >= QN_STATUS_SUCCESS && s <= QN_STATUS_NUMERICAL_FAILURE; }

// On standard error, which is not buffered: the trap ends the process
// before a buffer would be written.
#define QN_FUZZ_ASSERT(cond)                                                                      \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            std::fprintf(stderr, "fuzz assertion failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            __builtin_trap();                                                                     \
        }                                                                                         \
    } while (0)

#endif
