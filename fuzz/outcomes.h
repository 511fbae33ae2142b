// The outcomes each fuzz target reaches, by export: every status a library
// export returned, every kind of result of the tool's reading path. A
// target declares the outcomes it must reach; the replay driver prints
// what the committed corpus reached and fails when it misses one, so the
// corpus keeps covering every path. libFuzzer runs only collect.
#ifndef QN_FUZZ_OUTCOMES_H
#define QN_FUZZ_OUTCOMES_H

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "quarnelo.h"

struct qn_fuzz_export_outcomes {
    std::vector<std::string> expected;
    std::set<std::string> seen;
};

inline std::map<std::string, qn_fuzz_export_outcomes> &qn_fuzz_outcomes() {
    static std::map<std::string, qn_fuzz_export_outcomes> table;
    return table;
}

// Declares what `name` must reach; returns true, for a static initialiser.
inline bool qn_fuzz_expect(const char *name, std::vector<std::string> outcomes) {
    qn_fuzz_outcomes()[name].expected = std::move(outcomes);
    return true;
}

// The library's text of each status, as outcome names.
inline std::vector<std::string> qn_fuzz_statuses(std::initializer_list<qn_status> statuses) {
    std::vector<std::string> names;
    for (qn_status s : statuses) names.push_back(qn_status_string(s));
    return names;
}

// What every frame-count query can return, and every analysis of a signal
// that allocates its work and takes a sound field: all eleven, the refusal
// of arrays that overlap included.
inline std::vector<std::string> qn_fuzz_frame_count_statuses() {
    return qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_SAMPLE_RATE,
                             QN_STATUS_INPUT_TOO_SHORT, QN_STATUS_SIZE_OVERFLOW});
}

inline std::vector<std::string> qn_fuzz_signal_analysis_statuses() {
    return qn_fuzz_statuses({QN_STATUS_SUCCESS, QN_STATUS_NULL_POINTER, QN_STATUS_INVALID_ARGUMENT,
                             QN_STATUS_INVALID_SAMPLE_RATE, QN_STATUS_INVALID_SOUND_FIELD, QN_STATUS_NON_FINITE_INPUT,
                             QN_STATUS_INPUT_TOO_SHORT, QN_STATUS_OUTPUT_TOO_SMALL, QN_STATUS_SIZE_OVERFLOW,
                             QN_STATUS_ALLOCATION_FAILED, QN_STATUS_NUMERICAL_FAILURE});
}

// What a second call with overlapping arrays (overlap.h) must reach: a
// refusal where the export refuses any overlap, a success in place where it
// works in place, a success beside (arrays apart, or only their room
// beyond what is written shared), and a failure alike.
inline std::vector<std::string> qn_fuzz_overlap_outcomes(bool refuses, bool in_place) {
    std::vector<std::string> names;
    if (refuses) names.push_back("refused");
    if (in_place) names.push_back("in place");
    names.push_back("beside");
    names.push_back("failed alike");
    return names;
}

inline void qn_fuzz_seen(const char *name, const std::string &outcome) { qn_fuzz_outcomes()[name].seen.insert(outcome); }

inline qn_status qn_fuzz_seen(const char *name, qn_status status) {
    qn_fuzz_seen(name, std::string(qn_status_string(status)));
    return status;
}

// An edge of its own for every outcome at every call site (QN_FUZZ_STATUS,
// QN_FUZZ_OUTCOME): libFuzzer keeps an input that reaches a new outcome even
// when the library's code on its way is covered already (a non-finite
// sample refused by the stationary loudness passes the same check as one
// refused by the time-varying loudness), so merged corpora keep every
// outcome.
template <int Site, int Outcome>
[[gnu::noinline]] void qn_fuzz_outcome_edge() {
    asm volatile("");
}

template <int Site>
void qn_fuzz_outcome_edges(int outcome) {
    switch (outcome) {
    case 0: qn_fuzz_outcome_edge<Site, 0>(); break;
    case 1: qn_fuzz_outcome_edge<Site, 1>(); break;
    case 2: qn_fuzz_outcome_edge<Site, 2>(); break;
    case 3: qn_fuzz_outcome_edge<Site, 3>(); break;
    case 4: qn_fuzz_outcome_edge<Site, 4>(); break;
    case 5: qn_fuzz_outcome_edge<Site, 5>(); break;
    case 6: qn_fuzz_outcome_edge<Site, 6>(); break;
    case 7: qn_fuzz_outcome_edge<Site, 7>(); break;
    case 8: qn_fuzz_outcome_edge<Site, 8>(); break;
    case 9: qn_fuzz_outcome_edge<Site, 9>(); break;
    case 10: qn_fuzz_outcome_edge<Site, 10>(); break;
    default: qn_fuzz_outcome_edge<Site, 11>(); break;
    }
}

template <int Site>
qn_status qn_fuzz_status_at(const char *name, qn_status status) {
    qn_fuzz_outcome_edges<Site>(status);
    return qn_fuzz_seen(name, status);
}

template <int Site>
void qn_fuzz_outcome_at(const char *name, const std::string &outcome) {
    const auto &expected = qn_fuzz_outcomes()[name].expected;
    int index = 0;
    while (index < static_cast<int>(expected.size()) && expected[static_cast<std::size_t>(index)] != outcome) ++index;
    qn_fuzz_outcome_edges<Site>(index);
    qn_fuzz_seen(name, outcome);
}

// The status a call returned, recorded for `name`; the status is the value.
#define QN_FUZZ_STATUS(name, status) qn_fuzz_status_at<__LINE__>(name, status)
// An outcome named by text, recorded for `name`.
#define QN_FUZZ_OUTCOME(name, outcome) qn_fuzz_outcome_at<__LINE__>(name, std::string(outcome))

// Prints every export's outcomes; false when an expected one was missed.
inline bool qn_fuzz_report_outcomes() {
    bool complete = true;
    for (const auto &[name, o] : qn_fuzz_outcomes()) {
        std::printf("%s: reached %zu of %zu expected outcomes\n", name.c_str(), o.seen.size(), o.expected.size());
        for (const std::string &e : o.expected) {
            const bool reached = o.seen.count(e) != 0;
            std::printf("  %s %s\n", reached ? "reached" : "MISSED ", e.c_str());
            complete = complete && reached;
        }
        for (const std::string &s : o.seen) {
            bool listed = false;
            for (const std::string &e : o.expected) listed = listed || e == s;
            if (!listed) std::printf("  reached, not expected: %s\n", s.c_str());
        }
    }
    return complete;
}

#endif
