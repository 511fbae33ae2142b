// Writing the results file as a whole or not at all.
#ifndef QUARNELO_CLI_OUTPUT_H
#define QUARNELO_CLI_OUTPUT_H

#include <functional>
#include <ostream>
#include <string>

namespace qcli {

// Writes what `write` produces to `path`: into a new file beside it, which
// replaces `path` (or the file a symbolic link `path` points to) only once
// it is complete and on disk, so that a failure leaves the previous file as
// it was. An existing `path` that is not a regular file (a terminal,
// /dev/null, a FIFO) is written directly. False with a reason; `write` may
// throw, which is a failure as well.
bool write_output_file(const std::string &path, const std::function<void(std::ostream &)> &write,
                       std::string &error) noexcept;

}  // namespace qcli

#endif
