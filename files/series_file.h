// The series of an analysed file in a NetCDF-4 file, for plots and for
// pandas, xarray or MATLAB: one variable per series of every metric,
// "<metric>.<series>" (values of every channel, as 32-bit floats rounded to
// series_significant_bits bits, compressed), over named dimensions with
// coordinate variables: "channel", a time per metric ("<metric>.time", s),
// "bark" (240 points) and "band" (53 ECMA-418-2 bands, Bark, with
// "band_frequency" in Hz). Everything lies in the root group, so
// xarray.open_dataset opens it as it is.
//
// The netCDF library is not thread-safe: every call into it from this
// library is made under one lock of the process.
#ifndef QUARNELO_FILES_SERIES_FILE_H
#define QUARNELO_FILES_SERIES_FILE_H

#include <string>
#include <vector>

#include "results.h"

namespace qnf {

// Bits kept of each value's 24-bit significand: a relative rounding error
// below 2^-17 (8e-6), far finer than any of the metrics can tell, and
// what lets the compression shrink the series tenfold and more.
inline constexpr int series_significant_bits = 16;

// The series file names of a run over `paths`, in their order: each path's
// base name with its last extension replaced by ".nc" ("take.wav":
// "take.nc"; standard input, "-": "stdin.nc"); a name an earlier path has
// taken gets "_2", "_3", ... before ".nc".
std::vector<std::string> series_file_names(const std::vector<std::string> &paths);

// The calibration of a file's channels in one text: theirs when they share
// it, else "channel 1: ...; channel 2: ...".
std::string calibration_summary(const qnf_file_result &file);

// What the file records of the analysis beside the results.
struct series_file_context {
    std::string field;  // "free" or "diffuse"
};

// Writes the series of `file` (every channel and metric that has them) to
// `path`: first to a new file beside it, renamed to `path` once complete,
// so that a failure leaves no file under that name (and an earlier one as
// it was). Memory stays bounded: the values are read from the results and
// written a chunk at a time. False with a reason. Never throws.
bool write_series_file(const qnf_file_result &file, const std::string &path, const series_file_context &context,
                       std::string &error) noexcept;

}  // namespace qnf

#endif
