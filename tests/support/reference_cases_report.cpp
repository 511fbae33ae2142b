// qn_reference_cases TABLE: runs every row of the table of reference cases
// and writes what the library gives as JSON on stdout, for the manual's
// validation report. Exit status 1 when a row fails or cannot run.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "support/reference_cases.h"

namespace {

void text(const std::string &s) {
    std::putchar('"');
    for (unsigned char ch : s) {
        if (ch == '"' || ch == '\\') {
            std::printf("\\%c", ch);
        } else if (ch < 0x20) {
            std::printf("\\u%04x", ch);
        } else {
            std::putchar(ch);
        }
    }
    std::putchar('"');
}

void number(double v) {
    if (std::isfinite(v)) {
        std::printf("%.17g", v);
    } else {
        std::printf("null");
    }
}

void numbers(const std::vector<double> &v) {
    std::putchar('[');
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) std::putchar(',');
        number(v[i]);
    }
    std::putchar(']');
}

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
        std::printf("{\"line\":%d,\"metric\":", c.line);
        text(c.metric);
        std::printf(",\"case\":");
        text(c.name);
        std::printf(",\"signal\":");
        text(c.signal);
        std::printf(",\"call\":");
        text(c.call);
        std::printf(",\"quantity\":");
        text(c.quantity);
        std::printf(",\"expected\":");
        number(c.expected);
        std::printf(",\"tolerance\":");
        text(c.tolerance_text);
        std::printf(",\"basis\":");
        text(c.basis);
        std::printf(",\"ran\":%s,\"error\":", o.ran ? "true" : "false");
        text(o.error);
        std::printf(",\"got\":");
        number(o.got);
        std::printf(",\"difference\":");
        number(o.difference);
        std::printf(",\"allowed\":");
        number(o.allowed);
        std::printf(",\"pass\":%s,\"where\":", o.pass ? "true" : "false");
        text(o.where);
        std::printf(",\"axis\":");
        text(o.axis);
        std::printf(",\"axis_unit\":");
        text(o.axis_unit);
        std::printf(",\"unit\":");
        text(o.series_unit);
        std::printf(",\"first\":%ld,\"last\":%ld,\"marked\":%ld,\"x\":", o.first, o.last, o.marked);
        numbers(o.x);
        std::printf(",\"y\":");
        numbers(o.y);
        std::printf("}%s\n", i + 1 < rows.size() ? "," : "");
    }
    std::printf("]\n");
    return all ? 0 : 1;
}
