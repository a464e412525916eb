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

namespace {

// A whole value read as `P` reads it; what Build makes is dropped.
template <class P>
void read_whole(JsonReader& r) {
    if constexpr (P::kMakes) {
        r.read_value();
    } else {
        r.check_value();
    }
}

// The one reading of a joined text, over what it makes: Build decodes the
// text into `out`, Check only checks it. Both read the same values with the
// same steps, so they fail alike.
template <class P>
bool joined_text(JsonReader& r, std::string* out) {
    const int c = r.peek_value();
    if (c == '"') {
        if constexpr (P::kMakes) {
            *out = r.read_string();
        } else {
            r.check_string();
        }
        return true;
    }
    if (c != '[') {
        read_whole<P>(r);
        return false;
    }
    r.enter();
    bool first = true;
    // The lines up to the first element that is no string.
    bool all_strings = true;
    if constexpr (P::kMakes) {
        std::string& lines = r.lines_buffer();
        lines.clear();
        // Room for the lines of most texts, rather than doubling up to it.
        if (lines.capacity() < kFirstLines) lines.reserve(kFirstLines);
        while (r.list_next(first)) {
            // list_next leaves the offset at the element.
            if (r.text()[r.offset()] != '"') {
                all_strings = false;
                break;
            }
            // A long text is given room for all the rest of the input at
            // once instead of doubling its way there: the room is only
            // address space until written, and doubling would copy and
            // first-touch its pages twice over.
            if (lines.capacity() - lines.size() < kLongText && lines.size() >= kLongText)
                lines.reserve(lines.size() + (r.text().size() - r.offset()) + JsonReader::kDecodeOvershoot);
            r.append_string(lines);
        }
    } else {
        all_strings = !r.check_string_elements(first);
    }
    // No text: that element and all after it are read as values.
    if (!all_strings) {
        do {
            read_whole<P>(r);
        } while (r.next_element<P>(first));
    }
    r.leave();
    if constexpr (P::kMakes) {
        if (all_strings) {
            // A long text leaves with its buffer, whose room past the text
            // was never written to; a short one is copied out at its size.
            std::string& lines = r.lines_buffer();
            if (lines.size() >= kLongText) {
                *out = std::exchange(lines, std::string());
            } else {
                *out = lines;
            }
        }
    }
    return all_strings;
}

}  // namespace

bool read_joined_text(JsonReader& r, std::string& out) { return joined_text<JsonReader::Build>(r, &out); }

bool check_joined_text(JsonReader& r) { return joined_text<JsonReader::Check>(r, nullptr); }

void fail_not_a_text() { JsonReader::fail_unplaced(json::no_variant_matched("CellSourceJson")); }

}  // namespace convert_engine::notebook::detail
