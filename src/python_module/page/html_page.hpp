#pragma once

#include <string_view>

#include "convert_engine/error/convert_error.hpp"
#include "convert_engine/notebook/model.hpp"
#include "convert_engine/result.hpp"
#include "python_module/py_ref.hpp"

namespace python_module::page {

// The standalone HTML page as a new str, rendered from the embedded page
// template by Jinja2. It lives beside the binding because it runs Python
// code: it needs an initialised interpreter and the caller holds the
// interpreter lock. Jinja2's own errors come back as a TemplateRender error;
// any other exception the interpreter raises meanwhile (KeyboardInterrupt
// from a signal handler, an ImportError of Jinja2, MemoryError, ...) is
// thrown as python_module::Raised, to reach the caller unchanged.
convert_engine::Result<PyRef, convert_engine::error::ConvertError> html_page(
    const convert_engine::notebook::Notebook& notebook, std::string_view title);

}  // namespace python_module::page
