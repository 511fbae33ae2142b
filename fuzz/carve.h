// Carves call arguments out of a fuzzer's input, front to back. When the
// input runs out every further value is zero, so every input is usable.
#ifndef QN_FUZZ_CARVE_H
#define QN_FUZZ_CARVE_H

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
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

    // Room for `needed` values: mostly exactly that, now and then none, one
    // too few or a few more.
    uint64_t room(uint64_t needed) {
        switch (take<uint8_t>() % 8) {
        case 0: return 0;
        case 1: return needed > 0 ? needed - 1 : 0;
        case 2: return needed + range(1, 3);
        default: return needed;
        }
    }

    // `count` samples in pascal: mostly ordinary sound, now and then far
    // beyond it (up to 2^1100 Pa, where squares overflow), and now and then
    // with a NaN or an infinity at a carved place.
    std::vector<double> sound(std::size_t count) {
        const int exponent = flag() ? static_cast<int>(range(0, 40)) - 20 : static_cast<int>(range(0, 1100));
        const double scale = std::ldexp(1.0, exponent) / 32768.0;
        const uint8_t poison = take<uint8_t>();
        std::vector<double> x(count);
        for (double &v : x) v = static_cast<double>(take<int16_t>()) * scale;
        if ((poison & 7u) == 0 && count > 0)
            x[poison % count] = (poison & 8u) ? std::numeric_limits<double>::quiet_NaN()
                                              : std::numeric_limits<double>::infinity();
        return x;
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
