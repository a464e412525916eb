#include "python_module/boundary.hpp"

#include <cstring>
#include <string_view>

#include "python_module/utf8_str.hpp"

namespace python_module {

PyObject* raise_fault(const char* message, const std::source_location* where) {
    report_fault(message, where);
    PyObject* type = panic_exception_type();
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::strlen(message)), "replace"));
    if (!text) {
        return nullptr;
    }
    PyErr_SetObject(type, text.get());
    return nullptr;
}

void raise_handled_exception() noexcept {
    try {
        try {
            throw;
        } catch (Raised& raised) {
            raised.restore();
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const Fault& fault) {
            raise_fault(fault.what(), &fault.where());
        } catch (const std::exception& error) {
            raise_fault(error.what(), nullptr);
        } catch (...) {
            raise_fault("unknown internal fault", nullptr);
        }
    } catch (...) {
        fault_trap();
    }
}

PyRef new_str(std::string_view text) {
    PyRef str = PyRef::steal(str_from_utf8(text));
    if (!str) {
        str_failure();
    }
    return str;
}

void str_failure() {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) {
        throw Raised::fetch();
    }
    PyErr_Print();
    throw Fault("Python API call failed");
}

}  // namespace python_module
