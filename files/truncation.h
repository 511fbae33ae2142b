// What a file's header declares about the extent of its audio data, read
// from the container itself. libsndfile trims its frame count to the data a
// cut-off file still holds (and says so only in a log of limited size), so
// the tool compares the declared extent with the file's size itself.
#ifndef QUARNELO_FILES_TRUNCATION_H
#define QUARNELO_FILES_TRUNCATION_H

#include <cstdint>
#include <optional>

#include "input.h"

namespace qnf {

// The offset just past the audio data the header declares, for the
// containers that declare one: RIFF and RIFX WAVE, RF64 and BW64, Sony
// Wave64, AIFF and AIFC, IFF 8SVX, Sun/NeXT AU, Apple CAF, AVR, NIST SPHERE
// and MATLAB 4. `container` is libsndfile's major format of the file
// (SF_FORMAT_WAV, ...), so that only the container libsndfile recognised is
// parsed. Empty for other containers, for a length left open ("to the end
// of the file", as streams are written), or when no data chunk is found.
std::optional<uint64_t> declared_data_end(const input_file &file, int container);

}  // namespace qnf

#endif
