#pragma once

#include <string>

#include "convert_engine/json/json_error.hpp"
#include "convert_engine/json/json_value.hpp"
#include "convert_engine/notebook/model.hpp"
#include "convert_engine/result.hpp"
#include "convert_engine/text.hpp"

namespace convert_engine::notebook {

// Writes a notebook as JSON text with a two-space indent and no final newline,
// in memory from `memory`.
Result<Text, json::JsonError> to_vec_pretty(const Notebook& notebook,
                                      std::pmr::memory_resource* memory = default_text_memory());

// Appends one JSON value (objects in key order) in the same two-space layout,
// starting at nesting depth 0.
void append_json_value_pretty(Text& out, const JsonValue& value);
// The same for an object held as a map (a MIME bundle), without copying it.
void append_json_object_pretty(Text& out, const JsonObject& object);
// The same text with & < > " replaced by their HTML entities as it is
// written, without the plain text ever existing.
void append_json_object_pretty_html(Text& out, const JsonObject& object);

}  // namespace convert_engine::notebook
