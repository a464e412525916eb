#include "python_module/failure.hpp"

#include "python_module/fault.hpp"

namespace python_module {

Failure Failure::fetch() {
    PendingError error = PendingError::take(true);
    if (!error) {
        return Failure(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    Failure failure(nullptr, std::string());
    failure.fetched_ = std::move(error);
    // A pending exception taken from the interpreter is checked against the
    // fault type, which exists from then on.
    panic_exception_type();
    return failure;
}

void Failure::raise() && {
    if (fetched_) {
        fetched_.restore();
        return;
    }
    PyRef message = PyRef::steal(
        PyUnicode_DecodeUTF8(message_.data(), static_cast<Py_ssize_t>(message_.size()), "replace"));
    if (!message) {
        return;  // the interpreter's own error (memory) stands
    }
    PyErr_SetObject(type_, message.get());
    PendingError::take(true).restore();
}

}  // namespace python_module
