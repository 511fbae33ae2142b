#include "levels.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>

#include "quarnelo.h"
#include "report.h"
#include "text_files.h"

namespace qcli {

namespace {

// Files of levels are small; anything larger is not one.
constexpr uint64_t max_levels_file_bytes = 1 << 20;

std::string refused(const char *what, qn_status status) { return std::string(what) + ": " + qn_status_string(status); }

}  // namespace

bool parse_levels(const std::string &text, bool from_file, std::vector<double> &levels, std::string &error) {
    std::string content = text;
    if (from_file && !read_text_input(text, max_levels_file_bytes, content, error)) {
        error = text + ": " + error;
        return false;
    }
    std::istringstream lines(content);
    std::string line;
    while (std::getline(lines, line)) {
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        for (char &c : line)
            if (c == ',' || c == ';' || c == '\t') c = ' ';
        std::istringstream fields(line);
        std::vector<double> numbers;
        std::string token;
        while (fields >> token) {
            char *end = nullptr;
            const double v = std::strtod(token.c_str(), &end);
            if (end == token.c_str() || *end != '\0') {
                if (numbers.empty() && levels.empty() && from_file) break;  // a header line
                error = "not a number: '" + token + "'";
                return false;
            }
            numbers.push_back(v);
        }
        if (from_file && numbers.size() == 2) {
            levels.push_back(numbers[1]);
        } else {
            levels.insert(levels.end(), numbers.begin(), numbers.end());
        }
    }
    if (levels.size() != QN_THIRD_OCTAVE_BANDS) {
        error = "28 third-octave levels (25 Hz ... 12.5 kHz) needed, " + std::to_string(levels.size()) + " given";
        return false;
    }
    return true;
}

int levels_command(const levels_arguments &a) {
    if (a.list.empty() && a.file.empty()) {
        std::fprintf(stderr, "quarnelo: levels: give L1,...,L28 or --csv FILE\n");
        return 2;
    }
    std::vector<double> levels;
    std::string error;
    if (!parse_levels(a.file.empty() ? a.list : a.file, !a.file.empty(), levels, error)) {
        std::fprintf(stderr, "quarnelo: levels: %s\n", error.c_str());
        return 2;
    }
    const qn_sound_field field = a.field == "diffuse" ? QN_SOUND_FIELD_DIFFUSE : QN_SOUND_FIELD_FREE;
    double loudness = 0, sharpness = 0;
    std::vector<double> specific(QN_BARK_POINTS);
    qn_status status =
        qn_loudness_from_levels(levels.data(), levels.size(), field, &loudness, specific.data(), specific.size());
    if (status != QN_STATUS_SUCCESS) {
        error = refused("loudness", status);
        // The only argument refused once the call is well formed: the
        // method's tables end at 120 dB in the bands up to 250 Hz.
        if (status == QN_STATUS_INVALID_ARGUMENT)
            error += ": a third-octave band at or below 250 Hz is above 120 dB, beyond the tables of the stationary "
                     "method (loudness-time accepts such levels)";
    } else if ((status = qn_sharpness_din(specific.data(), specific.size(), &sharpness)) != QN_STATUS_SUCCESS) {
        error = refused("sharpness", status);
    }
    if (!error.empty()) {
        std::fprintf(stderr, "quarnelo: levels: %s\n", error.c_str());
        return 1;
    }
    const auto peak = std::max_element(specific.begin(), specific.end());
    const double *bark = qn_bark_axis();
    const std::vector<level_value> values = {{"loudness", loudness, "sone"},
                                             {"specific_peak", *peak, "sone/Bark"},
                                             {"specific_peak_rate", bark[peak - specific.begin()], "Bark"},
                                             {"sharpness", sharpness, "acum"}};
    const double *hz = qn_third_octave_centres_hz();
    const std::vector<level_series> series = {
        {"band_level", "dB", "frequency", "Hz", std::vector<double>(hz, hz + QN_THIRD_OCTAVE_BANDS), levels},
        {"specific_loudness", "sone/Bark", "rate", "Bark", std::vector<double>(bark, bark + QN_BARK_POINTS),
         specific}};
    const output_format format = a.format == "json"  ? output_format::json
                                 : a.format == "csv" ? output_format::csv
                                                     : output_format::table;
    write_levels(std::cout, format, values, series, a.field, a.series);
    return 0;
}

}  // namespace qcli
