#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>
#include <string_view>

namespace python_module {

// The UTF-8 text of a str, borrowed from the object (valid while it lives).
// Empty with the interpreter's error set when the str has no UTF-8 form.
std::optional<std::string_view> utf8_view(PyObject* str);

// The UTF-8 text of a str for messages: a lone surrogate becomes U+FFFD per
// byte of its UTF-8 form instead of failing.
std::string lossy_text(PyObject* str);

// str(object) for messages, or "<unprintable T object>" when str() fails
// (its error is reported as unraisable).
std::string display_text(PyObject* object);

// The __qualname__ of the object's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* object);

}  // namespace python_module
