#include "python_module/fault.hpp"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace python_module {

namespace {

constexpr const char panic_exception_doc[] =
    "The exception raised when the native code of `quorvelin_convert` faults.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException, so that it\n"
    "usually propagates all the way up the call stack and makes the Python\n"
    "interpreter exit.";
static_assert(sizeof panic_exception_doc - 1 == 235);

PyObject* panic_type = nullptr;

// The path of a source file from its "src/" folder on, for shorter reports.
std::string_view short_path(std::string_view path) {
    const auto at = path.rfind("src/");
    return at == std::string_view::npos ? path : path.substr(at);
}

}  // namespace

PyObject* panic_exception_type() {
    if (panic_type != nullptr) {
        return panic_type;
    }
    PyObject* made = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_exception_doc,
                                               PyExc_BaseException, nullptr);
    if (made == nullptr) {
        PyErr_Print();
        throw Fault("failed to create the exception type pyo3_runtime.PanicException");
    }
    // Creating the type may run Python code; keep whichever came first.
    if (panic_type == nullptr) {
        panic_type = made;
    } else {
        Py_DECREF(made);
    }
    return panic_type;
}

void report_fault(const char* message, const std::source_location* where) noexcept {
    if (message == nullptr) {
        message = "(no message)";
    }
    if (where != nullptr) {
        const auto file = short_path(where->file_name());
        std::fprintf(stderr, "quorvelin_convert: internal fault at %.*s:%u: %s\n",
                     static_cast<int>(file.size()), file.data(),
                     static_cast<unsigned>(where->line()), message);
    } else {
        std::fprintf(stderr, "quorvelin_convert: internal fault: %s\n", message);
    }
    std::fflush(stderr);
}

void fault_trap() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

}  // namespace python_module
