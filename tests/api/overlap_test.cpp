// Buffers that share memory: every computing export, with each output laid
// over its input and over every other output at a few offsets, either
// gives the bits it gives with separate buffers or refuses the call with
// QN_STATUS_INVALID_ARGUMENT having written nothing (frame counts aside),
// as its header comment says. Buffers that only touch, and room beyond what
// a call writes, are never refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "quarnelo.h"
#include "support/sentinel.h"
#include "support/signals.h"

using qn_test::sentinel;

namespace {

enum class kind { input, output, count };

// One argument array of an export: what the call reads or writes of it
// (`extent`, in doubles; a frame count is one double's worth), and whether
// the export takes a capacity for it, so that room beyond the extent can be
// offered.
struct buffer {
    const char *name;
    kind role;
    uint64_t extent;
    bool has_capacity;
};

// Calls the export with the arrays at `at` (in the order of `buffers`) and
// their room in doubles.
using export_call = qn_status (*)(double *const *at, const uint64_t *room);

struct export_case {
    const char *name;
    std::vector<buffer> buffers;
    std::vector<double> input;  // the content of the one input, if any
    export_call call;
    std::set<std::pair<int, int>> in_place;  // pairs (lower index first) documented to work in place
};

uint64_t *count_at(double *p) { return reinterpret_cast<uint64_t *>(p); }

constexpr uint64_t time_n = 1000, time_frames = (time_n - 1) / 96 + 1;
constexpr uint64_t ecma_tonal_n = 14592, ecma_tonal_values = 265 * 58;
constexpr uint64_t ecma_rough_n = 15360, ecma_rough_values = 53 * 17;

std::vector<double> levels_60dB() { return std::vector<double>(28, 60.0); }

std::vector<double> a_pattern() {
    std::vector<double> p(240);
    for (std::size_t k = 0; k < p.size(); ++k) p[k] = 0.5 + 0.25 * static_cast<double>(k % 17) / 17.0;
    return p;
}

std::vector<export_case> exports() {
    const buffer loudness{"loudness", kind::output, 1, false};
    const buffer pattern{"specific", kind::output, 240, true};
    const buffer count{"frame count", kind::count, 1, false};
    return {
        {"qn_loudness_from_levels",
         {{"levels", kind::input, 28, false}, loudness, pattern},
         levels_60dB(),
         [](double *const *at, const uint64_t *room) -> qn_status {
             return qn_loudness_from_levels(at[0], 28, QN_SOUND_FIELD_FREE, at[1], at[2], room[2]);
         },
         {{0, 1}, {0, 2}}},
        {"qn_loudness_stationary",
         {{"samples", kind::input, 2000, false}, loudness, pattern},
         qn_test::white_noise(0.1, 2000),
         [](double *const *at, const uint64_t *room) -> qn_status {
             return qn_loudness_stationary(at[0], 2000, 48000, QN_SOUND_FIELD_FREE, at[1], at[2], room[2]);
         },
         {{0, 1}, {0, 2}}},
        {"qn_loudness_time",
         {{"samples", kind::input, time_n, false},
          {"loudness", kind::output, time_frames, true},
          {"specific", kind::output, 240 * time_frames, true},
          count},
         qn_test::sine(1000, 0.2, time_n),
         [](double *const *at, const uint64_t *room) -> qn_status {
             return qn_loudness_time(at[0], time_n, 48000, QN_SOUND_FIELD_FREE, at[1], room[1], at[2], room[2],
                                     count_at(at[3]));
         },
         {}},
        {"qn_loudness_meter_add",
         {{"samples", kind::input, time_n, false},
          {"loudness", kind::output, time_frames, true},
          {"specific", kind::output, 240 * time_frames, true},
          count},
         qn_test::sine(1000, 0.2, time_n),
         [](double *const *at, const uint64_t *room) -> qn_status {
             qn_loudness_meter *meter = nullptr;
             if (qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &meter) != QN_STATUS_SUCCESS)
                 return QN_STATUS_ALLOCATION_FAILED;
             const qn_status s =
                 qn_loudness_meter_add(meter, at[0], time_n, at[1], room[1], at[2], room[2], count_at(at[3]));
             qn_loudness_meter_destroy(meter);
             return s;
         },
         {}},
        {"qn_loudness_meter_stationary",
         {loudness, pattern},
         {},
         [](double *const *at, const uint64_t *room) -> qn_status {
             qn_loudness_meter *meter = nullptr;
             if (qn_loudness_meter_create(48000, QN_SOUND_FIELD_FREE, &meter) != QN_STATUS_SUCCESS)
                 return QN_STATUS_ALLOCATION_FAILED;
             const auto x = qn_test::sine(1000, 0.2, 1000);
             uint64_t frames = 0;
             qn_status s = qn_loudness_meter_add(meter, x.data(), x.size(), nullptr, 0, nullptr, 0, &frames);
             if (s == QN_STATUS_OUTPUT_TOO_SMALL) {
                 std::vector<double> l(frames);
                 s = qn_loudness_meter_add(meter, x.data(), x.size(), l.data(), l.size(), nullptr, 0, &frames);
             }
             if (s == QN_STATUS_SUCCESS) s = qn_loudness_meter_stationary(meter, at[0], at[1], room[1]);
             qn_loudness_meter_destroy(meter);
             return s;
         },
         {}},
        {"qn_sharpness_din",
         {{"specific", kind::input, 240, false}, {"sharpness", kind::output, 1, false}},
         a_pattern(),
         [](double *const *at, const uint64_t *) -> qn_status { return qn_sharpness_din(at[0], 240, at[1]); },
         {{0, 1}}},
        {"qn_roughness_dw",
         {{"samples", kind::input, 14400, false}, {"out", kind::output, 2, true}, count},
         qn_test::am_tone(1000, 70, 1.0, 0.05, 14400),
         [](double *const *at, const uint64_t *room) -> qn_status {
             return qn_roughness_dw(at[0], 14400, 48000, at[1], room[1], count_at(at[2]));
         },
         {{0, 1}, {0, 2}}},
        {"qn_tonality_aures",
         {{"samples", kind::input, 12000, false}, {"out", kind::output, 1, true}, count},
         qn_test::sine(1000, 0.02, 12000),
         [](double *const *at, const uint64_t *room) -> qn_status {
             return qn_tonality_aures(at[0], 12000, 48000, QN_SOUND_FIELD_FREE, at[1], room[1], count_at(at[2]));
         },
         {{0, 1}, {0, 2}}},
        {"qn_ecma_tonal_analysis",
         {{"samples", kind::input, ecma_tonal_n, false},
          {"out", kind::output, ecma_tonal_values, true},
          count},
         qn_test::sine(1000, 0.02, ecma_tonal_n),
         [](double *const *at, const uint64_t *room) -> qn_status {
             return qn_ecma_tonal_analysis(at[0], ecma_tonal_n, 48000, QN_SOUND_FIELD_FREE, at[1], room[1],
                                           count_at(at[2]));
         },
         {}},
        {"qn_roughness_ecma",
         {{"samples", kind::input, ecma_rough_n, false},
          {"out", kind::output, ecma_rough_values, true},
          count},
         qn_test::am_tone(1000, 70, 1.0, 0.05, ecma_rough_n),
         [](double *const *at, const uint64_t *room) -> qn_status {
             return qn_roughness_ecma(at[0], ecma_rough_n, 48000, QN_SOUND_FIELD_FREE, at[1], room[1],
                                      count_at(at[2]));
         },
         {}},
    };
}

// Every array of a call in one block of memory: the arrays at their
// offsets (in doubles), each with `room` doubles; the rest sentinels.
struct layout {
    std::vector<uint64_t> offset, room;
    uint64_t size = 0;
};

// Arrays a and b with b starting `shift` doubles after a (before it when
// negative), the others apart from them and from each other.
layout place(const export_case &e, int a, int b, int64_t shift, int spare) {
    layout l;
    const std::size_t n = e.buffers.size();
    l.offset.assign(n, 0);
    l.room.assign(n, 0);
    for (std::size_t k = 0; k < n; ++k) l.room[k] = e.buffers[k].extent + (static_cast<int>(k) == spare ? 16 : 0);
    if (a >= 0) {
        l.offset[a] = shift < 0 ? static_cast<uint64_t>(-shift) : 0;
        l.offset[b] = shift > 0 ? static_cast<uint64_t>(shift) : 0;
        l.size = std::max(l.offset[a] + l.room[a], l.offset[b] + l.room[b]) + 8;
    }
    for (std::size_t k = 0; k < n; ++k) {
        if (static_cast<int>(k) == a || static_cast<int>(k) == b) continue;
        l.offset[k] = l.size;
        l.size += l.room[k] + 8;
    }
    return l;
}

struct outcome {
    qn_status status;
    std::vector<double> before, after;  // the whole block
};

outcome run(const export_case &e, const layout &l) {
    outcome o{QN_STATUS_SUCCESS, std::vector<double>(l.size, sentinel), {}};
    for (std::size_t k = 0; k < e.buffers.size(); ++k) {
        if (e.buffers[k].role == kind::input) std::copy(e.input.begin(), e.input.end(), o.before.begin() + l.offset[k]);
    }
    o.after = o.before;
    std::vector<double *> at;
    for (uint64_t offset : l.offset) at.push_back(o.after.data() + offset);
    o.status = e.call(at.data(), l.room.data());
    return o;
}

bool same_bits(const double *a, const double *b, uint64_t n) { return std::memcmp(a, b, n * sizeof(double)) == 0; }

// Where the call may write: the extents of its outputs, or only its frame
// count when it refuses.
bool writable(const export_case &e, const layout &l, uint64_t i, bool refused) {
    for (std::size_t k = 0; k < e.buffers.size(); ++k) {
        const buffer &b = e.buffers[k];
        if (b.role == kind::input || (refused && b.role != kind::count)) continue;
        if (i >= l.offset[k] && i < l.offset[k] + b.extent) return true;
    }
    return false;
}

TEST(OverlapApi, EveryExportIsRightInPlaceOrRefusesBeforeWriting) {
    for (const export_case &e : exports()) {
        const layout apart = place(e, -1, -1, 0, -1);
        const outcome reference = run(e, apart);
        ASSERT_EQ(reference.status, QN_STATUS_SUCCESS) << e.name;
        const int n = static_cast<int>(e.buffers.size());
        for (int a = 0; a < n; ++a) {
            for (int b = a + 1; b < n; ++b) {
                const buffer &ba = e.buffers[a], &bb = e.buffers[b];
                if (ba.role == kind::input && bb.role == kind::input) continue;
                const auto ea = static_cast<int64_t>(ba.extent), eb = static_cast<int64_t>(bb.extent);
                // b just below a, b's last value on a's first, the same
                // start, b from a's middle and from a's last value, b just
                // above a; then room beyond a's extent (or b's) over the other.
                struct placement {
                    int64_t shift;
                    int spare;
                };
                std::vector<placement> placements;
                for (int64_t shift : {-eb, 1 - eb, int64_t{0}, ea / 2, ea - 1, ea}) placements.push_back({shift, -1});
                if (ba.has_capacity) placements.push_back({ea + 8, a});
                if (bb.has_capacity) placements.push_back({-eb - 8, b});
                std::set<std::pair<int64_t, int>> tried;
                for (const placement &p : placements) {
                    if (!tried.insert({p.shift, p.spare}).second) continue;
                    const layout l = place(e, a, b, p.shift, p.spare);
                    const bool shared = l.offset[a] < l.offset[b] + bb.extent && l.offset[b] < l.offset[a] + ba.extent;
                    const bool in_place = !shared || e.in_place.count({a, b}) != 0;
                    const outcome o = run(e, l);
                    SCOPED_TRACE(::testing::Message() << e.name << ": " << bb.name << " at " << ba.name << " + "
                                                      << p.shift << (p.spare >= 0 ? " (room beyond the extent)" : ""));
                    EXPECT_EQ(o.status, in_place ? QN_STATUS_SUCCESS : QN_STATUS_INVALID_ARGUMENT);
                    if (in_place) {
                        for (int k = 0; k < n; ++k) {
                            if (e.buffers[k].role == kind::input) continue;
                            EXPECT_TRUE(same_bits(o.after.data() + l.offset[k],
                                                  reference.after.data() + apart.offset[k], e.buffers[k].extent))
                                << e.buffers[k].name << " differs from the result with separate buffers";
                        }
                    }
                    uint64_t changed = 0;
                    for (uint64_t i = 0; i < l.size; ++i)
                        if (!writable(e, l, i, !in_place) && !same_bits(&o.after[i], &o.before[i], 1)) ++changed;
                    EXPECT_EQ(changed, 0u) << "values written beyond the outputs' extents";
                }
            }
        }
    }
}

}  // namespace
