#pragma once

#include <string_view>

#include "convert_engine/error/convert_error.hpp"
#include "convert_engine/notebook/model.hpp"
#include "convert_engine/result.hpp"
#include "python_module/py_ref.hpp"

namespace convert_engine::converters {

// The standalone HTML page as a new str, rendered from the embedded page
// template by Jinja2. It lives beside the binding because it runs Python
// code: it needs an initialised interpreter and the caller holds the
// interpreter lock; the page is built as the str the caller returns, never
// as UTF-8 bytes first. Jinja2's own errors come back as a TemplateRender
// error; any other exception the interpreter raises meanwhile
// (KeyboardInterrupt from a signal handler, an ImportError of Jinja2,
// MemoryError, ...) is thrown as python_module::Raised, to reach the caller
// unchanged.
Result<python_module::PyRef, error::ConvertError> to_html(const notebook::Notebook& notebook, std::string_view title);

}  // namespace convert_engine::converters
