#include "python_module/failure.hpp"

#include "python_module/fault.hpp"

namespace python_module {

Failure Failure::fetch() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return Failure(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    Failure failure(nullptr, std::string());
    failure.fetched_type_ = PyRef::steal(type);
    failure.fetched_value_ = PyRef::steal(value);
    failure.fetched_traceback_ = PyRef::steal(traceback);
    // A pending exception taken from the interpreter is checked against the
    // fault type, which exists from then on.
    panic_exception_type();
    return failure;
}

void Failure::raise() && {
    if (fetched_type_) {
        PyErr_Restore(fetched_type_.release(), fetched_value_.release(), fetched_traceback_.release());
        return;
    }
    PyRef message = PyRef::steal(
        PyUnicode_DecodeUTF8(message_.data(), static_cast<Py_ssize_t>(message_.size()), "replace"));
    if (!message) {
        return;  // the interpreter's own error (memory) stands
    }
    PyErr_SetObject(type_, message.get());
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyErr_Restore(type, value, traceback);
}

}  // namespace python_module
