// The table of reference cases (tests/reference/cases.md): reading it, making
// each row's signal, running the library and comparing. Shared by the test
// suite and by qn_reference_cases, which reports every row for the manual.
#ifndef QN_TESTS_REFERENCE_CASES_H
#define QN_TESTS_REFERENCE_CASES_H

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qn_test {

struct reference_case {
    int line = 0;  // in the table file, for messages
    std::string metric, name, signal, call, quantity, tolerance_text, basis;
    double expected = 0;
    double tolerance = 0;  // as written: absolute, or relative when `relative`
    bool relative = false;
};

// What the library gave for a case. `series` is the array the quantity was
// read from, with its axis, for plots; `where` names the element compared
// ("frame 37 (0.197 s)"), the worst one for a range of frames.
struct reference_outcome {
    bool ran = false;          // false: `error` says why (a bad row or a failing call)
    std::string error;
    double got = 0;
    double difference = 0;     // got - expected
    double allowed = 0;        // the tolerance as an absolute difference
    bool pass = false;
    std::string where;
    std::string axis, axis_unit, series_unit;
    std::vector<double> x, y;  // the series, empty when the quantity is one number
    long marked = -1;          // index of `where` in the series
    long first = -1, last = -1;  // the indices compared, for a range
};

// Reads the rows of the table; on failure returns nothing and sets *error.
std::vector<reference_case> read_reference_cases(const std::string &path, std::string *error);

struct reference_analysis;

// Runs the rows' calls, sharing each signal's analysis between its rows.
class reference_runner {
public:
    reference_outcome run(const reference_case &c);

private:
    std::map<std::string, std::shared_ptr<reference_analysis>> done_;
};

}  // namespace qn_test

#endif
