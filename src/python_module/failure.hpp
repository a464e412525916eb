#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "convert_engine/result.hpp"
#include "python_module/py_ref.hpp"
#include "python_module/raised.hpp"

namespace python_module {

// The texts callers see are fixed: every message (the argument TypeErrors in
// arguments.cpp, the step prefixes in dispatch.cpp and file reading, the
// reader's messages in the engine), the exception names (PanicException in
// fault.cpp) and the help texts (functions.cpp). Programs match on them word
// for word, so they are kept exactly as they are, also where a wording or a
// name looks odd or foreign to this code: rewording one breaks its callers.
//
// A failure on its way to the interpreter: an exception type with its
// message, made into an exception only when the call returns (raise), or an
// exception already taken from the interpreter, raised again unchanged.
class Failure {
public:
    static Failure type_error(std::string message) { return Failure(PyExc_TypeError, std::move(message)); }
    static Failure value_error(std::string message) { return Failure(PyExc_ValueError, std::move(message)); }
    static Failure import_error(std::string message) { return Failure(PyExc_ImportError, std::move(message)); }

    // Takes the interpreter's pending exception, or a SystemError when none
    // is pending.
    static Failure fetch();

    // Sets the interpreter's error indicator to this failure, as a normalised
    // exception instance whose one argument is the message.
    void raise() &&;

private:
    Failure(PyObject* type, std::string message) : type_(type), message_(std::move(message)) {}

    PyObject* type_ = nullptr;  // a built-in exception type (static)
    std::string message_;
    PendingError fetched_;
};

template <class T>
using Outcome = convert_engine::Result<T, Failure>;

}  // namespace python_module
