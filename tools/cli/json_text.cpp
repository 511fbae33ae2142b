#include "json_text.h"

#include <cmath>
#include <cstdio>

namespace qcli {

namespace {

// Length of the valid UTF-8 sequence at the start of `s`, or 0.
std::size_t utf8_sequence(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(0);
    if (b0 < 0x80) return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3;
        if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
        if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (s.size() < n || byte(1) < lo || byte(1) > hi) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return n;
}

// The two-character escapes of JSON, or null.
const char *short_escape(unsigned char c) {
    switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    case '\b': return "\\b";
    case '\f': return "\\f";
    default: return nullptr;
    }
}

void escape(std::ostream &out, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", value);
    out << text;
}

void write_value(std::ostream &out, const nlohmann::json &value, int depth, const json_splice &splice) {
    if (value.is_binary() && splice) {
        splice(out, value.get_binary().subtype(), depth);
        return;
    }
    if (value.is_string()) {
        write_json_string(out, value.get_ref<const std::string &>());
        return;
    }
    if (!value.is_structured()) {
        out << value.dump();  // numbers (null when not finite), true, false, null
        return;
    }
    const bool object = value.is_object();
    if (value.empty()) {
        out << (object ? "{}" : "[]");
        return;
    }
    const std::string indent(static_cast<std::size_t>(2 * (depth + 1)), ' ');
    out << (object ? "{\n" : "[\n");
    bool first = true;
    for (const auto &item : value.items()) {
        out << (first ? "" : ",\n") << indent;
        first = false;
        if (object) {
            write_json_string(out, item.key());
            out << ": ";
        }
        write_value(out, item.value(), depth + 1, splice);
    }
    out << '\n' << std::string(static_cast<std::size_t>(2 * depth), ' ') << (object ? '}' : ']');
}

}  // namespace

void write_json_string(std::ostream &out, std::string_view text) {
    out << '"';
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text[0]);
        const std::size_t n = utf8_sequence(text);
        if (n == 0) {
            escape(out, 0xDC00u + c);
        } else if (const char *e = short_escape(c)) {
            out << e;
        } else if (c < 0x20) {
            escape(out, c);
        } else {
            out << text.substr(0, n);
        }
        text.remove_prefix(n == 0 ? 1 : n);
    }
    out << '"';
}

void write_json_document(std::ostream &out, const nlohmann::json &value, const json_splice &splice) {
    write_value(out, value, 0, splice);
    out << '\n';
}

void append_json_number(std::string &text, double v) {
    if (!std::isfinite(v)) {
        text += "null";
        return;
    }
    // The routine nlohmann's serializer runs for every double it dumps.
    char digits[64];
    const char *end = nlohmann::detail::to_chars(digits, digits + sizeof digits, v);
    text.append(digits, static_cast<std::size_t>(end - digits));
}

json_number_array::json_number_array(std::ostream &out, int depth, std::size_t row)
    : out_(out), depth_(depth), row_(row) {}

void json_number_array::add(double v) {
    const auto indent = [&](int level) { text_.append(static_cast<std::size_t>(2 * level), ' '); };
    if (row_ == 0) {
        text_ += count_ == 0 ? "[\n" : ",\n";
        indent(depth_ + 1);
    } else if (count_ % row_ == 0) {
        text_ += count_ == 0 ? "[\n" : "\n";
        if (count_ > 0) {
            indent(depth_ + 1);
            text_ += "],\n";
        }
        indent(depth_ + 1);
        text_ += "[\n";
        indent(depth_ + 2);
    } else {
        text_ += ",\n";
        indent(depth_ + 2);
    }
    append_json_number(text_, v);
    ++count_;
    if (text_.size() >= 65536) flush();
}

void json_number_array::finish() {
    if (count_ == 0) {
        text_ += "[]";
    } else {
        if (row_ > 0) {
            text_ += '\n';
            text_.append(static_cast<std::size_t>(2 * (depth_ + 1)), ' ');
            text_ += ']';
        }
        text_ += '\n';
        text_.append(static_cast<std::size_t>(2 * depth_), ' ');
        text_ += ']';
    }
    flush();
}

void json_number_array::flush() {
    out_ << text_;
    text_.clear();
}

}  // namespace qcli
