#pragma once

#include <string_view>

#include "convert_engine/converters/text_conversions.hpp"

namespace convert_engine::converters {

// The standalone HTML page, rendered from the embedded page template by
// Jinja2. It lives beside the binding because it runs Python code: it needs
// an initialised interpreter and the caller holds the interpreter lock.
// Jinja2's own errors come back as a TemplateRender error; any other
// exception the interpreter raises meanwhile (KeyboardInterrupt from a
// signal handler, an ImportError of Jinja2, MemoryError, ...) is thrown as
// python_module::Raised, to reach the caller unchanged.
TextResult to_html(const notebook::Notebook& notebook, std::string_view title);

}  // namespace convert_engine::converters
