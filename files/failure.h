// Reasons that must be told when memory has run out. A std::string holds up
// to 15 characters in its own storage, so setting one of these texts never
// allocates: a catch handler can report the failure whatever is left.
#ifndef QUARNELO_FILES_FAILURE_H
#define QUARNELO_FILES_FAILURE_H

#include <string>

namespace qnf {

inline constexpr char out_of_memory[] = "out of memory";
inline constexpr char cannot_read[] = "cannot read";
static_assert(sizeof out_of_memory <= 16 && sizeof cannot_read <= 16, "must fit a string's own storage");

// `text` into `error`, or "out of memory" when the text cannot be made.
inline void set_reason(std::string &error, const char *text) noexcept {
    try {
        error = text;
    } catch (...) {
        error = out_of_memory;
    }
}

}  // namespace qnf

#endif
