// The `levels` command: loudness, its specific-loudness peak and sharpness
// of 28 third-octave levels given as a list or in a small file.
#ifndef QUARNELO_CLI_LEVELS_H
#define QUARNELO_CLI_LEVELS_H

#include <string>
#include <vector>

namespace qcli {

struct levels_arguments {
    std::string list, file, field = "free", format;
    bool series = false;
};

// 28 levels from "L1,...,L28" or from a file of numbers (one or two per
// line: "level" or "frequency,level"; '#' starts a comment).
bool parse_levels(const std::string &text, bool from_file, std::vector<double> &levels, std::string &error);

// Runs the command: 0, 1 (the library refused the levels) or 2 (usage).
int levels_command(const levels_arguments &a);

}  // namespace qcli

#endif
