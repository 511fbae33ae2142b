// Writing a JSON document as text, with every string kept whole. File names
// on Linux are bytes, not text: a byte that is not part of valid UTF-8 is
// written as the escape \udcXX (XX its value, 80 ... FF), the convention of
// Python's "surrogateescape", so json.load followed by os.fsencode gives the
// original bytes back. Valid UTF-8 is written as it stands.
#ifndef QUARNELO_CLI_JSON_TEXT_H
#define QUARNELO_CLI_JSON_TEXT_H

#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>

namespace qcli {

// `value` indented by two spaces per level, as nlohmann::json::dump(2)
// lays it out, and a newline.
void write_json_document(std::ostream &out, const nlohmann::json &value);

// `text` as a JSON string literal, quotes included.
void write_json_string(std::ostream &out, std::string_view text);

}  // namespace qcli

#endif
