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

inline void qn_fuzz_seen(const char *name, const std::string &outcome) { qn_fuzz_outcomes()[name].seen.insert(outcome); }

inline qn_status qn_fuzz_seen(const char *name, qn_status status) {
    qn_fuzz_seen(name, std::string(qn_status_string(status)));
    return status;
}

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
