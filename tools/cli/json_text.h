// Writing a JSON document as text, with every string kept whole. File names
// on Linux are bytes, not text: a byte that is not part of valid UTF-8 is
// written as the escape \udcXX (XX its value, 80 ... FF), the convention of
// Python's "surrogateescape", so json.load followed by os.fsencode gives the
// original bytes back. Valid UTF-8 is written as it stands.
#ifndef QUARNELO_CLI_JSON_TEXT_H
#define QUARNELO_CLI_JSON_TEXT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>

namespace qcli {

// Writes what stands for a binary value of the document: its subtype says
// which, `depth` is the value's level in the layout.
using json_splice = std::function<void(std::ostream &out, uint64_t id, int depth)>;

// `value` indented by two spaces per level, as nlohmann::json::dump(2)
// lays it out, and a newline. Binary values (which a document of results
// never holds otherwise) are placeholders that `splice` writes: long arrays
// that are not in memory.
void write_json_document(std::ostream &out, const nlohmann::json &value, const json_splice &splice = {});

// `v` as nlohmann::json::dump() writes a number: the shortest text that
// reads back as the same double, null when not finite.
void append_json_number(std::string &text, double v);

// An array of numbers at level `depth` in that layout, given a value at a
// time; with `row` > 0, an array of arrays of `row` numbers each.
class json_number_array {
public:
    json_number_array(std::ostream &out, int depth, std::size_t row = 0);
    void add(double v);
    // Closes the array ("[]" when nothing was added).
    void finish();

private:
    void flush();

    std::ostream &out_;
    const int depth_;
    const std::size_t row_;
    uint64_t count_ = 0;
    std::string text_;
};

// `text` as a JSON string literal, quotes included.
void write_json_string(std::ostream &out, std::string_view text);

}  // namespace qcli

#endif
