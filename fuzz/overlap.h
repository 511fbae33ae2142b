// Overlapping arrays for the fuzz targets. A target that has made a call
// with separate arrays may make it again with its arrays in one block of
// memory, two of them overlapping: the second call must give what the
// first gave, bit for bit, or refuse with QN_STATUS_INVALID_ARGUMENT
// arrays that overlap in what it touches, having written nothing but its
// frame count.
//
// The choice is read from the last eight bytes of the input, which the
// targets also read as they always did: an input whose last byte is 0xa0
// ... 0xbf asks for the second call; byte -4 picks the pair and the four
// bytes before it the shift. So inputs made before it keep their meaning.
#ifndef QN_FUZZ_OVERLAP_H
#define QN_FUZZ_OVERLAP_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "quarnelo.h"
#include "support/sentinel.h"

struct overlap_choice {
    bool wanted = false;
    uint8_t pair = 0;
    uint32_t shift = 0;
};

inline overlap_choice carve_overlap(const uint8_t *data, std::size_t size) {
    overlap_choice c;
    if (size < 8 || (data[size - 1] & 0xe0u) != 0xa0u) return c;
    c.wanted = true;
    c.pair = data[size - 4];
    std::memcpy(&c.shift, data + size - 8, sizeof c.shift);
    return c;
}

// The arrays of one call in one block: of the arrays that are not empty,
// the pair picked by the choice overlaps, array b starting from size(b)
// doubles before array a to size(a) doubles after it, so from just touching
// on one side to just touching on the other; every other array lies apart.
// Everything is a sentinel until an input is copied in.
class overlap_block {
public:
    // `sizes` in doubles: what each array holds (a frame count is one).
    overlap_block(const std::vector<std::size_t> &sizes, const overlap_choice &choice) : offset_(sizes.size()) {
        std::vector<int> present;
        for (std::size_t k = 0; k < sizes.size(); ++k)
            if (sizes[k] > 0) present.push_back(static_cast<int>(k));
        const std::size_t pairs = present.size() * (present.size() - 1) / 2;
        std::size_t pick = pairs > 0 ? choice.pair % pairs : 0, end = 0;
        for (std::size_t i = 0; i < present.size(); ++i) {
            for (std::size_t j = i + 1; j < present.size(); ++j) {
                if (pick-- == 0) a_ = present[i], b_ = present[j];
            }
        }
        if (a_ >= 0) {
            const std::size_t sa = sizes[a_], sb = sizes[b_];
            const std::size_t s = choice.shift % (sa + sb + 1);  // b at a + s - sb
            offset_[a_] = s < sb ? sb - s : 0;
            offset_[b_] = s < sb ? 0 : s - sb;
            end = std::max(offset_[a_] + sa, offset_[b_] + sb);
        }
        for (std::size_t k = 0; k < sizes.size(); ++k) {
            if (static_cast<int>(k) == a_ || static_cast<int>(k) == b_) continue;
            offset_[k] = end + 1;
            end = offset_[k] + sizes[k];
        }
        block_.assign(end + 1, qn_test::sentinel);
        before_ = block_;
    }

    double *at(int k) { return block_.data() + offset_[k]; }
    uint64_t *count_at(int k) { return reinterpret_cast<uint64_t *>(at(k)); }

    // Copies an input in; the block as the call finds it is kept.
    void fill(int k, const double *values, std::size_t n) {
        if (n > 0) std::memcpy(at(k), values, n * sizeof(double));
        before_ = block_;
    }

    // The second call against the first: the same status, and the same bits
    // in what the first wrote (`written` doubles of each array, compared
    // with `results`, its arrays), nothing else written but a frame count
    // (array `count`, -1 for none) after a failure; or a refusal of two
    // arrays that overlap in what the call touches (`extents`), nothing
    // written but the frame count. Gives the outcome, "refused", "in place"
    // (success with the two overlapping), "beside" (success with them apart,
    // or only their room beyond the extents shared) or "failed alike"; null
    // when the rule is broken.
    const char *judge(qn_status status, qn_status reference, const std::vector<const double *> &results,
                      const std::vector<std::size_t> &written, const std::vector<std::size_t> &extents,
                      int count) const {
        const bool refused = status == QN_STATUS_INVALID_ARGUMENT && reference != QN_STATUS_INVALID_ARGUMENT;
        // Extents beyond the block (a count the call refuses first) are cut.
        const auto extent = [&](int k) { return std::min<std::size_t>(extents[k], block_.size()); };
        const bool shared = a_ >= 0 && offset_[a_] < offset_[b_] + extent(b_) && offset_[b_] < offset_[a_] + extent(a_);
        if (refused ? !shared : status != reference) return nullptr;
        std::vector<bool> may_change(block_.size(), false);
        for (std::size_t k = 0; k < offset_.size(); ++k) {
            const bool free_count = static_cast<int>(k) == count && status != QN_STATUS_SUCCESS;
            const std::size_t n = free_count ? 1 : refused ? 0 : written[k];
            for (std::size_t i = 0; i < n; ++i) may_change[offset_[k] + i] = true;
            if (!refused && !free_count && written[k] > 0 &&
                std::memcmp(block_.data() + offset_[k], results[k], written[k] * sizeof(double)) != 0)
                return nullptr;
        }
        for (std::size_t i = 0; i < block_.size(); ++i) {
            if (!may_change[i] && std::memcmp(&block_[i], &before_[i], sizeof(double)) != 0) return nullptr;
        }
        if (refused) return "refused";
        if (status != QN_STATUS_SUCCESS) return "failed alike";
        return shared ? "in place" : "beside";
    }

private:
    std::vector<double> block_, before_;
    std::vector<std::size_t> offset_;
    int a_ = -1, b_ = -1;
};

#endif
