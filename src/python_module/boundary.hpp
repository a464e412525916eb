#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>

#include "python_module/failure.hpp"
#include "python_module/fault.hpp"
#include "python_module/py_ref.hpp"
#include "python_module/raised.hpp"

namespace python_module {

// Raises pyo3_runtime.PanicException carrying the fault's message (after
// the diagnostic on standard error) and returns null.
PyObject* raise_fault(const char* message, const std::source_location* where);

// Inside a catch block: sets the interpreter's error indicator to what the
// exception being handled stands for. An exception the interpreter raised on
// the way is raised again unchanged, memory exhaustion becomes MemoryError
// and any other C++ exception pyo3_runtime.PanicException. A fault while
// raising ends the process.
void raise_handled_exception() noexcept;

// Every call from the interpreter into the module passes here: the body's
// object is returned as a new reference, its failure is raised, and whatever
// it throws is raised as raise_handled_exception() says. Nothing thrown gets
// past this point.
template <class Body>
PyObject* run_entry(Body&& body) noexcept {
    try {
        Outcome<PyRef> outcome = body();
        if (outcome) {
            return outcome.value().release();
        }
        std::move(outcome.error()).raise();
        return nullptr;
    } catch (...) {
        raise_handled_exception();
        return nullptr;
    }
}

// A new str from UTF-8 text, copied once. When memory runs out it throws
// the interpreter's MemoryError as Raised, like every other exhaustion of
// a call; any other failure to make it is printed and the call faults.
PyRef new_str(std::string_view text);
// Throws as new_str() does for a str the interpreter failed to make.
[[noreturn]] void str_failure();

}  // namespace python_module
