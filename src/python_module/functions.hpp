#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

namespace python_module {

// The method records of convert_notebook, convert_notebook_from_json and
// version, in the order the module adds them. Static for the process.
std::span<PyMethodDef> function_records() noexcept;

// The module's version text.
inline constexpr const char version_text[] = "0.1.0";

}  // namespace python_module
