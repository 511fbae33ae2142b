// qn_reference_cases TABLE: runs every row of the table of reference cases
// and writes what the library gives as JSON on stdout, for the manual's
// validation report. Exit status 1 when a row fails or cannot run.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/reference_cases.h"

namespace {

std::string text(const std::string &s) {
    std::string out = "\"";
    for (unsigned char ch : s) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
            out += escaped;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + "\"";
}

std::string number(double v) {
    if (!std::isfinite(v)) return "null";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

std::string numbers(const std::vector<double> &v) {
    std::string out = "[";
    for (std::size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + number(v[i]);
    return out + "]";
}

std::string boolean(bool b) { return b ? "true" : "false"; }

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qn_reference_cases TABLE\n");
        return 2;
    }
    std::string error;
    const auto rows = qn_test::read_reference_cases(argv[1], &error);
    if (!error.empty()) {
        std::fprintf(stderr, "qn_reference_cases: %s\n", error.c_str());
        return 1;
    }
    qn_test::reference_runner runner;
    bool all = true;
    std::printf("[\n");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto &c = rows[i];
        const auto o = runner.run(c);
        all = all && o.ran && o.pass;
        // The row as the table has it, then what the library gave.
        const std::pair<const char *, std::string> fields[] = {
            {"line", std::to_string(c.line)}, {"metric", text(c.metric)}, {"case", text(c.name)},
            {"signal", text(c.signal)}, {"call", text(c.call)}, {"quantity", text(c.quantity)},
            {"expected", number(c.expected)}, {"tolerance", text(c.tolerance_text)}, {"basis", text(c.basis)},
            {"ran", boolean(o.ran)}, {"error", text(o.error)}, {"got", number(o.got)},
            {"difference", number(o.difference)}, {"allowed", number(o.allowed)}, {"pass", boolean(o.pass)},
            {"where", text(o.where)}, {"axis", text(o.axis)}, {"axis_unit", text(o.axis_unit)},
            {"unit", text(o.series_unit)}, {"first", std::to_string(o.first)}, {"last", std::to_string(o.last)},
            {"marked", std::to_string(o.marked)}, {"x", numbers(o.x)}, {"y", numbers(o.y)}};
        std::string object;
        for (const auto &[key, value] : fields) object += (object.empty() ? "{" : ",") + text(key) + ":" + value;
        std::printf("%s}%s\n", object.c_str(), i + 1 < rows.size() ? "," : "");
    }
    std::printf("]\n");
    return all ? 0 : 1;
}
