#pragma once

#include <string>
#include <string_view>

#include "convert_engine/converters/text_conversions.hpp"

namespace convert_engine::converters {

// The standalone HTML page, rendered from the embedded page template by
// Jinja2. Needs an initialised interpreter; the caller holds the GIL.
TextResult to_html(const notebook::Notebook& notebook, std::string_view title);

}  // namespace convert_engine::converters
