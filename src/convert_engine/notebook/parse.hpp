#pragma once

#include <string_view>

#include "convert_engine/json/json_error.hpp"
#include "convert_engine/notebook/model.hpp"
#include "convert_engine/result.hpp"

namespace convert_engine::notebook {

// Reads a whole notebook text (valid UTF-8) into a Notebook, or returns the
// first failure as a placed JsonError. Trailing non-whitespace is refused.
Result<Notebook, JsonError> parse_notebook(std::string_view text);

}  // namespace convert_engine::notebook
