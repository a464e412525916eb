#pragma once

#include <string_view>

#include "convert_engine/error/convert_error.hpp"
#include "convert_engine/notebook/model.hpp"
#include "convert_engine/result.hpp"
#include "python_module/py_ref.hpp"

namespace python_module::page {

// The conversion of a notebook to its standalone HTML page (the engine's
// to_html), here beside the binding because it calls Python.
//
// The standalone HTML page as a new str, rendered from the embedded page
// template by minijinja, through its Python binding: a fresh environment,
// its template and the records for every call, all dropped before it
// returns. It lives beside the binding because it calls Python: it needs an
// initialised interpreter and the caller holds the interpreter lock. The
// engine's own errors come back as a TemplateRender error; any other
// exception the interpreter raises meanwhile (KeyboardInterrupt from a
// signal handler, an ImportError of minijinja, MemoryError, ...) is thrown
// as python_module::Raised, to reach the caller unchanged.
convert_engine::Result<PyRef, convert_engine::error::ConvertError> to_html(
    const convert_engine::notebook::Notebook& notebook, std::string_view title);

}  // namespace python_module::page
