#pragma once

#include <string_view>

#include "convert_engine/converters/text_conversions.hpp"
#include "python_module/py_ref.hpp"

namespace python_module::page {

// The same page as a new str, built from the rendered pieces with one copy
// of each.
convert_engine::Result<PyRef, convert_engine::error::ConvertError> html_page(
    const convert_engine::notebook::Notebook& notebook, std::string_view title);

}  // namespace python_module::page

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
