#pragma once

#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "convert_engine/text.hpp"
#include "python_module/failure.hpp"
#include "python_module/py_ref.hpp"

namespace python_module {

// A converted text, or the HTML page, which is made as a str from the start.
using Converted = std::variant<convert_engine::Text, PyRef>;

// Parses the notebook text, then converts it by the format word ("html",
// "markdown", "python" or "strip"), the text in memory from `result_memory`.
// Every failure is a ValueError naming its step.
Outcome<Converted> convert_text(std::string_view notebook_text, std::string_view format,
                                const std::optional<std::string>& title, std::pmr::memory_resource* result_memory);

}  // namespace python_module
