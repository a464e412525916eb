#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>

#include "python_module/py_ref.hpp"

namespace python_module {

// An exception the interpreter raised that must reach the caller unchanged:
// what a signal handler raised (KeyboardInterrupt, SystemExit, ...), an
// ImportError, an error of Python code the call ran that is not the call's
// own failure, MemoryError. It is taken off the interpreter when thrown, so
// that no Python code runs with an error pending while the C++ stack
// unwinds, and the entry boundary raises it again, traceback included.
class Raised : public std::exception {
public:
    // Takes the pending exception; the caller has checked that one is set.
    static Raised fetch() noexcept {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        return Raised(type, value, traceback);
    }

    const char* what() const noexcept override { return "exception raised by the interpreter"; }

    // Sets the interpreter's error indicator back to the exception.
    void restore() noexcept {
        PyErr_Restore(type_.release(), value_.release(), traceback_.release());
    }

private:
    Raised(PyObject* type, PyObject* value, PyObject* traceback) noexcept
        : type_(PyRef::steal(type)), value_(PyRef::steal(value)), traceback_(PyRef::steal(traceback)) {}

    PyRef type_, value_, traceback_;
};

}  // namespace python_module
