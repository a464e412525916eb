#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "python_module/failure.hpp"

namespace python_module {

// A function of three required parameters, each given by position or by
// keyword.
struct Signature {
    const char* function;
    std::array<const char*, 3> parameters;
};

// The argument object of each parameter, borrowed from the call.
using ArgumentSlots = std::array<PyObject*, 3>;

// Binds a fast call's arguments (with keyword names, or null) to the three
// parameters; fails with the TypeError of the first rule broken.
Outcome<ArgumentSlots> bind_arguments(const Signature& signature, PyObject* const* args,
                                      Py_ssize_t nargs, PyObject* kwnames);

// The UTF-8 text of a str argument, borrowed from the object.
Outcome<std::string_view> text_argument(PyObject* object, const char* parameter);

// None gives no text; a str gives a copy of its text.
Outcome<std::optional<std::string>> optional_text_argument(PyObject* object, const char* parameter);

}  // namespace python_module
