// Small text inputs of the tool (a file of third-octave levels) and the
// names given on its command line.
#ifndef QUARNELO_CLI_TEXT_FILES_H
#define QUARNELO_CLI_TEXT_FILES_H

#include <cstdint>
#include <string>

namespace qcli {

// The whole of a small text input: a regular file, or "-" for standard
// input, at most `max_bytes`. A FIFO or a device is refused with a reason,
// so that it cannot stall the tool.
bool read_text_input(const std::string &path, uint64_t max_bytes, std::string &out, std::string &error);

// True when `a` and `b` name the same existing file (after symbolic links).
bool same_file(const std::string &a, const std::string &b);

}  // namespace qcli

#endif
