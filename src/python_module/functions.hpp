#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

namespace python_module {

// The method records of convert_notebook, convert_notebook_from_json and
// version, in the order the module adds them. Static for the process.
std::span<PyMethodDef> function_records() noexcept;

#ifndef QC_VERSION
#error "QC_VERSION is defined by the build from the project version in CMakeLists.txt"
#endif

// The module's version text.
inline constexpr const char version_text[] = QC_VERSION;

}  // namespace python_module
