// What the tool reports of a channel, flattened for comparisons:
// "metric/quantity" for single values, "metric/series" for series, and
// the errors as the tool words them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "results.h"

namespace qnf {

struct flat_result {
    std::map<std::string, double> values;
    std::map<std::string, std::vector<double>> series;
    std::vector<std::string> errors;
};

inline flat_result flatten(const qnf_channel_result &c) {
    flat_result f;
    if (!c.error.empty()) f.errors.push_back("input: " + c.error);
    for (const qnf_metric_result &r : c.metrics) {
        if (!r.error.empty()) f.errors.push_back(r.name + ": " + r.error);
        for (const single_value &v : r.values) f.values[r.name + "/" + v.name] = v.value;
        for (const series &s : r.series_list) f.series[r.name + "/" + s.name] = s.values.to_vector();
    }
    return f;
}

}  // namespace qnf
