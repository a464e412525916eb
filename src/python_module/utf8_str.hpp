#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

namespace python_module {

// A new str holding the UTF-8 text, built at its final kind and length in
// one pass after a survey of the bytes: a run of 16 ASCII bytes is stored
// as a block, widened to the kind. Text that is not well-formed goes to the
// interpreter's decoder and fails as it would there. Null with the
// exception set on failure.
PyObject* str_from_utf8(std::string_view text);

}  // namespace python_module
