#pragma once

#include <string_view>

#include "convert_engine/json/json_error.hpp"
#include "convert_engine/notebook/model.hpp"
#include "convert_engine/result.hpp"

namespace convert_engine::notebook {

struct ReadOptions {
    // The outputs of code cells are read for their failures only, which
    // stay those of a full read, and not kept: their maps and texts are
    // not even built. For a caller that throws those outputs away.
    bool drop_code_outputs = false;
    // Cell metadata, the notebook metadata's other keys (all but kernelInfo
    // and languageInfo) and every output's "metadata" map are read for their
    // failures only and left empty. For a caller that never shows them.
    bool empty_metadata = false;
    // Where the document keeps its strings and containers: an arena, or
    // none for the heap. With an arena, strings without escapes point into
    // the text instead: the arena and the text must both outlive the
    // document and every part moved out of it.
    json::Arena* arena = nullptr;
};

// Reads a whole notebook text (valid UTF-8) into a Notebook, or returns the
// first failure as a placed JsonError. Trailing non-whitespace is refused.
Result<Notebook, json::JsonError> parse_notebook(std::string_view text, ReadOptions options = {});

}  // namespace convert_engine::notebook
