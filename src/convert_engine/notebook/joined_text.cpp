#include "convert_engine/notebook/joined_text.hpp"

#include <utility>

namespace convert_engine::notebook::detail {

using json::JsonReader;

namespace {

// Room for the lines of most texts at once, rather than doubling up to it.
constexpr std::size_t kFirstLines = 1024;
// A joined text this long stops growing by doubling.
constexpr std::size_t kLongText = std::size_t{1} << 20;

}  // namespace

bool read_joined_text(JsonReader& r, std::string& out) {
    const int c = r.peek_value();
    if (c == '"') {
        out = r.read_string();
        return true;
    }
    if (c != '[') {
        r.read_value();
        return false;
    }
    r.enter();
    std::string& lines = r.lines_buffer();
    lines.clear();
    // Room for the lines of most texts, rather than doubling up to it.
    if (lines.capacity() < kFirstLines) lines.reserve(kFirstLines);
    bool all_strings = true;
    bool first = true;
    while (r.list_next(first)) {
        // list_next leaves the offset at the element.
        if (all_strings && r.text()[r.offset()] == '"') {
            // A long text is given room for all the rest of the input at
            // once instead of doubling its way there: the room is only
            // address space until written, and doubling would copy and
            // first-touch its pages twice over.
            if (lines.capacity() - lines.size() < kLongText && lines.size() >= kLongText)
                lines.reserve(lines.size() + (r.text().size() - r.offset()) + JsonReader::kDecodeOvershoot);
            r.append_string(lines);
        } else {
            all_strings = false;
            r.read_value();
        }
    }
    r.leave();
    if (!all_strings) return false;
    // A long text leaves with its buffer, whose room past the text was
    // never written to; a short one is copied out at its size.
    if (lines.size() >= kLongText) {
        out = std::exchange(lines, std::string());
    } else {
        out = lines;
    }
    return true;
}

bool check_joined_text(JsonReader& r) {
    const int c = r.peek_value();
    if (c == '"') {
        r.check_string();
        return true;
    }
    if (c != '[') {
        r.check_value();
        return false;
    }
    r.enter();
    bool all_strings = true;
    bool first = true;
    while (r.check_string_elements(first)) {
        all_strings = false;
        r.check_value();
    }
    r.leave();
    return all_strings;
}

void fail_not_a_text() { JsonReader::fail_unplaced(json::no_variant_matched("CellSourceJson")); }

}  // namespace convert_engine::notebook::detail
