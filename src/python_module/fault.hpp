#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <source_location>
#include <string>

namespace python_module {

// An internal fault of the module's own code: something that should never
// happen. The entry boundary turns it into pyo3_runtime.PanicException.
class Fault : public std::exception {
public:
    explicit Fault(std::string message,
                   std::source_location where = std::source_location::current())
        : message_(std::move(message)), where_(where) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

// The exception type pyo3_runtime.PanicException (a BaseException subclass),
// created on first use and kept for the life of the process. Borrowed.
// Throws Fault when the interpreter cannot create it.
PyObject* panic_exception_type();

// Writes the short diagnostic of a fault to standard error.
void report_fault(const char* message, const std::source_location* where) noexcept;

// The last resort when the boundary itself fails: reports and aborts.
[[noreturn]] void fault_trap() noexcept;

}  // namespace python_module
