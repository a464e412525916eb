#pragma once

#include <string>

#include "convert_engine/json/json_reader.hpp"

namespace convert_engine::notebook::detail {

// A notebook text (a source, a stream's text) is given as one string or as
// a list of strings joined with no separator.

// Reads such a text into `out`: a list's lines are decoded into the
// reader's lines buffer and copied out once at their exact size. Any other
// value is read whole and gives false, `out` left as it was.
bool read_joined_text(json::JsonReader& reader, std::string& out);
// Reads as read_joined_text() does, with the same failures at the same
// points, but builds nothing: whether the value was a text.
bool check_joined_text(json::JsonReader& reader);
// The failure of a value that is no such text.
[[noreturn]] void fail_not_a_text();

}  // namespace convert_engine::notebook::detail
