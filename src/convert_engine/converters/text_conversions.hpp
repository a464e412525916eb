#pragma once

#include <string>

#include "convert_engine/error/convert_error.hpp"
#include "convert_engine/notebook/model.hpp"
#include "convert_engine/result.hpp"
#include "convert_engine/text.hpp"

namespace convert_engine::converters {

using TextResult = Result<Text, error::ConvertError>;

// Markdown: code and raw cells fenced, markdown cells copied; trimmed. The
// text's memory comes from `memory`, as it does for the script.
TextResult to_markdown(const notebook::Notebook& notebook, std::pmr::memory_resource* memory = default_text_memory());

// Python script: header, language lines, code cells, markdown as comments;
// raw cells skipped (with one warning event each); trimmed.
TextResult to_python(const notebook::Notebook& notebook, std::pmr::memory_resource* memory = default_text_memory());

// A new notebook whose code cells have no outputs and no execution count.
notebook::Notebook strip_outputs(const notebook::Notebook& notebook);
// The same for a notebook the caller hands over: its code cells are emptied
// in place and everything else is moved, not copied.
notebook::Notebook strip_outputs(notebook::Notebook&& notebook);

}  // namespace convert_engine::converters
