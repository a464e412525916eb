#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "python_module/failure.hpp"

namespace python_module {

// Parses the notebook text, then converts it by the format word ("html",
// "markdown", "python" or "strip"). Every failure is a ValueError naming
// its step.
Outcome<std::string> convert_text(std::string_view notebook_text, std::string_view format,
                                  const std::optional<std::string>& title);

}  // namespace python_module
