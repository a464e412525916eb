#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <utility>

#include "python_module/py_ref.hpp"

namespace python_module {

// The exception the interpreter's error indicator held, taken off it: its
// type, value and traceback. Every place that takes a pending exception, to
// look at it, keep it or carry it elsewhere, takes it as one of these.
class PendingError {
public:
    PendingError() noexcept = default;

    // Takes the pending exception, normalised into an instance when asked;
    // empty when none is pending.
    static PendingError take(bool normalised = false) noexcept {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        PendingError taken(type, value, traceback);
        if (normalised) taken.normalise();
        return taken;
    }

    // Makes the exception an instance of its type, where it was still held
    // as a type and a value.
    void normalise() noexcept {
        if (!type_) return;
        PyObject* type = type_.release();
        PyObject* value = value_.release();
        PyObject* traceback = traceback_.release();
        PyErr_NormalizeException(&type, &value, &traceback);
        *this = PendingError(type, value, traceback);
    }

    explicit operator bool() const noexcept { return static_cast<bool>(type_); }
    PyObject* type() const noexcept { return type_.get(); }
    PyObject* value() const noexcept { return value_.get(); }

    // A second hold on the same exception.
    PendingError share() const noexcept {
        return PendingError(PyRef::borrow(type_.get()).release(), PyRef::borrow(value_.get()).release(),
                            PyRef::borrow(traceback_.get()).release());
    }

    // Sets the interpreter's error indicator back to the exception, which
    // this then no longer holds.
    void restore() noexcept { PyErr_Restore(type_.release(), value_.release(), traceback_.release()); }

private:
    PendingError(PyObject* type, PyObject* value, PyObject* traceback) noexcept
        : type_(PyRef::steal(type)), value_(PyRef::steal(value)), traceback_(PyRef::steal(traceback)) {}

    PyRef type_, value_, traceback_;
};

// An exception the interpreter raised that must reach the caller unchanged:
// what a signal handler raised (KeyboardInterrupt, SystemExit, ...), an
// ImportError, an error of Python code the call ran that is not the call's
// own failure, MemoryError. It is taken off the interpreter when thrown, so
// that no Python code runs with an error pending while the C++ stack
// unwinds, and the entry boundary raises it again, traceback included.
class Raised : public std::exception {
public:
    // Takes the pending exception; the caller has checked that one is set.
    static Raised fetch() noexcept { return Raised(PendingError::take()); }

    const char* what() const noexcept override { return "exception raised by the interpreter"; }

    // Sets the interpreter's error indicator back to the exception.
    void restore() noexcept { error_.restore(); }

private:
    explicit Raised(PendingError error) noexcept : error_(std::move(error)) {}

    PendingError error_;
};

}  // namespace python_module
